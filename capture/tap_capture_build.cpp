// Building and starting the capture chain on the current default output:
// a private process tap on everything but this process, a private aggregate
// device joining that tap and the output device, the IO block, the start.
#include <unistd.h>

#include <cmath>
#include <string>

#include "four_cc.h"
#include "last_error.h"
#include "platform/system_log.h"
#include "tap_capture.h"

namespace mivo::capture {
namespace {

using audio::AudioObjectID;
using audio::kNoErr;
using audio::OSStatus;
using audio::PropertyValue;
using platform::logLine;

constexpr const char* kTapName = "Mivo Meeting Capture";
constexpr const char* kAggregateName = "Mivo Capture";
constexpr const char* kAggregateUIDPrefix = "app.mivo.capture.tap.";

constexpr std::int32_t kTapStageFailed = 6;
constexpr std::int32_t kAggregateStageFailed = 7;
constexpr std::int32_t kIOStageFailed = 8;

// The status lines are logged whatever the status; a failed call stands out
// by its priority.
platform::LogPriority statusPriority(OSStatus status) {
  return status == kNoErr ? platform::LogPriority::routine : platform::LogPriority::failure;
}

template <typename T>
OSStatus readProperty(audio::AudioHardware& hardware, AudioObjectID object,
                      const audio::PropertyAddress& address, T& value,
                      std::uint32_t qualifierSize = 0, const void* qualifier = nullptr) {
  value = T{};
  auto size = static_cast<std::uint32_t>(sizeof(T));
  return hardware.getPropertyData(object, address, qualifierSize, qualifier, &size, &value);
}

AudioObjectID ownProcessObject(audio::AudioHardware& hardware) {
  const std::int32_t pid = getpid();
  AudioObjectID object = audio::kAudioObjectUnknown;
  const OSStatus status = readProperty(hardware, audio::kAudioObjectSystemObject,
                                       audio::kProcessObjectAddress, object, sizeof(pid), &pid);
  return status == kNoErr ? object : audio::kAudioObjectUnknown;
}

AudioObjectID defaultOutputDevice(audio::AudioHardware& hardware) {
  AudioObjectID device = audio::kAudioObjectUnknown;
  const OSStatus status = readProperty(hardware, audio::kAudioObjectSystemObject,
                                       audio::kDefaultOutputDeviceAddress, device);
  return status == kNoErr ? device : audio::kAudioObjectUnknown;
}

audio::TapDescription tapDescription(AudioObjectID excludedProcess, const std::string& uuid) {
  auto description = audio::TapDescription::stereoGlobalTapButExcludeProcesses({excludedProcess});
  description.uuid = uuid;
  description.name = kTapName;
  description.muteBehavior = 0;
  description.isPrivate = true;
  return description;
}

PropertyValue aggregateDescription(const std::string& outputUID, const std::string& tapUUID) {
  using Dictionary = PropertyValue::Dictionary;
  using List = PropertyValue::List;
  return Dictionary{
      {"name", kAggregateName},
      {"uid", std::string(kAggregateUIDPrefix) + tapUUID},
      {"master", outputUID},
      {"private", true},
      {"stacked", false},
      {"tapautostart", true},
      {"subdevices", List{Dictionary{{"uid", outputUID}}}},
      {"taps", List{Dictionary{{"drift", true}, {"uid", tapUUID}}}},
  };
}

// The nominal rate as a whole number of Hz; anything unusable gives the
// fallback: a failed read, NaN, below 1 Hz (which would truncate to a rate
// of 0), or beyond int32 (checked before the cast, which would be undefined).
std::int32_t usableRate(OSStatus status, double rate) {
  if (status != kNoErr || !(rate >= 1) || !(rate < 2147483648.0)) return TapCapture::kFallbackRate;
  return static_cast<std::int32_t>(std::trunc(rate));
}

}  // namespace

std::optional<std::string> TapCapture::deviceUID(audio::AudioHardware& hardware,
                                                 AudioObjectID device) {
  if (device == audio::kAudioObjectUnknown) return std::nullopt;
  audio::StringRef uid = nullptr;
  const OSStatus status = readProperty(hardware, device, audio::kDeviceUIDAddress, uid);
  std::optional<std::string> result;
  if (status == kNoErr && uid != nullptr) result = std::string(uid);
  if (uid != nullptr) audio::releaseString(uid);
  return result;
}

std::int32_t TapCapture::failBuild(std::int32_t code, const std::string& text) {
  setLastError(text.c_str());
  return code;
}

std::int32_t TapCapture::buildAndStartLocked() {
  // Counted also by a build that fails early: the chain before it is gone.
  const std::uint32_t generation = chainGeneration.load() + 1;
  chainGeneration.store(generation);
  completedChain.store(0);  // none until this one completes
  const AudioObjectID processObject = ownProcessObject(hardware);
  if (processObject == audio::kAudioObjectUnknown)
    return failBuild(kTapStageFailed, "could not translate own PID to a process object");

  tapUUID = platform::Uuid::random();
  const std::string uuidText = tapUUID.canonicalText();
  OSStatus status = hardware.createProcessTap(tapDescription(processObject, uuidText), &tapID);
  logLine("tap create status=" + std::to_string(status) + " id=" + std::to_string(tapID) +
              " excluding self object " + std::to_string(processObject),
          statusPriority(status));
  if (status != kNoErr || tapID == audio::kAudioObjectUnknown) {
    tapID = audio::kAudioObjectUnknown;
    return failBuild(kTapStageFailed,
                     "AudioHardwareCreateProcessTap failed: " + std::to_string(status));
  }

  const std::optional<std::string> outputUID = deviceUID(hardware, defaultOutputDevice(hardware));
  if (!outputUID) {
    teardownLocked();
    return failBuild(kAggregateStageFailed, "no default output device UID");
  }

  status = hardware.createAggregateDevice(aggregateDescription(*outputUID, uuidText), &aggregateID);
  logLine("aggregate create status=" + std::to_string(status) +
              " id=" + std::to_string(aggregateID) + " output=" + *outputUID,
          statusPriority(status));
  if (status != kNoErr || aggregateID == audio::kAudioObjectUnknown) {
    aggregateID = audio::kAudioObjectUnknown;
    teardownLocked();
    return failBuild(kAggregateStageFailed,
                     "AudioHardwareCreateAggregateDevice failed: " + std::to_string(status));
  }

  status = hardware.createIOProcIDWithBlock(&ioProcID, aggregateID, callbackQueue,
                                            makeIOBlock(generation));
  logLine("ioproc register status=" + std::to_string(status), statusPriority(status));
  if (status != kNoErr || ioProcID == nullptr) {
    teardownLocked();
    return failBuild(kIOStageFailed,
                     "AudioDeviceCreateIOProcIDWithBlock failed: " + std::to_string(status));
  }

  status = hardware.deviceStart(aggregateID, ioProcID);
  logLine("device start status=" + std::to_string(status) + " (" + fourCC(status) + ")",
          statusPriority(status));
  if (status != kNoErr) {
    teardownLocked();
    return failBuild(kIOStageFailed, "AudioDeviceStart failed: " + std::to_string(status) + " (" +
                                         fourCC(status) + ")");
  }

  audio::AudioStreamBasicDescription format;
  if (readProperty(hardware, aggregateID, audio::kInputStreamFormatAddress, format) == kNoErr &&
      (format.mFormatFlags & audio::kAudioFormatFlagIsFloat) == 0) {
    teardownLocked();
    return failBuild(kAggregateStageFailed, "aggregate stream is not float32 (flags=" +
                                                std::to_string(format.mFormatFlags) +
                                                ") \u2014 refusing");
  }

  double nominalRate = 0;
  status = readProperty(hardware, aggregateID, audio::kNominalSampleRateAddress, nominalRate);
  cachedRate.store(usableRate(status, nominalRate));
  boundOutputUID = outputUID;
  completedChain.store(generation);
  logLine("build complete: rate=" + std::to_string(cachedRate.load()) + " output=" + *outputUID);
  return 0;
}

}  // namespace mivo::capture
