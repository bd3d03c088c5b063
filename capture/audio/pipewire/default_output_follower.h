// Follows the session manager's choice of default output: the "default"
// metadata object, key default.audio.sink, whose value names the sink node
// as JSON ({"name":"A"}).
//
// PipeWire's metadata module (0.3.65, unchanged upstream) can leave a
// binding of the metadata deaf for good. While any bind of it waits for the
// session manager's ping reply, it forwards property changes only to the
// bindings still waiting; a binder that disconnects before its reply leaves
// the count of waiting bindings stuck, and from then on every settled binding
// (ours, pipewire-pulse's) hears nothing. Only a fresh binding, whose first
// events carry the current values, tells the truth. So the follower keeps
// one long-lived binding for prompt news, and binds afresh (probes) on a
// coarse timer and when a sink comes or goes, and compares: a deaf binding
// heals within the probe period.
//
// A probe is released only after its round trip has answered (the server
// holds a binding client's messages until the session manager's reply, so
// a sync sent after the bind answers after it): released earlier, it would
// deafen everybody else in just that way. At most one probe is out at a time,
// and none is ever given up.
//
// All of this runs on a connection of its own: while a bind waits for the
// session manager, the server reads nothing else from the binding client,
// and a stalled session manager must not hold up the links and streams of
// the main connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "audio/pipewire/server_connection.h"

struct pw_context;
struct pw_core;
struct pw_registry;
struct pw_proxy;
struct spa_dict;
struct spa_hook;

namespace mivo::audio::pipewire {

class LoopTimer;
class ThreadLoop;

// The node name in a default.audio.sink value; nullopt when there is none.
std::optional<std::string> sinkNameFromMetadataValue(const char* json);

class DefaultOutputFollower final : ServerEvents {
 public:
  static constexpr std::chrono::milliseconds kProbePeriod{1000};

  struct Events {
    // The default sink's name changed.
    std::function<void()> changed;
    // The connection is lost (the server went away).
    std::function<void()> lost;
  };

  // With the loop locked. Connects; nullptr when the server refuses.
  static std::unique_ptr<DefaultOutputFollower> connect(ThreadLoop& loop, Events events);
  ~DefaultOutputFollower();
  DefaultOutputFollower(const DefaultOutputFollower&) = delete;
  DefaultOutputFollower& operator=(const DefaultOutputFollower&) = delete;

  // The first round trip has answered: whether there is a "default"
  // metadata object is known.
  bool isReady() const { return ready_; }
  bool isAlive() const { return alive_; }
  bool hasMetadata() const { return metadata_ != nullptr; }
  const std::optional<std::string>& sinkName() const { return sinkName_; }

  // Probes on the timer only while someone follows the default output.
  void setProbing(bool probing);
  // Binds afresh now, as the timer would; false when there is nothing to
  // bind. answeredProbes() counts the probes that have answered.
  bool probeNow();
  int answeredProbes() const { return answeredProbes_; }
  // A bind (the long-lived one or a probe) still waits for its answer.
  bool hasPendingBind() const { return bindSeq_ >= 0 || probe_ != nullptr; }

 private:
  struct Binding;

  DefaultOutputFollower(ThreadLoop& loop, Events events);
  bool open();
  void onGlobal(std::uint32_t id, const char* type, const spa_dict* props) override;
  void onGlobalRemoved(std::uint32_t id) override;
  void onDone(std::uint32_t id, int seq) override;
  void onError(std::uint32_t id, int res) override;
  void probeSoon();
  void setSinkName(std::optional<std::string> name);

  ThreadLoop& loop_;
  Events events_;
  ServerConnection connection_;
  std::unique_ptr<LoopTimer> probeTimer_;
  bool alive_ = false;
  bool ready_ = false;
  int readySeq_ = -1;
  std::uint32_t metadataId_ = 0;
  std::unique_ptr<Binding> metadata_;  // the long-lived binding
  int bindSeq_ = -1;                   // its round trip, while it waits
  std::unique_ptr<Binding> probe_;     // a fresh binding, until its round trip answers
  int probeSeq_ = -1;
  bool probeAgain_ = false;  // something changed while a probe was out
  bool probing_ = false;
  int answeredProbes_ = 0;
  std::set<std::uint32_t> sinks_;
  std::optional<std::string> sinkName_;
};

}  // namespace mivo::audio::pipewire
