#include "audio/pipewire/sound_origins.h"

#include <string_view>

#include "audio/pipewire/graph_model.h"

namespace mivo::audio::pipewire {

namespace {

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Classes by their family: "Audio/Source/Virtual" is a source too.
bool isSourceClass(const std::string& mediaClass) { return startsWith(mediaClass, "Audio/Source"); }
bool isCaptureStreamClass(const std::string& mediaClass) {
  return startsWith(mediaClass, "Stream/Input");
}

}  // namespace

SoundOrigins::SoundOrigins(const GraphModel& graph, std::uint32_t captureNode,
                           std::function<bool(std::uint32_t)> isHosts)
    : graph_(graph), captureNode_(captureNode), isHosts_(std::move(isHosts)) {
  for (const auto& [id, link] : graph.links()) {
    if (link.inputNode == captureNode || link.outputNode == captureNode) continue;
    if (link.outputNode != link.inputNode) linkedFrom_[link.inputNode].insert(link.outputNode);
    if (!graph.isSink(link.inputNode)) continue;
    feedsSink_.insert(link.outputNode);
    if (const PortInfo* sinkPort = graph.port(link.inputPort))
      sinkChannelsFed_[link.outputPort].push_back(sinkPort->channel);
  }
  for (std::uint32_t node : graph.nodeIds())
    if (const std::string& group = graph.linkGroup(node); !group.empty())
      groups_[group].push_back(node);
  findOrigins();
}

// A playback stream by its class, or any other node whose outputs feed a
// sink (a JACK client under pw-jack has no class).
bool SoundOrigins::plays(std::uint32_t node) const {
  return node != captureNode_ && !graph_.isSink(node) &&
         (graph_.isPlaybackStream(node) || feedsSink_.contains(node));
}

// A node that passes on sound it takes from the graph: one of the nodes of
// a filter or virtual device (their link group), a node whose inputs are
// linked, or a stream that reads a sink's monitor.
bool SoundOrigins::isRelay(std::uint32_t node) const {
  if (graph_.readsSinkMonitor(node) || linkedFrom_.contains(node)) return true;
  auto group = groups_.find(graph_.linkGroup(node));
  return group != groups_.end() && group->second.size() > 1;
}

// The halves of a node's link group that take the sound it passes on. The
// server's filters and virtual devices pair a capture half (a sink, or a
// stream that captures a source or a sink's monitor) with a playback half (a
// playback stream, or a source). An echo canceller has two pairs: what is
// played into its sink goes on to its playback stream, the microphone's
// capture to its source; so a playback half takes from the sinks first, a
// source from the capture streams that do not read a monitor.
std::vector<std::uint32_t> SoundOrigins::groupHalvesFeeding(std::uint32_t node) const {
  const std::string& ownClass = graph_.mediaClass(node);
  auto group = groups_.find(graph_.linkGroup(node));
  if (graph_.isSink(node) || isCaptureStreamClass(ownClass) || group == groups_.end()) return {};
  std::vector<std::uint32_t> sinks, monitorReaders, otherCaptures;
  for (std::uint32_t member : group->second) {
    if (member == node) continue;
    if (graph_.isSink(member))
      sinks.push_back(member);
    else if (isCaptureStreamClass(graph_.mediaClass(member)))
      (graph_.readsSinkMonitor(member) ? monitorReaders : otherCaptures).push_back(member);
  }
  const auto order =
      isSourceClass(ownClass)
          ? std::vector<const std::vector<std::uint32_t>*>{&otherCaptures, &monitorReaders, &sinks}
          : std::vector<const std::vector<std::uint32_t>*>{&sinks, &monitorReaders, &otherCaptures};
  for (const auto* halves : order)
    if (!halves->empty()) return *halves;
  return {};
}

std::vector<std::uint32_t> SoundOrigins::feeders(std::uint32_t node) const {
  std::vector<std::uint32_t> result = groupHalvesFeeding(node);
  if (auto linked = linkedFrom_.find(node); linked != linkedFrom_.end())
    result.insert(result.end(), linked->second.begin(), linked->second.end());
  return result;
}

// What is in a sink was played into it, by nodes that are judged
// themselves; a node that plays is captured at itself if its sound starts
// there; anything else that is not a relay (a microphone) is where a new
// sound starts. A node of the host's is the host's sound, whatever it is.
void SoundOrigins::walkUpstream(std::uint32_t node, std::set<std::uint32_t>& visited,
                                Upstream& found) const {
  if (graph_.isSink(node) || !visited.insert(node).second) return;
  if (isHosts_ && isHosts_(node)) {
    found.hostSound = true;
    return;
  }
  if (plays(node)) return;
  if (!isRelay(node)) {
    found.uncapturedStarts.insert(node);
    return;
  }
  for (std::uint32_t feeder : feeders(node)) walkUpstream(feeder, visited, found);
}

SoundOrigins::Upstream SoundOrigins::upstreamOf(std::uint32_t relay) const {
  Upstream found;
  std::set<std::uint32_t> visited{relay};
  for (std::uint32_t feeder : feeders(relay)) walkUpstream(feeder, visited, found);
  return found;
}

void SoundOrigins::findOrigins() {
  for (std::uint32_t node : graph_.nodeIds()) {
    if (!plays(node)) continue;
    if (!isRelay(node)) {
      origins_.insert(node);
      continue;
    }
    Upstream upstream = upstreamOf(node);
    if (!upstream.hostSound && !upstream.uncapturedStarts.empty())
      origins_.insert(node);
    else if (upstream.hostSound)
      origins_.insert(upstream.uncapturedStarts.begin(), upstream.uncapturedStarts.end());
  }
}

bool SoundOrigins::isOrigin(std::uint32_t node) const { return origins_.contains(node); }

}  // namespace mivo::audio::pipewire
