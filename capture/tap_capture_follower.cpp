// Following the default output device: a change posts a rebuild check to
// the control queue, which rebuilds the chain on the new device; a failed
// rebuild tells the host once and is tried again on a growing timer.
#include <algorithm>
#include <string>

#include "platform/system_log.h"
#include "tap_capture.h"
#include "uid_equality.h"

namespace mivo::capture {

using platform::logLine;

namespace {
// The pause before the timer tries a failed rebuild again doubles with each
// failure: a server that keeps refusing costs one attempt every 2 s, while
// a passing hiccup is retried within a tenth of a second.
constexpr std::chrono::milliseconds kFirstRetryPause{100};
constexpr std::chrono::milliseconds kLongestRetryPause{2000};
}  // namespace

const audio::PropertyListenerBlock& TapCapture::outputListener() {
  if (!outputListenerBlock) {
    outputListenerBlock = std::make_shared<const audio::PropertyListener>(
        [weak = weak_from_this()](std::uint32_t, const audio::PropertyAddress*) {
          auto self = weak.lock();
          if (!self) return;
          // The strong reference rides along until the check has run.
          self->ioQueue.async([self] { self->rebuildCheckLocked(); });
        });
  }
  return outputListenerBlock;
}

void TapCapture::rebuildCheckLocked() {
  if (!isActive || stopBegun.load()) return;
  audio::AudioObjectID device = audio::kAudioObjectUnknown;
  std::uint32_t size = sizeof(device);
  if (hardware.getPropertyData(audio::kAudioObjectSystemObject, audio::kDefaultOutputDeviceAddress,
                               0, nullptr, &size, &device) != audio::kNoErr)
    device = audio::kAudioObjectUnknown;
  const std::optional<std::string> uid = deviceUID(hardware, device);
  if (!uid) return;
  // Same device and the chain still answers: nothing to do. A chain whose
  // aggregate device no longer answers (its device went away and came back
  // under the same UID, or the sound server restarted) is rebuilt.
  if (boundOutputUID && sameUID(*boundOutputUID, *uid) && deviceUID(hardware, aggregateID)) return;
  if (mustWaitForRetryLocked(*uid)) {
    scheduleRetryLocked(std::chrono::ceil<std::chrono::milliseconds>(
        nextAttemptAt - std::chrono::steady_clock::now()));
    return;
  }

  logLine("default output changed " + boundOutputUID.value_or("?") + " \u2192 " + *uid +
          " \u2014 rebuilding");
  teardownLocked();
  const std::int32_t rc = buildAndStartLocked();
  if (rc != 0) {
    rebuildFailedLocked(rc, *uid);
    return;
  }
  failedOutputUID.reset();
  retryPause = std::chrono::milliseconds(0);
  logLine("rebuild OK on " + *uid);
}

// A failed build can itself cause the next notification (a capture node the
// server refused is reported as failed), so a notification about the output
// that just failed waits for the timer instead of trying again at once. A
// different output is the user's choice and is tried at once.
bool TapCapture::mustWaitForRetryLocked(const std::string& outputUID) const {
  return failedOutputUID && sameUID(*failedOutputUID, outputUID) &&
         std::chrono::steady_clock::now() < nextAttemptAt;
}

void TapCapture::rebuildFailedLocked(std::int32_t rc, const std::string& outputUID) {
  retryPause = std::clamp(retryPause * 2, kFirstRetryPause, kLongestRetryPause);
  failedOutputUID = outputUID;
  nextAttemptAt = std::chrono::steady_clock::now() + retryPause;
  scheduleRetryLocked(retryPause);
  // The host hears of the change from capturing to silent, once; attempts
  // that fail while it lasts are news to nobody.
  if (silenceReported.exchange(true)) {
    logLine("rebuild failed again rc=" + std::to_string(rc) + "; next attempt in " +
            std::to_string(retryPause.count()) + " ms");
    return;
  }
  logLine(
      "rebuild FAILED rc=" + std::to_string(rc) + " \u2014 far side silent until a device returns",
      platform::LogPriority::warning);
  if (onStopped != nullptr && hostCallbacksEnabled.load()) onStopped(ctx);
}

void TapCapture::scheduleRetryLocked(std::chrono::milliseconds pause) {
  if (retryScheduled) return;
  retryScheduled = true;
  ioQueue.asyncAfter(pause, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    self->retryScheduled = false;
    self->rebuildCheckLocked();
  });
}

}  // namespace mivo::capture
