#include "audio/pipewire/graph_model.h"

#include <charconv>
#include <cstring>

#include <pipewire/pipewire.h>
#include <spa/debug/types.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/audio/type-info.h>
#include <spa/param/param.h>

namespace mivo::audio::pipewire {

namespace {

constexpr std::string_view kPlaybackStreamClass = "Stream/Output/Audio";
constexpr std::string_view kSinkClass = "Audio/Sink";
// The client API that the pulse server gives the connection it opens for
// each of its own clients, and the application id it records for one that
// it found in a sandbox.
constexpr std::string_view kPulseServerApi = "pipewire-pulse";
constexpr const char* kSandboxAppIdKey = "pipewire.access.portal.app_id";

std::string text(const spa_dict* props, const char* key) {
  const char* value = props != nullptr ? spa_dict_lookup(props, key) : nullptr;
  return value != nullptr ? value : "";
}

std::optional<std::uint32_t> number(const spa_dict* props, const char* key) {
  std::string value = text(props, key);
  std::uint32_t result = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), result);
  if (value.empty() || error != std::errc() || end != value.data() + value.size())
    return std::nullopt;
  return result;
}

std::optional<pid_t> pidIn(const spa_dict* props, const char* key) {
  auto value = number(props, key);
  if (!value) return std::nullopt;
  return pid_t(*value);
}

}  // namespace

// A bound node or client proxy and what its info told.
struct GraphModel::Bound {
  GraphModel* owner = nullptr;
  Node* node = nullptr;  // the node this is the proxy of; none for a client
  pw_proxy* proxy = nullptr;
  spa_hook objectListener{};
  bool hasInfo = false;
  // What the client says of its process, numbered in its own PID namespace.
  std::optional<pid_t> reportedPid;
  std::string programName;  // the file name of the program it runs
  // A client's credentials as the server read them from its socket.
  std::optional<pid_t> serverPid;
  std::string sandboxAppId;
  bool speaksForPulseClients = false;
  std::optional<std::uint32_t> rate;
  std::optional<std::vector<std::string>> channels;
  std::uint32_t declaredChannels = 0;

  ~Bound() {
    if (proxy == nullptr) return;
    spa_hook_remove(&objectListener);
    pw_proxy_destroy(proxy);
  }

  template <typename T>
  void update(T& field, T value) {
    if (field == value) return;
    field = std::move(value);
    owner->changed_();
  }

  // An info event carries the properties only when they changed.
  static void onNodeInfo(void* data, const pw_node_info* info) {
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) == 0) return;
    auto* self = static_cast<Bound*>(data);
    self->update(self->reportedPid, pidIn(info->props, PW_KEY_APP_PROCESS_ID));
    self->update(self->programName, text(info->props, PW_KEY_APP_PROCESS_BINARY));
    self->update(self->node->linkGroup, text(info->props, PW_KEY_NODE_LINK_GROUP));
    self->update(self->node->readsSinkMonitor,
                 text(info->props, PW_KEY_STREAM_CAPTURE_SINK) == "true");
    // A sink names its channel count before it runs (and has a format).
    if (auto channels = number(info->props, PW_KEY_AUDIO_CHANNELS))
      self->declaredChannels = *channels;
    self->update(self->hasInfo, true);
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
        const char* name = spa_debug_type_find_short_name(spa_type_audio_channel, raw.position[i]);
        channels->push_back(name != nullptr ? name : "");
      }
    }
    self->update(self->channels, std::move(channels));
  }
  static void onClientInfo(void* data, const pw_client_info* info) {
    if ((info->change_mask & PW_CLIENT_CHANGE_MASK_PROPS) == 0) return;
    auto* self = static_cast<Bound*>(data);
    self->update(self->reportedPid, pidIn(info->props, PW_KEY_APP_PROCESS_ID));
    self->update(self->programName, text(info->props, PW_KEY_APP_PROCESS_BINARY));
    self->update(self->serverPid, pidIn(info->props, PW_KEY_SEC_PID));
    self->update(self->sandboxAppId, text(info->props, kSandboxAppIdKey));
    self->update(self->speaksForPulseClients,
                 text(info->props, PW_KEY_CLIENT_API) == kPulseServerApi);
    self->update(self->hasInfo, true);
  }
};

GraphModel::GraphModel(pw_core* core, pw_registry* registry, std::function<void()> changed)
    : core_(core), registry_(registry), changed_(std::move(changed)) {}

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

// Every node is bound: the link group and the monitor flag that mark a
// relay come only with a node's info, not with its global.
void GraphModel::addNode(std::uint32_t id, const spa_dict* props) {
  Node& node = nodes_.insert_or_assign(id, Node{}).first->second;
  node.name = text(props, PW_KEY_NODE_NAME);
  node.mediaClass = text(props, PW_KEY_MEDIA_CLASS);
  node.linkGroup = text(props, PW_KEY_NODE_LINK_GROUP);
  node.readsSinkMonitor = text(props, PW_KEY_STREAM_CAPTURE_SINK) == "true";
  node.clientId = number(props, PW_KEY_CLIENT_ID).value_or(0);
  if (registry_ != nullptr) bindNode(id, node);
  changed_();
}

void GraphModel::bindNode(std::uint32_t id, Node& node) {
  static const pw_node_events events = [] {
    pw_node_events e{};
    e.version = PW_VERSION_NODE_EVENTS;
    e.info = &Bound::onNodeInfo;
    e.param = &Bound::onNodeParam;
    return e;
  }();
  node.bound = std::make_unique<Bound>();
  node.bound->owner = this;
  node.bound->node = &node;
  node.bound->proxy = static_cast<pw_proxy*>(
      pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
  if (node.bound->proxy == nullptr) return;
  auto* proxyNode = reinterpret_cast<pw_node*>(node.bound->proxy);
  pw_node_add_listener(proxyNode, &node.bound->objectListener, &events, node.bound.get());
  // A sink's format gives its rate; a stream's, the layout it plays.
  if (node.mediaClass == kPlaybackStreamClass || node.mediaClass == kSinkClass) {
    std::uint32_t formatParam = SPA_PARAM_Format;
    pw_node_subscribe_params(proxyNode, &formatParam, 1);
  }
}

void GraphModel::addClient(std::uint32_t id) {
  if (registry_ == nullptr) return;
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

const GraphModel::Node* GraphModel::node(std::uint32_t nodeId) const {
  auto found = nodes_.find(nodeId);
  return found == nodes_.end() ? nullptr : &found->second;
}

const std::string& GraphModel::mediaClass(std::uint32_t nodeId) const {
  static const std::string none;
  const Node* found = node(nodeId);
  return found != nullptr ? found->mediaClass : none;
}

const std::string& GraphModel::linkGroup(std::uint32_t nodeId) const {
  static const std::string none;
  const Node* found = node(nodeId);
  return found != nullptr ? found->linkGroup : none;
}

bool GraphModel::readsSinkMonitor(std::uint32_t nodeId) const {
  const Node* found = node(nodeId);
  return found != nullptr && found->readsSinkMonitor;
}

const GraphModel::Bound* GraphModel::clientInfo(std::uint32_t clientId) const {
  auto client = clients_.find(clientId);
  if (client == clients_.end() || !client->second.bound || !client->second.bound->hasInfo)
    return nullptr;
  return client->second.bound.get();
}

// The server announces the library's own connection as a client too.
std::optional<std::uint32_t> GraphModel::ownClientId() const {
  if (core_ == nullptr) return std::nullopt;
  std::uint32_t id = pw_proxy_get_bound_id(reinterpret_cast<pw_proxy*>(pw_core_get_client(core_)));
  if (id == SPA_ID_INVALID) return std::nullopt;
  return id;
}

// Whose a node is, by what the server knows of its connection. A native
// client is the process whose credentials the server read from its socket
// (pipewire.sec.pid, numbered in the server's PID namespace); what a client
// reports of itself is numbered in its own namespace, and in a sandbox a
// foreign process may report this process's local pid. Every node made on
// the library's own connection is this process's.
// A stream made through the pulse server belongs to a connection of that
// server, which reads its pulse client's credentials only to tell a
// sandbox and publishes no more than the sandbox's application id: such a
// stream is known by the pid and program its pulse client reported.
std::optional<NodeOwner> GraphModel::owner(std::uint32_t nodeId) const {
  const Node* found = node(nodeId);
  auto own = ownClientId();
  if (found == nullptr || !own) return std::nullopt;
  NodeOwner owner;
  if (found->clientId == *own) {
    owner.onOwnConnection = true;
    return owner;
  }
  // A node whose client has gone (an object left to linger) is no one's.
  if (!clients_.contains(found->clientId)) return owner;
  const Bound* client = clientInfo(found->clientId);
  if (client == nullptr) return std::nullopt;
  owner.sandboxAppId = client->sandboxAppId;
  owner.programName = client->programName;
  if (client->speaksForPulseClients) {
    if (!found->bound || !found->bound->hasInfo) return std::nullopt;
    owner.throughPulseServer = true;
    owner.pid = found->bound->reportedPid ? found->bound->reportedPid : client->reportedPid;
    if (!found->bound->programName.empty()) owner.programName = found->bound->programName;
    return owner;
  }
  // A server that cannot read credentials leaves only what clients report.
  owner.pid = client->serverPid ? client->serverPid : client->reportedPid;
  return owner;
}

std::optional<NodeOwner> GraphModel::ownConnection() const {
  auto own = ownClientId();
  const Bound* client = own ? clientInfo(*own) : nullptr;
  if (client == nullptr) return std::nullopt;
  NodeOwner owner;
  owner.onOwnConnection = true;
  owner.pid = client->serverPid ? client->serverPid : client->reportedPid;
  owner.sandboxAppId = client->sandboxAppId;
  return owner;
}

std::vector<PortInfo> GraphModel::ports(std::uint32_t nodeId, bool outputs) const {
  std::vector<PortInfo> result;
  for (const auto& [id, port] : ports_)
    if (port.nodeId == nodeId && port.isOutput == outputs && !port.isMonitor)
      result.push_back(port);
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
        (node.bound->declaredChannels > 2 ||
         (node.bound->channels && node.bound->channels->size() > 2)))
      return true;
  return false;
}

std::optional<std::uint32_t> GraphModel::sinkRate(const std::string& name) const {
  for (const auto& [id, node] : nodes_)
    if (node.mediaClass == kSinkClass && node.name == name && node.bound) return node.bound->rate;
  return std::nullopt;
}

}  // namespace mivo::audio::pipewire
