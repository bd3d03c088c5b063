// The object behind one capture: the host's callbacks, the current capture
// chain (tap, aggregate device, IO proc), the IO state kept between cycles,
// the two serial queues all of its work runs on, and the listener that
// follows the default output device.
//
// Shared ownership: the registry, a running entry point and a posted
// rebuild hold it strongly; the listener and the IO block only weakly.
// Methods ending in Locked run only on the capture's own queues (or during
// destruction) and take no lock besides the last-error slot's.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_hardware.h"
#include "mivo_capture.h"
#include "platform/serial_queue.h"
#include "platform/uuid.h"

namespace mivo::capture {

class TapCapture : public std::enable_shared_from_this<TapCapture> {
 public:
  static constexpr std::int32_t kFallbackRate = 48000;

  TapCapture(audio::AudioHardware& hardware, void* ctx, mivo_frame_callback onFrame,
             mivo_stopped_callback onStopped);
  ~TapCapture();

  TapCapture(const TapCapture&) = delete;
  TapCapture& operator=(const TapCapture&) = delete;

  // Host thread. Installs the listener and builds the chain; a status code.
  std::int32_t start();
  // Host thread (or one of the capture's own callbacks). Afterwards no
  // callback of this capture runs any more; concurrent calls all return
  // only then (but one made from the capture's own callback, which the
  // stop under way waits for).
  void stop();
  void removeOutputListener();

  // One IO cycle: downmix, count, log, deliver. callbackQueue only.
  void handleLocked(const audio::AudioBufferList* input);

  static std::optional<std::string> deviceUID(audio::AudioHardware& hardware,
                                              audio::AudioObjectID device);

  // Returns once the work queued before the call on both queues has run,
  // including rebuild checks that notifications queued meanwhile.
  void flushQueues();

  // Observation for tests.
  std::int64_t deliveredCycles() const { return callbackCount.load(std::memory_order_relaxed); }

 private:
  std::int32_t buildAndStartLocked();
  void teardownLocked();
  void rebuildCheckLocked();
  // Whether an attempt on outputUID must wait for the retry timer.
  bool mustWaitForRetryLocked(const std::string& outputUID) const;
  void rebuildFailedLocked(std::int32_t rc, const std::string& outputUID);
  void scheduleRetryLocked(std::chrono::milliseconds pause);
  // A cycle of the chain built as generation arrived (callbackQueue).
  void noteCycleOfChain(std::uint32_t generation);
  // Host thread. Returns once no callback of this capture runs or will run.
  void endHostCallbacks();
  // True for the one stop call that carries the stop out; see stop().
  bool claimStop();
  void stopLocked();
  const audio::PropertyListenerBlock& outputListener();
  audio::IOBlock makeIOBlock(std::uint32_t generation);
  // The failure's text goes to the last-error slot; returns code.
  std::int32_t failBuild(std::int32_t code, const std::string& text);

  audio::AudioHardware& hardware;

  audio::AudioObjectID tapID = audio::kAudioObjectUnknown;
  audio::AudioObjectID aggregateID = audio::kAudioObjectUnknown;
  audio::IOProcID ioProcID = nullptr;
  platform::Uuid tapUUID = platform::Uuid::random();
  std::optional<std::string> boundOutputUID;
  // Written by the build on ioQueue while IO cycles read it on callbackQueue.
  std::atomic<std::int32_t> cachedRate{kFallbackRate};
  bool isActive = false;
  // After a failed rebuild (ioQueue only): the output it was for, and when
  // and after what pause the timer tries again.
  std::optional<std::string> failedOutputUID;
  std::chrono::steady_clock::time_point nextAttemptAt{};
  std::chrono::milliseconds retryPause{0};
  bool retryScheduled = false;
  // Set on ioQueue when the host was told that the capture went silent;
  // cleared on callbackQueue by the first cycle of a chain built since.
  std::atomic<bool> silenceReported{false};
  // Counts the builds (ioQueue); each IO block knows its own. Only cycles of
  // the chain whose build completed end a silence: neither a late cycle of
  // a chain torn down nor one of a build that then failed its checks.
  std::atomic<std::uint32_t> chainGeneration{0};
  std::atomic<std::uint32_t> completedChain{0};
  // Written on callbackQueue; read by stop and tests.
  std::atomic<std::int64_t> callbackCount{0};
  bool loggedFirstCallback = false;
  void* const ctx;
  const mivo_frame_callback onFrame;
  const mivo_stopped_callback onStopped;
  bool outputListenerInstalled = false;
  std::mutex listenerLock;
  // Cleared by stop before its teardown: cycles and rebuilds already queued
  // must not reach a host that may free ctx as soon as stop returns.
  std::atomic<bool> hostCallbacksEnabled{true};
  // Set as a stop begins: no build starts after it (rebuild checks and
  // retries queued before the stop find it set).
  std::atomic<bool> stopBegun{false};
  std::mutex stopLock;
  std::condition_variable stopFinished;
  bool stopDone = false;  // under stopLock
  // Reused by every cycle; grows only when a longer cycle arrives.
  std::vector<float> monoSamples;
  audio::PropertyListenerBlock outputListenerBlock;
  // Declared last so they are destroyed first, while the fields their
  // remaining work may touch are still alive.
  platform::SerialQueue ioQueue{"mivo.audio.tap"};
  platform::SerialQueue callbackQueue{"mivo.audio.tap.io"};
};

}  // namespace mivo::capture
