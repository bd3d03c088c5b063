// One connection to the PipeWire server and everything made through it: the
// graph model, the default-output follower (on a connection of its own), the
// process taps and the capture streams of the aggregate devices. Losing the
// server ends the session; whatever it held dies with it (the server drops
// our links and nodes itself, since none lingers). Opening never waits, so
// that the loop thread itself can open a session when it reconnects.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_hardware.h"
#include "audio/pipewire/capture_stream.h"
#include "audio/pipewire/default_output_follower.h"
#include "audio/pipewire/graph_model.h"
#include "audio/pipewire/process_tap_links.h"
#include "audio/pipewire/server_connection.h"
#include "audio/pipewire/thread_loop.h"

struct pw_core;
struct pw_registry;

namespace mivo::audio::pipewire {

struct ProcessTap {
  std::string uuid;
  std::unique_ptr<ProcessTapLinks> links;
};

struct AggregateDevice {
  std::string uid;
  std::string outputName;
  AudioObjectID tap = kAudioObjectUnknown;
  std::unique_ptr<CaptureStream> stream;
  std::size_t inputChannels = 0;  // the capture node's input ports
};

class CoreSession final : ServerEvents {
 public:
  using Clock = std::chrono::steady_clock;
  // Reading the graph (two round trips) may take this long.
  static constexpr std::chrono::milliseconds kConnectTimeout{3000};
  // How often retired capture streams are looked at (see dropAggregate).
  static constexpr std::chrono::milliseconds kSweepPeriod{50};
  // The session manager, not the server, answers for its metadata, so the
  // default output may come after the graph.
  static constexpr std::chrono::milliseconds kDefaultOutputTimeout{1000};

  struct Events {
    // After each change of the default output, once the session is in use.
    std::function<void()> defaultOutputChanged;
    // When the connection of a session in use is lost; once.
    std::function<void()> lost;
    // When a capture node of the session failed or vanished unbidden.
    std::function<void()> captureNodeFailed;
  };

  // With the loop locked; does not wait. Connects and starts reading the
  // graph; nullptr when no server takes the connection. Events run on the
  // loop thread, and only after markInUse().
  static std::unique_ptr<CoreSession> open(ThreadLoop& loop, Events events);
  ~CoreSession();
  CoreSession(const CoreSession&) = delete;
  CoreSession& operator=(const CoreSession&) = delete;

  bool isAlive() const { return alive_ && follower_->isAlive(); }
  // The globals and the info of what was bound have arrived.
  bool hasReadGraph() const { return graphReadAt_.has_value(); }
  // Ready to be used: the graph is read and the default output known (or
  // there is no default metadata, or it did not answer in time).
  bool isSettled(Clock::time_point now) const;
  // Opening took too long; the session will not settle.
  bool hasTimedOut(Clock::time_point now) const;
  void markInUse() { inUse_ = true; }

  pw_core* core() const { return connection_.core(); }
  pw_registry* registry() const { return connection_.registry(); }
  const GraphModel& graph() const { return *graph_; }
  DefaultOutputFollower& follower() { return *follower_; }
  const std::optional<std::string>& defaultSinkName() const { return follower_->sinkName(); }

  // With the loop locked: waits for a round trip through the server on the
  // main connection; false on timeout or loss.
  bool roundTrip(std::chrono::milliseconds timeout);
  // Brings every tap's links up to date after the next round trip.
  void scheduleReconcile();
  // A capture stream's state changed (loop thread).
  void captureStreamChanged();
  // Drops an aggregate device. A capture node the server still has is asked
  // to go and its stream kept until the server confirms (see
  // CaptureStream::requestRemoval): also a device whose build or removal
  // was abandoned leaks nothing. A node not made yet is asked to go once
  // it is. With the loop locked, never from a stream's own event. Returns
  // the stream kept, to be asked about with awaitsRemoval; nullptr when
  // nothing is left to wait for.
  const CaptureStream* dropAggregate(AudioObjectID device);
  // Whether the server has yet to confirm the removal of a stream that
  // dropAggregate kept (compared by address: it may be gone).
  bool awaitsRemoval(const CaptureStream* stream) const;

  std::map<AudioObjectID, ProcessTap> taps;
  std::map<AudioObjectID, AggregateDevice> aggregates;

 private:
  CoreSession(ThreadLoop& loop, Events events);
  bool start();
  void onGlobal(std::uint32_t id, const char* type, const spa_dict* props) override;
  void onGlobalRemoved(std::uint32_t id) override;
  void onDone(std::uint32_t id, int seq) override;
  void onError(std::uint32_t id, int res) override;
  void onLost();
  void reconcile();
  // Asks the server to remove the retired nodes it has made since, and
  // destroys the streams whose nodes it has removed (not from within a
  // stream's event: the timer does that).
  void askRetiredNodesToGo();
  void destroyRemovedStreams();
  void sweepRetired();
  bool isInRegistry(std::uint32_t node) const;

  ThreadLoop& loop_;
  Events events_;
  ServerConnection connection_;
  std::unique_ptr<GraphModel> graph_;
  std::unique_ptr<DefaultOutputFollower> follower_;
  bool alive_ = false;
  bool lostReported_ = false;
  bool inUse_ = false;
  Clock::time_point openedAt_ = Clock::now();
  int openSeq_ = -1;  // the pending round trip of reading the graph, or -1
  int openRoundTrips_ = 0;
  std::optional<Clock::time_point> graphReadAt_;
  int lastDoneSeq_ = -1;
  int reconcileSeq_ = -1;  // the pending reconcile round trip, or -1
  bool reconcileAgain_ = false;
  struct RetiredStream {
    std::unique_ptr<CaptureStream> stream;
    bool removalAsked = false;
    bool askedBeforeRegistry = false;
  };
  std::vector<RetiredStream> retired_;
  std::unique_ptr<LoopTimer> sweepTimer_;
};

}  // namespace mivo::audio::pipewire
