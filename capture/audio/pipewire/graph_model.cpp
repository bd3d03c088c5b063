#include "audio/pipewire/graph_model.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/param.h>
#include <spa/debug/types.h>
#include <spa/param/audio/type-info.h>

#include <charconv>
#include <cstring>

namespace mivo::audio::pipewire {

namespace {

constexpr std::string_view kPlaybackStreamClass = "Stream/Output/Audio";
constexpr std::string_view kSinkClass = "Audio/Sink";

std::string text(const spa_dict* props, const char* key) {
  const char* value = props != nullptr ? spa_dict_lookup(props, key) : nullptr;
  return value != nullptr ? value : "";
}

std::optional<std::uint32_t> number(const spa_dict* props, const char* key) {
  std::string value = text(props, key);
  std::uint32_t result = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), result);
  if (value.empty() || error != std::errc() || end != value.data() + value.size()) return std::nullopt;
  return result;
}

}  // namespace

// A bound node or client proxy and what its info told.
struct GraphModel::Bound {
  GraphModel* owner = nullptr;
  pw_proxy* proxy = nullptr;
  spa_hook objectListener{};
  std::optional<pid_t> pid;
  std::optional<std::uint32_t> rate;
  std::optional<std::vector<std::string>> channels;
  std::uint32_t declaredChannels = 0;

  ~Bound() {
    if (proxy == nullptr) return;
    spa_hook_remove(&objectListener);
    pw_proxy_destroy(proxy);
  }

  // A client is known by the connecting process (pipewire.sec.pid) unless it
  // names its application's; a node only by application.process.id (for a
  // pulse stream its client is the pulse server).
  void takeProcessId(const spa_dict* props, bool connectionPidCounts) {
    auto id = number(props, PW_KEY_APP_PROCESS_ID);
    if (!id && connectionPidCounts) id = number(props, PW_KEY_SEC_PID);
    if (id && pid != pid_t(*id)) {
      pid = pid_t(*id);
      owner->changed_();
    }
  }

  static void onNodeInfo(void* data, const pw_node_info* info) {
    auto* self = static_cast<Bound*>(data);
    self->takeProcessId(info->props, false);
    // A sink names its channel count before it runs (and has a format).
    if (auto channels = number(info->props, PW_KEY_AUDIO_CHANNELS)) self->declaredChannels = *channels;
  }
  static void onNodeParam(void* data, int, std::uint32_t id, std::uint32_t, std::uint32_t,
                          const spa_pod* param) {
    if (id != SPA_PARAM_Format || param == nullptr) return;
    auto* self = static_cast<Bound*>(data);
    spa_audio_info_raw raw{};
    if (spa_format_audio_raw_parse(param, &raw) < 0) return;
    if (raw.rate > 0) self->rate = raw.rate;
    std::optional<std::vector<std::string>> channels;
    if (raw.channels > 0 && raw.channels <= SPA_AUDIO_MAX_CHANNELS &&
        !SPA_FLAG_IS_SET(raw.flags, SPA_AUDIO_FLAG_UNPOSITIONED)) {
      channels.emplace();
      for (std::uint32_t i = 0; i < raw.channels; ++i) {
        const char* name =
            spa_debug_type_find_short_name(spa_type_audio_channel, raw.position[i]);
        channels->push_back(name != nullptr ? name : "");
      }
    }
    if (channels != self->channels) {
      self->channels = std::move(channels);
      self->owner->changed_();
    }
  }
  static void onClientInfo(void* data, const pw_client_info* info) {
    static_cast<Bound*>(data)->takeProcessId(info->props, true);
  }
};

GraphModel::GraphModel(pw_registry* registry, std::function<void()> changed)
    : registry_(registry), changed_(std::move(changed)) {}

GraphModel::~GraphModel() = default;

void GraphModel::addGlobal(std::uint32_t id, const char* type, const spa_dict* props) {
  if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0)
    addNode(id, props);
  else if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0)
    addClient(id);
  else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0)
    addPort(id, props);
  else if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0)
    addLink(id, props);
}

void GraphModel::removeGlobal(std::uint32_t id) {
  if (nodes_.erase(id) + clients_.erase(id) + ports_.erase(id) + links_.erase(id) > 0) changed_();
}

void GraphModel::addNode(std::uint32_t id, const spa_dict* props) {
  Node node;
  node.name = text(props, PW_KEY_NODE_NAME);
  node.mediaClass = text(props, PW_KEY_MEDIA_CLASS);
  node.clientId = number(props, PW_KEY_CLIENT_ID).value_or(0);
  bool isSink = node.mediaClass == kSinkClass;
  if (node.mediaClass == kPlaybackStreamClass || isSink) {
    static const pw_node_events events = [] {
      pw_node_events e{};
      e.version = PW_VERSION_NODE_EVENTS;
      e.info = &Bound::onNodeInfo;
      e.param = &Bound::onNodeParam;
      return e;
    }();
    node.bound = std::make_unique<Bound>();
    node.bound->owner = this;
    node.bound->proxy = static_cast<pw_proxy*>(
        pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (node.bound->proxy != nullptr) {
      auto* proxyNode = reinterpret_cast<pw_node*>(node.bound->proxy);
      pw_node_add_listener(proxyNode, &node.bound->objectListener, &events, node.bound.get());
      // A sink's format gives its rate; a stream's, the layout it plays.
      std::uint32_t formatParam = SPA_PARAM_Format;
      pw_node_subscribe_params(proxyNode, &formatParam, 1);
    }
  }
  nodes_.insert_or_assign(id, std::move(node));
  changed_();
}

void GraphModel::addClient(std::uint32_t id) {
  static const pw_client_events events = [] {
    pw_client_events e{};
    e.version = PW_VERSION_CLIENT_EVENTS;
    e.info = &Bound::onClientInfo;
    return e;
  }();
  Client client;
  client.bound = std::make_unique<Bound>();
  client.bound->owner = this;
  client.bound->proxy = static_cast<pw_proxy*>(
      pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Client, PW_VERSION_CLIENT, 0));
  if (client.bound->proxy == nullptr) return;
  pw_client_add_listener(reinterpret_cast<pw_client*>(client.bound->proxy),
                         &client.bound->objectListener, &events, client.bound.get());
  clients_.insert_or_assign(id, std::move(client));
}

void GraphModel::addPort(std::uint32_t id, const spa_dict* props) {
  auto nodeId = number(props, PW_KEY_NODE_ID);
  if (!nodeId) return;
  PortInfo port;
  port.id = id;
  port.nodeId = *nodeId;
  port.isOutput = text(props, PW_KEY_PORT_DIRECTION) == "out";
  port.isMonitor = text(props, PW_KEY_PORT_MONITOR) == "true";
  port.channel = text(props, PW_KEY_AUDIO_CHANNEL);
  ports_.insert_or_assign(id, port);
  changed_();
}

void GraphModel::addLink(std::uint32_t id, const spa_dict* props) {
  LinkInfo link;
  link.outputNode = number(props, PW_KEY_LINK_OUTPUT_NODE).value_or(0);
  link.outputPort = number(props, PW_KEY_LINK_OUTPUT_PORT).value_or(0);
  link.inputNode = number(props, PW_KEY_LINK_INPUT_NODE).value_or(0);
  link.inputPort = number(props, PW_KEY_LINK_INPUT_PORT).value_or(0);
  if (link.outputPort == 0 || link.inputPort == 0) return;
  links_.insert_or_assign(id, link);
  changed_();
}

std::vector<std::uint32_t> GraphModel::nodeIds() const {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, node] : nodes_) ids.push_back(id);
  return ids;
}

bool GraphModel::isPlaybackStream(std::uint32_t nodeId) const {
  auto node = nodes_.find(nodeId);
  return node != nodes_.end() && node->second.mediaClass == kPlaybackStreamClass;
}

bool GraphModel::isSink(std::uint32_t nodeId) const {
  auto node = nodes_.find(nodeId);
  return node != nodes_.end() && node->second.mediaClass == kSinkClass;
}

std::optional<std::vector<std::string>> GraphModel::ownChannels(std::uint32_t nodeId) const {
  auto node = nodes_.find(nodeId);
  if (node == nodes_.end() || !node->second.bound) return std::nullopt;
  return node->second.bound->channels;
}

const PortInfo* GraphModel::port(std::uint32_t portId) const {
  auto port = ports_.find(portId);
  return port == ports_.end() ? nullptr : &port->second;
}

std::optional<pid_t> GraphModel::processOf(std::uint32_t nodeId) const {
  auto node = nodes_.find(nodeId);
  if (node == nodes_.end()) return std::nullopt;
  if (node->second.bound && node->second.bound->pid) return node->second.bound->pid;
  auto client = clients_.find(node->second.clientId);
  if (client == clients_.end() || !client->second.bound) return std::nullopt;
  return client->second.bound->pid;
}

std::vector<PortInfo> GraphModel::ports(std::uint32_t nodeId, bool outputs) const {
  std::vector<PortInfo> result;
  for (const auto& [id, port] : ports_)
    if (port.nodeId == nodeId && port.isOutput == outputs && !port.isMonitor) result.push_back(port);
  return result;
}

bool GraphModel::hasSink(const std::string& name) const {
  for (const auto& [id, node] : nodes_)
    if (node.mediaClass == kSinkClass && node.name == name) return true;
  return false;
}

bool GraphModel::hasSurroundSink() const {
  for (const auto& [id, node] : nodes_)
    if (node.mediaClass == kSinkClass && node.bound &&
        (node.bound->declaredChannels > 2 || (node.bound->channels && node.bound->channels->size() > 2)))
      return true;
  return false;
}

std::optional<std::uint32_t> GraphModel::sinkRate(const std::string& name) const {
  for (const auto& [id, node] : nodes_)
    if (node.mediaClass == kSinkClass && node.name == name && node.bound) return node.bound->rate;
  return std::nullopt;
}

}  // namespace mivo::audio::pipewire
