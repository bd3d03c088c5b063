// The property reads of the simulated system.
#include <unistd.h>

#include <cstring>

#include "audio/simulated/simulated_audio_system.h"

namespace mivo::audio {
namespace {

// Bits of a stream description's flags word besides the float bit.
constexpr std::uint32_t kFormatFlagIsSignedInteger = 1u << 2;
constexpr std::uint32_t kFormatFlagIsPacked = 1u << 3;
constexpr std::uint32_t kFormatFlagIsNonInterleaved = 1u << 5;

struct ReadShape {
  PropertyAddress address;
  std::uint32_t dataSize;
};

std::optional<sim::Operation> readOperation(std::uint32_t selector) {
  switch (selector) {
    case kSelectorTranslatePIDToProcessObject:
      return sim::Operation::ReadProcessObject;
    case kSelectorDefaultOutputDevice:
      return sim::Operation::ReadDefaultOutput;
    case kSelectorDeviceUID:
      return sim::Operation::ReadDeviceUID;
    case kSelectorStreamFormat:
      return sim::Operation::ReadStreamFormat;
    case kSelectorNominalSampleRate:
      return sim::Operation::ReadNominalRate;
    default:
      return std::nullopt;
  }
}

ReadShape shapeOf(sim::Operation read) {
  switch (read) {
    case sim::Operation::ReadProcessObject:
      return {kProcessObjectAddress, sizeof(AudioObjectID)};
    case sim::Operation::ReadDefaultOutput:
      return {kDefaultOutputDeviceAddress, sizeof(AudioObjectID)};
    case sim::Operation::ReadDeviceUID:
      return {kDeviceUIDAddress, sizeof(StringRef)};
    case sim::Operation::ReadStreamFormat:
      return {kInputStreamFormatAddress, sizeof(AudioStreamBasicDescription)};
    default:
      return {kNominalSampleRateAddress, sizeof(double)};
  }
}

template <typename T>
void put(void* outData, const T& value) {
  std::memcpy(outData, &value, sizeof value);
}

}  // namespace

OSStatus SimulatedAudioSystem::getPropertyData(AudioObjectID object, const PropertyAddress& address,
                                               std::uint32_t qualifierSize, const void* qualifier,
                                               std::uint32_t* ioDataSize, void* outData) {
  const auto read = readOperation(address.selector);
  if (read) hold_.pass(*read);
  std::lock_guard lock(mutex_);
  OSStatus status = kErrUnknownProperty;
  if (read) {
    status = takeFaultLocked(*read);
    if (status == kNoErr)
      status = readLocked(*read, object, address, qualifierSize, qualifier, ioDataSize, outData);
  }
  const auto target =
      object == kAudioObjectSystemObject ? std::nullopt : std::optional<AudioObjectID>(object);
  recordLocked(read ? sim::operationName(*read) : "getPropertyData", target, status);
  return status;
}

// The address must be exactly the tabled one, and the data exactly its size.
OSStatus SimulatedAudioSystem::readLocked(Operation read, AudioObjectID object,
                                          const PropertyAddress& address,
                                          std::uint32_t qualifierSize, const void* qualifier,
                                          std::uint32_t* ioDataSize, void* outData) {
  const auto shape = shapeOf(read);
  if (!(address == shape.address)) return kErrUnknownProperty;
  if (ioDataSize == nullptr || outData == nullptr || *ioDataSize != shape.dataSize)
    return kErrBadPropertySize;
  switch (read) {
    case Operation::ReadProcessObject:
      return readProcessObjectLocked(object, qualifierSize, qualifier, outData);
    case Operation::ReadDefaultOutput:
      if (object != kAudioObjectSystemObject) return kErrBadObject;
      put(outData, defaultOutput_);
      return kNoErr;
    case Operation::ReadDeviceUID:
      return readDeviceUIDLocked(object, outData);
    case Operation::ReadStreamFormat:
      return readStreamFormatLocked(object, outData);
    default:
      return readNominalRateLocked(object, outData);
  }
}

// A pid other than the own one, or the own one while hidden, has no object.
OSStatus SimulatedAudioSystem::readProcessObjectLocked(AudioObjectID object,
                                                       std::uint32_t qualifierSize,
                                                       const void* qualifier, void* outData) {
  if (object != kAudioObjectSystemObject) return kErrBadObject;
  if (qualifier == nullptr || qualifierSize != sizeof(std::int32_t)) return kErrBadPropertySize;
  std::int32_t pid = 0;
  std::memcpy(&pid, qualifier, sizeof pid);
  const bool own = pid == std::int32_t(getpid()) && processVisible_;
  put(outData, own ? processObject_ : kAudioObjectUnknown);
  return kNoErr;
}

OSStatus SimulatedAudioSystem::readDeviceUIDLocked(AudioObjectID object, void* outData) {
  std::optional<std::string> uid;
  if (const auto device = devices_.find(object); device != devices_.end())
    uid = device->second.uid;
  else if (const auto aggregate = aggregates_.find(object);
           aggregate != aggregates_.end() && !aggregate->second.orphaned)
    uid = aggregate->second.uid;
  else
    return kErrBadObject;
  if (!uid) return kErrUnknownProperty;
  put(outData, makeStringRef(*uid));
  return kNoErr;
}

// Channels and interleaving follow the cycle layout; float or 32-bit
// integer samples follow the device.
OSStatus SimulatedAudioSystem::readStreamFormatLocked(AudioObjectID object, void* outData) {
  const auto* device = formatSourceLocked(object);
  if (device == nullptr) return kErrBadObject;
  const bool planar = layout_.kind == sim::CycleLayout::Kind::Planar;
  const std::uint32_t bytesPerFrame = 4 * (planar ? 1 : layout_.channels);
  AudioStreamBasicDescription format;
  format.mSampleRate = device->nominalRate;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags =
      (device->floatSamples ? kAudioFormatFlagIsFloat : kFormatFlagIsSignedInteger) |
      kFormatFlagIsPacked | (planar ? kFormatFlagIsNonInterleaved : 0);
  format.mBytesPerPacket = bytesPerFrame;
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = bytesPerFrame;
  format.mChannelsPerFrame = layout_.channels;
  format.mBitsPerChannel = 32;
  put(outData, format);
  return kNoErr;
}

OSStatus SimulatedAudioSystem::readNominalRateLocked(AudioObjectID object, void* outData) {
  const auto* device = formatSourceLocked(object);
  if (device == nullptr) return kErrBadObject;
  put(outData, device->nominalRate);
  return kNoErr;
}

}  // namespace mivo::audio
