#include "tap_capture.h"

#include <string>

#include "last_error.h"
#include "platform/system_log.h"

namespace mivo::capture {

using platform::logLine;

TapCapture::TapCapture(audio::AudioHardware& hardware_, void* ctx_, mivo_frame_callback onFrame_,
                       mivo_stopped_callback onStopped_)
    : hardware(hardware_), ctx(ctx_), onFrame(onFrame_), onStopped(onStopped_) {}

TapCapture::~TapCapture() {
  // Nothing else can reach the object now, so no queue is needed. The
  // listener was removed by whoever dropped a registered capture.
  teardownLocked();
}

std::int32_t TapCapture::start() {
  {
    std::lock_guard guard(listenerLock);
    const audio::OSStatus status = hardware.addPropertyListener(audio::kAudioObjectSystemObject,
                                                                audio::kDefaultOutputDeviceAddress,
                                                                callbackQueue, outputListener());
    outputListenerInstalled = status == audio::kNoErr;
    logLine(
        "output-change listener installed=" +
            std::string(outputListenerInstalled ? "true" : "false") +
            " status=" + std::to_string(status),
        outputListenerInstalled ? platform::LogPriority::routine : platform::LogPriority::failure);
    // The listener is how a capture hears of a new output and of a server
    // that went away and came back: without it a capture would fall silent
    // at the first such change and never tell the host.
    if (status == audio::kErrNotRunning) {
      // Without a server no stage can be made; hosts know that as the first one failing.
      setLastError("no sound server answers");
      return MIVO_TAP_TAP_FAILED;
    }
    if (!outputListenerInstalled) {
      const std::string text =
          "could not follow the default output device: " + std::to_string(status);
      setLastError(text.c_str());
      return MIVO_TAP_AGGREGATE_FAILED;
    }
  }
  std::int32_t rc = 0;
  ioQueue.sync([&] {
    // A stop that began meanwhile has the registry's word: no build.
    if (stopBegun.load()) {
      rc = failBuild(MIVO_TAP_SUPERSEDED, "start superseded by a concurrent stop");
      return;
    }
    isActive = true;
    rc = buildAndStartLocked();
    if (rc != 0) isActive = false;
  });
  if (rc != 0) {
    removeOutputListener();
    // A build that fails after the device started (the stream-format check)
    // may have a frame callback running; the host frees ctx once we return.
    endHostCallbacks();
  }
  return rc;
}

void TapCapture::stop() {
  if (!claimStop()) return;
  struct Finish {
    TapCapture& capture;
    ~Finish() {
      {
        std::lock_guard lock(capture.stopLock);
        capture.stopDone = true;
      }
      capture.stopFinished.notify_all();
    }
  } finish{*this};
  stopLocked();
}

bool TapCapture::claimStop() {
  std::unique_lock lock(stopLock);
  if (!stopBegun.exchange(true)) return true;
  // The stop under way may be waiting for the very callback this call runs
  // in; it finishes once the callback returns.
  if (!ioQueue.isCurrent() && !callbackQueue.isCurrent())
    stopFinished.wait(lock, [&] { return stopDone; });
  return false;
}

void TapCapture::stopLocked() {
  removeOutputListener();
  // Already here, not only after the teardown: a rebuild that is failing
  // right now must not call onStopped any more.
  hostCallbacksEnabled.store(false);
  // A build in progress may be waiting for a server that does not answer:
  // it gives up, and so do the teardown's waits, so stop returns promptly.
  // Only this capture's calls give up; another capture may be starting.
  hardware.abandonWaits(ioQueue);
  struct ResumeWaits {
    audio::AudioHardware& hardware;
    platform::SerialQueue& queue;
    ~ResumeWaits() { hardware.resumeWaits(queue); }
  } resumeWaits{hardware, ioQueue};
  ioQueue.sync([&] {
    isActive = false;
    teardownLocked();
  });
  endHostCallbacks();
  logLine("stopped after " + std::to_string(callbackCount.load()) + " callbacks");
}

void TapCapture::endHostCallbacks() {
  hostCallbacksEnabled.store(false);
  // A cycle already queued or running finishes before this returns; the
  // flag keeps queued ones away from the host.
  callbackQueue.sync([] {});
}

void TapCapture::flushQueues() {
  // Notifications hop from callbackQueue to ioQueue, so that order.
  callbackQueue.sync([] {});
  ioQueue.sync([] {});
}

void TapCapture::removeOutputListener() {
  std::lock_guard guard(listenerLock);
  if (!outputListenerInstalled) return;
  hardware.removePropertyListener(audio::kAudioObjectSystemObject,
                                  audio::kDefaultOutputDeviceAddress, callbackQueue,
                                  outputListener());
  outputListenerInstalled = false;
}

void TapCapture::teardownLocked() {
  if (aggregateID != audio::kAudioObjectUnknown && ioProcID != nullptr) {
    hardware.deviceStop(aggregateID, ioProcID);
    hardware.destroyIOProcID(aggregateID, ioProcID);
  }
  ioProcID = nullptr;
  if (aggregateID != audio::kAudioObjectUnknown) {
    hardware.destroyAggregateDevice(aggregateID);
    aggregateID = audio::kAudioObjectUnknown;
  }
  if (tapID != audio::kAudioObjectUnknown) {
    hardware.destroyProcessTap(tapID);
    tapID = audio::kAudioObjectUnknown;
  }
  boundOutputUID.reset();
}

}  // namespace mivo::capture
