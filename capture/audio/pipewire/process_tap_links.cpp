#include "audio/pipewire/process_tap_links.h"

#include <pipewire/pipewire.h>

#include <algorithm>
#include <string>

#include "audio/pipewire/graph_model.h"

namespace mivo::audio::pipewire {

// One link we made. The server may drop it (a port went away, the factory
// refused it); it is then forgotten at the next reconcile.
struct ProcessTapLinks::Link {
  pw_proxy* proxy = nullptr;
  spa_hook proxyListener{};
  bool gone = false;

  ~Link() {
    spa_hook_remove(&proxyListener);
    pw_proxy_destroy(proxy);
  }

  static void onRemoved(void* data) { static_cast<Link*>(data)->gone = true; }
  static void onError(void* data, int, int, const char*) { static_cast<Link*>(data)->gone = true; }
};

namespace {

// A mono stream feeds both sides; otherwise channels pair by position.
bool channelsPair(const std::string& output, const std::string& input) {
  return output == input || output == "MONO";
}

}  // namespace

ProcessTapLinks::ProcessTapLinks(pw_core* core, std::vector<pid_t> excludedProcesses)
    : core_(core), excluded_(std::move(excludedProcesses)) {}

ProcessTapLinks::~ProcessTapLinks() = default;

void ProcessTapLinks::setTarget(std::uint32_t captureNodeId) {
  if (captureNodeId == target_) return;
  links_.clear();
  target_ = captureNodeId;
}

std::map<ProcessTapLinks::PortPair, std::uint32_t> ProcessTapLinks::wantedLinks(
    const GraphModel& graph) const {
  std::map<PortPair, std::uint32_t> wanted;
  if (target_ == 0) return wanted;
  auto inputs = graph.ports(target_, false);
  for (std::uint32_t stream : graph.playbackStreams()) {
    auto process = graph.processOf(stream);
    // Not knowing whose a stream is yet, leave it until its info is in.
    if (!process || std::ranges::find(excluded_, *process) != excluded_.end()) continue;
    for (const auto& output : graph.ports(stream, true))
      for (const auto& input : inputs)
        if (channelsPair(output.channel, input.channel)) wanted[{output.id, input.id}] = stream;
  }
  return wanted;
}

void ProcessTapLinks::reconcile(const GraphModel& graph) {
  auto wanted = wantedLinks(graph);
  std::erase_if(links_, [&](const auto& entry) {
    return entry.second->gone || !wanted.contains(entry.first);
  });
  for (const auto& [ports, stream] : wanted)
    if (!links_.contains(ports)) createLink(ports, stream);
}

void ProcessTapLinks::createLink(const PortPair& ports, std::uint32_t streamNodeId) {
  static const pw_proxy_events events = [] {
    pw_proxy_events e{};
    e.version = PW_VERSION_PROXY_EVENTS;
    e.removed = &Link::onRemoved;
    e.error = &Link::onError;
    return e;
  }();
  auto ids = [](std::uint32_t id) { return std::to_string(id); };
  pw_properties* props = pw_properties_new(
      PW_KEY_LINK_OUTPUT_NODE, ids(streamNodeId).c_str(), PW_KEY_LINK_OUTPUT_PORT,
      ids(ports.first).c_str(), PW_KEY_LINK_INPUT_NODE, ids(target_).c_str(),
      PW_KEY_LINK_INPUT_PORT, ids(ports.second).c_str(),
      // Gone with our connection, also when the process dies.
      PW_KEY_OBJECT_LINGER, "false", nullptr);
  auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(
      core_, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
  pw_properties_free(props);
  if (proxy == nullptr) return;
  auto link = std::make_unique<Link>();
  link->proxy = proxy;
  pw_proxy_add_listener(proxy, &link->proxyListener, &events, link.get());
  links_.emplace(ports, std::move(link));
}

}  // namespace mivo::audio::pipewire
