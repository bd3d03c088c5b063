// What the library knows of the server's graph: nodes, the clients that own
// them, their ports and the links between ports, kept from registry events.
// Nodes and clients are bound to learn whose a node is and whether it
// relays sound (and a playback stream its own channel layout, a sink its
// sample rate). A model without a core and registry keeps only what the
// globals announce and binds nothing.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pw_core;
struct pw_registry;
struct spa_dict;

namespace mivo::audio::pipewire {

struct PortInfo {
  std::uint32_t id = 0;
  std::uint32_t nodeId = 0;
  bool isOutput = false;
  bool isMonitor = false;
  std::string channel;  // "FL", "FR", "MONO", ...; empty for a JACK port
};

// What the server knows of whose a node is.
struct NodeOwner {
  bool onOwnConnection = false;  // made on the library's own connection
  // Made by the pulse server for one of its clients.
  bool throughPulseServer = false;
  // A native client's process as the server read it from the socket,
  // numbered in the server's PID namespace (what the client reports, from a
  // server that cannot read credentials); a pulse client's, as it reported
  // it, numbered in its own namespace. None for a node whose client is gone.
  std::optional<pid_t> pid;
  std::string programName;   // the program the client names, "" when none
  std::string sandboxAppId;  // the sandboxed application's id, "" when none
};

struct LinkInfo {
  std::uint32_t outputNode = 0;
  std::uint32_t outputPort = 0;
  std::uint32_t inputNode = 0;
  std::uint32_t inputPort = 0;
};

class GraphModel {
 public:
  // changed runs on the loop thread after anything the links depend on
  // changed. core is the connection whose own nodes the model recognises.
  GraphModel(pw_core* core, pw_registry* registry, std::function<void()> changed);
  ~GraphModel();
  GraphModel(const GraphModel&) = delete;
  GraphModel& operator=(const GraphModel&) = delete;

  // Registry events, passed on by the session.
  void addGlobal(std::uint32_t id, const char* type, const spa_dict* props);
  void removeGlobal(std::uint32_t id);

  std::vector<std::uint32_t> nodeIds() const;
  // Nodes that play audio by their class (Stream/Output/Audio).
  bool isPlaybackStream(std::uint32_t nodeId) const;
  bool isSink(std::uint32_t nodeId) const;
  const std::string& mediaClass(std::uint32_t nodeId) const;
  // The node.link-group of a node: the nodes of one filter or virtual device
  // (a loopback, an echo canceller, a combine sink) share one. Empty when
  // none.
  const std::string& linkGroup(std::uint32_t nodeId) const;
  // A capture stream that reads a sink's monitor (stream.capture.sink).
  bool readsSinkMonitor(std::uint32_t nodeId) const;
  // Whose a node is, by what the server knows of its connection; nullopt
  // while that is not known yet. See graph_model.cpp.
  std::optional<NodeOwner> owner(std::uint32_t nodeId) const;
  // The same of the library's own connection: this process.
  std::optional<NodeOwner> ownConnection() const;
  // The channel positions of a playback stream's own format (what its
  // application plays, before PipeWire converts it to its output's layout);
  // nullopt while unknown.
  std::optional<std::vector<std::string>> ownChannels(std::uint32_t nodeId) const;
  std::vector<PortInfo> ports(std::uint32_t nodeId, bool outputs) const;
  const PortInfo* port(std::uint32_t portId) const;
  const std::map<std::uint32_t, LinkInfo>& links() const { return links_; }
  bool hasSink(const std::string& name) const;
  // Some sink has more than two channels.
  bool hasSurroundSink() const;
  // The sink's negotiated sample rate; nullopt when unknown.
  std::optional<std::uint32_t> sinkRate(const std::string& name) const;

 private:
  struct Bound;
  struct Node {
    std::string name;
    std::string mediaClass;
    std::string linkGroup;
    bool readsSinkMonitor = false;
    std::uint32_t clientId = 0;
    std::unique_ptr<Bound> bound;
  };
  struct Client {
    std::unique_ptr<Bound> bound;
  };

  void addNode(std::uint32_t id, const spa_dict* props);
  void bindNode(std::uint32_t id, Node& node);
  void addClient(std::uint32_t id);
  void addPort(std::uint32_t id, const spa_dict* props);
  void addLink(std::uint32_t id, const spa_dict* props);
  const Node* node(std::uint32_t nodeId) const;
  const Bound* clientInfo(std::uint32_t clientId) const;
  std::optional<std::uint32_t> ownClientId() const;

  pw_core* core_;
  pw_registry* registry_;
  std::function<void()> changed_;
  std::map<std::uint32_t, Node> nodes_;
  std::map<std::uint32_t, Client> clients_;
  std::map<std::uint32_t, PortInfo> ports_;
  std::map<std::uint32_t, LinkInfo> links_;
};

}  // namespace mivo::audio::pipewire
