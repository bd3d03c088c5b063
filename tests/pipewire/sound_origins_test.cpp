// Where each sound starts, on graphs described as the registry announces
// them: nodes with their class, link group and monitor flag, one input and
// one output port each (a sink's output is its monitor), and links.
#include "audio/pipewire/sound_origins.h"

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pipewire/pipewire.h>

#include "audio/pipewire/graph_model.h"

namespace mivo::audio::pipewire {
namespace {

struct NodeSpec {
  const char* name;
  const char* mediaClass;  // "" for a JACK client's node
  const char* group = "";
  bool readsMonitor = false;
};

struct LinkSpec {
  const char* from;
  const char* to;
};

struct Case {
  const char* what;
  std::vector<NodeSpec> nodes;
  std::vector<LinkSpec> links;
  std::set<std::string> origins;
  std::set<std::string> hosts = {};  // the host's nodes
};

constexpr std::uint32_t kCaptureNode = 1;
constexpr std::uint32_t kFirstNode = 10;

void announce(GraphModel& graph, std::uint32_t id, const char* type,
              std::initializer_list<spa_dict_item> items) {
  std::vector<spa_dict_item> kept(items);
  spa_dict dict = SPA_DICT_INIT(kept.data(), std::uint32_t(kept.size()));
  graph.addGlobal(id, type, &dict);
}

std::uint32_t inputPort(std::uint32_t node) { return node + 1000; }
std::uint32_t outputPort(std::uint32_t node) { return node + 2000; }

std::set<std::string> originsOf(const Case& c) {
  GraphModel graph(nullptr, nullptr, [] {});
  auto idOf = [&](const char* name) {
    for (std::size_t i = 0; i < c.nodes.size(); ++i)
      if (std::string(c.nodes[i].name) == name) return kFirstNode + std::uint32_t(i);
    return kCaptureNode;  // "capture": the library's own
  };
  for (const NodeSpec& node : c.nodes) {
    std::uint32_t id = idOf(node.name);
    std::string nodeId = std::to_string(id);
    bool sink = std::string(node.mediaClass) == "Audio/Sink";
    announce(graph, id, PW_TYPE_INTERFACE_Node,
             {{PW_KEY_NODE_NAME, node.name},
              {PW_KEY_MEDIA_CLASS, node.mediaClass},
              {PW_KEY_NODE_LINK_GROUP, node.group},
              {PW_KEY_STREAM_CAPTURE_SINK, node.readsMonitor ? "true" : "false"}});
    announce(graph, inputPort(id), PW_TYPE_INTERFACE_Port,
             {{PW_KEY_NODE_ID, nodeId.c_str()},
              {PW_KEY_PORT_DIRECTION, "in"},
              {PW_KEY_AUDIO_CHANNEL, "FL"}});
    announce(graph, outputPort(id), PW_TYPE_INTERFACE_Port,
             {{PW_KEY_NODE_ID, nodeId.c_str()},
              {PW_KEY_PORT_DIRECTION, "out"},
              {PW_KEY_PORT_MONITOR, sink ? "true" : "false"},
              {PW_KEY_AUDIO_CHANNEL, "FL"}});
  }
  std::uint32_t linkId = 5000;
  for (const LinkSpec& link : c.links) {
    std::uint32_t from = idOf(link.from), to = idOf(link.to);
    std::string fields[] = {std::to_string(from), std::to_string(outputPort(from)),
                            std::to_string(to), std::to_string(inputPort(to))};
    announce(graph, linkId++, PW_TYPE_INTERFACE_Link,
             {{PW_KEY_LINK_OUTPUT_NODE, fields[0].c_str()},
              {PW_KEY_LINK_OUTPUT_PORT, fields[1].c_str()},
              {PW_KEY_LINK_INPUT_NODE, fields[2].c_str()},
              {PW_KEY_LINK_INPUT_PORT, fields[3].c_str()}});
  }
  std::set<std::uint32_t> hostIds;
  for (const std::string& name : c.hosts) hostIds.insert(idOf(name.c_str()));
  SoundOrigins origins(graph, kCaptureNode,
                       [&](std::uint32_t node) { return hostIds.contains(node); });
  std::set<std::string> names;
  for (const NodeSpec& node : c.nodes)
    if (origins.isOrigin(idOf(node.name))) names.insert(node.name);
  return names;
}

constexpr const char* kSink = "Audio/Sink";
constexpr const char* kSource = "Audio/Source";
constexpr const char* kPlayback = "Stream/Output/Audio";
constexpr const char* kRecord = "Stream/Input/Audio";

TEST(SoundOrigins, CapturesEachSoundWhereItStartsAndNoRelayOfItAgain) {
  const Case cases[] = {
      {"an application playing on the device",
       {{"A", kSink}, {"app", kPlayback}},
       {{"app", "A"}, {"app", "capture"}},
       {"app"}},
      {"a loopback or remap sink",
       {{"A", kSink}, {"app", kPlayback}, {"fx", kSink, "lb"}, {"fx.out", kPlayback, "lb"}},
       {{"app", "fx"}, {"fx.out", "A"}},
       {"app"}},
      {"a combine sink over two devices",
       {{"A", kSink},
        {"B", kSink},
        {"app", kPlayback},
        {"comb", kSink, "c"},
        {"comb.A", kPlayback, "c"},
        {"comb.B", kPlayback, "c"}},
       {{"app", "comb"}, {"comb.A", "A"}, {"comb.B", "B"}},
       {"app"}},
      {"an echo canceller with a microphone: the played sound goes on to its playback",
       {{"A", kSink},
        {"mic", kSource},
        {"app", kPlayback},
        {"ec.capture", kRecord, "ec"},
        {"ec.source", kSource, "ec"},
        {"ec.sink", kSink, "ec"},
        {"ec.playback", kPlayback, "ec"}},
       {{"mic", "ec.capture"}, {"app", "ec.sink"}, {"ec.playback", "A"}},
       {"app"}},
      {"an echo canceller that reads the device's monitor",
       {{"A", kSink},
        {"B", kSink},
        {"mic", kSource},
        {"app", kPlayback},
        {"ec.capture", kRecord, "ec"},
        {"ec.sink", kRecord, "ec", true},
        {"ec.playback", kPlayback, "ec"}},
       {{"mic", "ec.capture"}, {"app", "A"}, {"A", "ec.sink"}, {"ec.playback", "B"}},
       {"app"}},
      {"an effects application's chain on a sink's monitor, without a group",
       {{"A", kSink}, {"app", kPlayback}, {"fx", kSink}, {"eq", ""}, {"limiter", ""}},
       {{"app", "fx"}, {"fx", "eq"}, {"eq", "limiter"}, {"limiter", "A"}},
       {"app"}},
      {"a stream that reads a monitor before its links are made",
       {{"A", kSink},
        {"app", kPlayback},
        {"lb.in", kRecord, "lb", true},
        {"lb.out", kPlayback, "lb"}},
       {{"app", "A"}, {"lb.out", "A"}},
       {"app"}},
      {"a microphone looped into the speakers",
       {{"A", kSink}, {"mic", kSource}, {"lb.in", kRecord, "lb"}, {"lb.out", kPlayback, "lb"}},
       {{"mic", "lb.in"}, {"lb.out", "A"}},
       {"lb.out"}},
      {"a microphone loopback and an application into one virtual sink",
       {{"A", kSink},
        {"mic", kSource},
        {"app", kPlayback},
        {"lb.in", kRecord, "lb"},
        {"lb.out", kPlayback, "lb"},
        {"fx", kSink, "v"},
        {"fx.out", kPlayback, "v"}},
       {{"mic", "lb.in"}, {"lb.out", "fx"}, {"app", "fx"}, {"fx.out", "A"}},
       {"app", "lb.out"}},
      {"an echo canceller's cleaned microphone looped into the speakers",
       {{"A", kSink},
        {"mic", kSource},
        {"ec.capture", kRecord, "ec"},
        {"ec.source", kSource, "ec"},
        {"ec.sink", kSink, "ec"},
        {"ec.playback", kPlayback, "ec"},
        {"lb.in", kRecord, "lb"},
        {"lb.out", kPlayback, "lb"}},
       {{"mic", "ec.capture"}, {"ec.playback", "A"}, {"ec.source", "lb.in"}, {"lb.out", "A"}},
       {"lb.out"}},
      {"a virtual microphone made of a monitor, looped into the speakers",
       {{"A", kSink},
        {"B", kSink},
        {"app", kPlayback},
        {"vm.in", kRecord, "vm", true},
        {"vm", "Audio/Source/Virtual", "vm"},
        {"lb.in", kRecord, "lb"},
        {"lb.out", kPlayback, "lb"}},
       {{"app", "A"}, {"A", "vm.in"}, {"vm", "lb.in"}, {"lb.out", "B"}},
       {"app"}},
      {"an application whose stream carries a link group of its own",
       {{"A", kSink}, {"app", kPlayback, "app-group"}},
       {{"app", "A"}},
       {"app"}},
      {"JACK clients: a player, and a pass-through of a monitor",
       {{"A", kSink}, {"B", kSink}, {"synth", ""}, {"rack", ""}},
       {{"synth", "A"}, {"A", "rack"}, {"rack", "B"}},
       {"synth"}},
      {"filters feeding each other in a circle",
       {{"A", kSink}, {"f1", ""}, {"f2", ""}},
       {{"f1", "f2"}, {"f2", "f1"}, {"f2", "A"}},
       {}},
  };
  for (const Case& c : cases) EXPECT_EQ(originsOf(c), c.origins) << c.what;
}

// What a relay plays holds the host's sound when a host node feeds it
// without a sink between them; the relay is then not captured, and what
// starts behind it is, where it starts.
TEST(SoundOrigins, CapturesNoRelayThatCarriesTheHostsSound) {
  const Case cases[] = {
      {"the host's JACK client through an effect",
       {{"A", kSink}, {"app", kPlayback}, {"host", ""}, {"effect", ""}},
       {{"app", "A"}, {"host", "effect"}, {"effect", "A"}},
       {"app"},
       {"host"}},
      {"the host's filter and a microphone through an effect",
       {{"A", kSink}, {"mic", kSource}, {"host", ""}, {"effect", ""}},
       {{"mic", "effect"}, {"host", "effect"}, {"effect", "A"}},
       {"mic"},
       {"host"}},
      {"the host's JACK client through two effects",
       {{"A", kSink}, {"host", ""}, {"eq", ""}, {"limiter", ""}},
       {{"host", "eq"}, {"eq", "limiter"}, {"limiter", "A"}},
       {},
       {"host"}},
  };
  for (const Case& c : cases) EXPECT_EQ(originsOf(c), c.origins) << c.what;
}

}  // namespace
}  // namespace mivo::audio::pipewire
