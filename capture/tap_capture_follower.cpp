// Following the default output device: a change posts a rebuild check to
// the control queue, which rebuilds the chain on the new device.
#include <string>

#include "platform/system_log.h"
#include "tap_capture.h"
#include "uid_equality.h"

namespace mivo::capture {

using platform::logLine;

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
  if (!isActive) return;
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

  logLine("default output changed " + boundOutputUID.value_or("?") + " \u2192 " + *uid +
          " \u2014 rebuilding");
  teardownLocked();
  const std::int32_t rc = buildAndStartLocked();
  if (rc != 0) {
    logLine("rebuild FAILED rc=" + std::to_string(rc) +
            " \u2014 far side silent until a device returns",
            platform::LogPriority::warning);
    if (onStopped != nullptr && hostCallbacksEnabled.load()) onStopped(ctx);
    return;
  }
  logLine("rebuild OK on " + *uid);
}

}  // namespace mivo::capture
