#include "audio/pipewire/process_tap_links.h"

#include <algorithm>
#include <string>

#include <pipewire/pipewire.h>

#include "audio/pipewire/graph_model.h"
#include "audio/pipewire/host_sound.h"
#include "audio/pipewire/proc_fs_table.h"
#include "audio/pipewire/sound_origins.h"

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

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::ranges::find(list, item) != list.end();
}

// Whether a port of a stream whose own layout is known carries its own
// audio, and not a channel that PipeWire made up for its output: a stereo
// (or mono) stream on a 5.1 output also feeds the centre, the LFE and the
// rears, upmixed from its front pair, and capturing those as well would mix
// the same sound in twice (+3.5 dB). FL and FR always carry it.
bool carriesOwnAudio(const std::optional<std::vector<std::string>>& own,
                     const std::string& channel) {
  if (!own || channel == "FL" || channel == "FR" || channel == "MONO") return true;
  return own->size() > 2 && contains(*own, channel);
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

// Every node where a sound starts (see SoundOrigins) that is not of an
// excluded process. Each output port goes to the capture input of its
// channel (a port without one takes the channel of the sink port it feeds;
// MONO goes to both front inputs), and the converter of the capture node
// mixes the inputs down to stereo.
std::map<ProcessTapLinks::PortPair, std::uint32_t> ProcessTapLinks::wantedLinks(
    const GraphModel& graph) const {
  std::map<PortPair, std::uint32_t> wanted;
  if (target_ == 0) return wanted;
  std::map<std::string, std::uint32_t> inputs;  // channel -> our input port
  for (const auto& input : graph.ports(target_, false)) inputs.emplace(input.channel, input.id);
  // The processes are read afresh at each graph change, and once in it.
  const ProcFsTable processes;
  std::vector<HostSound> hosts;
  for (pid_t process : excluded_) hosts.emplace_back(processes, process);
  auto foreign = [&](std::uint32_t node) { return isForeign(graph, hosts, node); };
  SoundOrigins origins(graph, target_, [&](std::uint32_t node) { return !foreign(node); });
  const auto& feeds = origins.sinkChannelsFed();
  for (std::uint32_t node : graph.nodeIds()) {
    if (!origins.isOrigin(node) || !foreign(node)) continue;
    auto own = graph.ownChannels(node);
    for (const auto& output : graph.ports(node, true)) {
      std::vector<std::string> channels;
      if (!output.channel.empty()) {
        channels.push_back(output.channel);
      } else if (auto fed = feeds.find(output.id); fed != feeds.end()) {
        channels = fed->second;
      }
      for (const std::string& channel : channels) {
        if (!carriesOwnAudio(own, channel)) continue;
        for (const char* side : {"FL", "FR"})
          if (channel == "MONO" && inputs.contains(side))
            wanted[{output.id, inputs.at(side)}] = node;
        if (auto input = inputs.find(channel); input != inputs.end())
          wanted[{output.id, input->second}] = node;
      }
    }
  }
  return wanted;
}

// Not knowing whose a node is yet, it is left until its info is in.
bool ProcessTapLinks::isForeign(const GraphModel& graph, const std::vector<HostSound>& hosts,
                                std::uint32_t node) {
  const auto owner = graph.owner(node);
  const auto own = graph.ownConnection();
  for (const HostSound& host : hosts) {
    auto owns = host.owns(owner, own);
    if (!owns || *owns) return false;
  }
  return true;
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
  pw_properties* props =
      pw_properties_new(PW_KEY_LINK_OUTPUT_NODE, ids(streamNodeId).c_str(), PW_KEY_LINK_OUTPUT_PORT,
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
