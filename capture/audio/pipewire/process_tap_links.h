// A process tap: the links from every node where a sound starts that is not
// of an excluded process's application (see HostSound) into one capture
// node. The streams keep their own links, so the
// audio still plays where it played; PipeWire sums what arrives at an input
// port, sample-aligned, in the same cycle.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

struct pw_core;

namespace mivo::audio::pipewire {

class GraphModel;
class HostSound;

class ProcessTapLinks {
 public:
  ProcessTapLinks(pw_core* core, std::vector<pid_t> excludedProcesses);
  ~ProcessTapLinks();
  ProcessTapLinks(const ProcessTapLinks&) = delete;
  ProcessTapLinks& operator=(const ProcessTapLinks&) = delete;

  // The capture node the streams are linked into; 0 drops every link.
  void setTarget(std::uint32_t captureNodeId);
  std::uint32_t target() const { return target_; }

  // Makes the links match the graph. Call after a core sync round trip, not
  // on every registry event: a stream that is ending would otherwise get a
  // link to a port that is already gone.
  void reconcile(const GraphModel& graph);

 private:
  struct Link;
  using PortPair = std::pair<std::uint32_t, std::uint32_t>;  // output port, input port

  std::map<PortPair, std::uint32_t> wantedLinks(const GraphModel& graph) const;
  static bool isForeign(const GraphModel& graph, const std::vector<HostSound>& hosts,
                        std::uint32_t node);
  void createLink(const PortPair& ports, std::uint32_t streamNodeId);

  pw_core* core_;
  std::vector<pid_t> excluded_;
  std::uint32_t target_ = 0;
  std::map<PortPair, std::unique_ptr<Link>> links_;
};

}  // namespace mivo::audio::pipewire
