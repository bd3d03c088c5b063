// Which nodes play the host's sound: that of every process of the host's
// application (see HostApplication) and, for a sandboxed host, of every
// process of the same sandboxed application. Made once per graph change.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <optional>

#include "audio/pipewire/graph_model.h"
#include "audio/pipewire/host_application.h"
#include "audio/pipewire/process_table.h"

namespace mivo::audio::pipewire {

class HostSound {
 public:
  // host is a process of the application, numbered as this process numbers
  // processes (getpid() for its own), as is thisProcess.
  HostSound(const ProcessTable& table, pid_t host, pid_t thisProcess = getpid());

  // Whether the node's owner, beside what the server knows of this
  // process's own connection, is the host's; nullopt while either is
  // unknown.
  std::optional<bool> owns(const std::optional<NodeOwner>& node,
                           const std::optional<NodeOwner>& own) const;

 private:
  bool ownsNative(const NodeOwner& node, const NodeOwner& own) const;
  bool ownsThroughPulse(const NodeOwner& node) const;

  pid_t host_;
  bool hostIsThisProcess_;
  std::optional<pid_t> tableSelf_;  // this process, as the table numbers it
  bool tableNumbersAsThisProcess_;
  HostApplication application_;
};

}  // namespace mivo::audio::pipewire
