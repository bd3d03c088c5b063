// One connection to the PipeWire server and everything made through it: the
// graph model, the default-output follower, the process taps and the capture
// streams of the aggregate devices. Losing the server ends the session;
// whatever it held dies with it (the server drops our links and nodes
// itself, since none lingers).
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "audio/audio_hardware.h"
#include "audio/pipewire/capture_stream.h"
#include "audio/pipewire/default_output_follower.h"
#include "audio/pipewire/graph_model.h"
#include "audio/pipewire/process_tap_links.h"

struct pw_core;
struct pw_registry;
struct spa_hook;

namespace mivo::audio::pipewire {

class ThreadLoop;

struct ProcessTap {
  std::string uuid;
  std::unique_ptr<ProcessTapLinks> links;
};

struct AggregateDevice {
  std::string uid;
  std::string outputName;
  AudioObjectID tap = kAudioObjectUnknown;
  std::unique_ptr<CaptureStream> stream;
};

class CoreSession {
 public:
  // With the loop locked. Connects and waits until the graph and the default
  // output have been read; nullptr when no server answers in time.
  // defaultOutputChanged runs on the loop thread after each change of the
  // default output, and once more when the connection is lost.
  static std::unique_ptr<CoreSession> connect(ThreadLoop& loop,
                                              std::function<void()> defaultOutputChanged);
  ~CoreSession();
  CoreSession(const CoreSession&) = delete;
  CoreSession& operator=(const CoreSession&) = delete;

  bool isAlive() const { return alive_; }
  pw_core* core() const { return core_; }
  const GraphModel& graph() const { return *graph_; }
  const std::optional<std::string>& defaultSinkName() const { return follower_->sinkName(); }

  // Waits for a round trip through the server; false on timeout or loss.
  bool roundTrip(std::chrono::milliseconds timeout);
  // Brings every tap's links up to date after the next round trip.
  void scheduleReconcile();

  std::map<AudioObjectID, ProcessTap> taps;
  std::map<AudioObjectID, AggregateDevice> aggregates;

 private:
  CoreSession(ThreadLoop& loop, std::function<void()> defaultOutputChanged);
  bool open();
  void onGlobal(std::uint32_t id, const char* type, const spa_dict* props);
  void onGlobalRemoved(std::uint32_t id);
  void onDone(std::uint32_t id, int seq);
  void onError(std::uint32_t id, int res);
  void reconcile();

  ThreadLoop& loop_;
  std::function<void()> defaultOutputChanged_;
  pw_core* core_ = nullptr;
  pw_registry* registry_ = nullptr;
  std::unique_ptr<spa_hook> coreListener_;
  std::unique_ptr<spa_hook> registryListener_;
  std::unique_ptr<GraphModel> graph_;
  std::unique_ptr<DefaultOutputFollower> follower_;
  bool alive_ = false;
  int lastDoneSeq_ = -1;
  int reconcileSeq_ = -1;  // the pending reconcile round trip, or -1
  bool reconcileAgain_ = false;
};

}  // namespace mivo::audio::pipewire
