#include "audio/pipewire/pipewire_audio_hardware.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/pipewire/aggregate_description.h"

namespace mivo::audio::pipewire {

namespace {

constexpr std::uint32_t kFallbackRate = 48000;
constexpr std::chrono::milliseconds kStreamReadyTimeout{3000};

template <typename T>
OSStatus writeValue(const T& value, std::uint32_t* ioDataSize, void* outData) {
  if (*ioDataSize < sizeof(T)) return kErrBadPropertySize;
  std::memcpy(outData, &value, sizeof(T));
  *ioDataSize = sizeof(T);
  return kNoErr;
}

IOProcID procHandle(AudioObjectID id) {
  return reinterpret_cast<IOProcID>(static_cast<std::uintptr_t>(id));
}

AudioObjectID procIdOf(IOProcID handle) {
  return AudioObjectID(reinterpret_cast<std::uintptr_t>(handle));
}

AudioStreamBasicDescription describe(const NegotiatedFormat& format) {
  AudioStreamBasicDescription description;
  description.mSampleRate = format.rate;
  description.mFormatID = kAudioFormatLinearPCM;
  description.mFormatFlags = format.isFloat32 ? kAudioFormatFlagIsFloat : 0;
  description.mBytesPerFrame = format.channels * std::uint32_t(sizeof(float));
  description.mBytesPerPacket = description.mBytesPerFrame;
  description.mFramesPerPacket = 1;
  description.mChannelsPerFrame = format.channels;
  description.mBitsPerChannel = 32;
  return description;
}

}  // namespace

PipeWireAudioHardware::PipeWireAudioHardware() = default;

PipeWireAudioHardware::~PipeWireAudioHardware() {
  LoopLock lock(loop_);
  session_.reset();
}

CoreSession* PipeWireAudioHardware::connectedSession() {
  if (session_ && session_->isAlive()) return session_.get();
  session_.reset();
  session_ = CoreSession::connect(loop_, [this] { listeners_.notify(kDefaultOutputDeviceAddress); });
  return session_.get();
}

CoreSession* PipeWireAudioHardware::liveSession() {
  return session_ && session_->isAlive() ? session_.get() : nullptr;
}

AggregateDevice* PipeWireAudioHardware::findAggregate(AudioObjectID device) {
  if (!session_) return nullptr;
  auto aggregate = session_->aggregates.find(device);
  return aggregate == session_->aggregates.end() ? nullptr : &aggregate->second;
}

OSStatus PipeWireAudioHardware::getPropertyData(AudioObjectID object,
                                                const PropertyAddress& address,
                                                std::uint32_t qualifierSize,
                                                const void* qualifier, std::uint32_t* ioDataSize,
                                                void* outData) {
  if (ioDataSize == nullptr || outData == nullptr) return kErrParam;
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  switch (address.selector) {
    case kSelectorTranslatePIDToProcessObject:
      if (object != kAudioObjectSystemObject) return kErrBadObject;
      return readProcessObject(qualifierSize, qualifier, ioDataSize, outData);
    case kSelectorDefaultOutputDevice:
      if (object != kAudioObjectSystemObject) return kErrBadObject;
      return readDefaultOutput(ioDataSize, outData);
    case kSelectorDeviceUID:
      return readDeviceUID(object, ioDataSize, outData);
    case kSelectorStreamFormat:
      if (address.scope != kScopeInput) return kErrUnknownProperty;
      return readStreamFormat(object, ioDataSize, outData);
    case kSelectorNominalSampleRate:
      return readNominalRate(object, ioDataSize, outData);
    default:
      return kErrUnknownProperty;
  }
}

OSStatus PipeWireAudioHardware::readProcessObject(std::uint32_t qualifierSize,
                                                  const void* qualifier,
                                                  std::uint32_t* ioDataSize, void* outData) {
  if (qualifier == nullptr || qualifierSize != sizeof(std::int32_t)) return kErrParam;
  if (connectedSession() == nullptr) return kErrNotRunning;
  std::int32_t pid = 0;
  std::memcpy(&pid, qualifier, sizeof pid);
  if (pid <= 0) return writeValue(kAudioObjectUnknown, ioDataSize, outData);
  return writeValue(ids_.processObject(pid_t(pid)), ioDataSize, outData);
}

OSStatus PipeWireAudioHardware::readDefaultOutput(std::uint32_t* ioDataSize, void* outData) {
  CoreSession* session = connectedSession();
  if (session == nullptr) return kErrNotRunning;
  const auto& name = session->defaultSinkName();
  return writeValue(name ? ids_.device(*name) : kAudioObjectUnknown, ioDataSize, outData);
}

// A device keeps its UID while a sink of that name exists or the session
// manager names it the default output. A default naming a sink that is not
// there is reported as such: building on it fails and tells the host that
// the capture went silent.
OSStatus PipeWireAudioHardware::readDeviceUID(AudioObjectID object, std::uint32_t* ioDataSize,
                                              void* outData) {
  if (*ioDataSize < sizeof(StringRef)) return kErrBadPropertySize;
  CoreSession* session = liveSession();
  if (session == nullptr) return kErrNotRunning;
  std::string uid;
  if (const std::string* name = ids_.deviceName(object)) {
    if (!session->graph().hasSink(*name) && session->defaultSinkName() != *name)
      return kErrBadObject;
    uid = *name;
  } else if (AggregateDevice* aggregate = findAggregate(object)) {
    uid = aggregate->uid;
  } else {
    return kErrBadObject;
  }
  StringRef text = makeStringRef(uid);
  std::memcpy(outData, &text, sizeof text);
  *ioDataSize = sizeof text;
  return kNoErr;
}

OSStatus PipeWireAudioHardware::readStreamFormat(AudioObjectID object, std::uint32_t* ioDataSize,
                                                 void* outData) {
  AggregateDevice* aggregate = liveSession() != nullptr ? findAggregate(object) : nullptr;
  if (aggregate == nullptr) return kErrBadObject;
  const auto& format = aggregate->stream->format();
  if (!format) return kErrNotRunning;
  return writeValue(describe(*format), ioDataSize, outData);
}

OSStatus PipeWireAudioHardware::readNominalRate(AudioObjectID object, std::uint32_t* ioDataSize,
                                                void* outData) {
  CoreSession* session = liveSession();
  AggregateDevice* aggregate = session != nullptr ? findAggregate(object) : nullptr;
  if (aggregate == nullptr) return kErrBadObject;
  const auto& format = aggregate->stream->format();
  std::uint32_t rate = format ? format->rate
                              : session->graph().sinkRate(aggregate->outputName).value_or(kFallbackRate);
  return writeValue(double(rate), ioDataSize, outData);
}

OSStatus PipeWireAudioHardware::createProcessTap(const TapDescription& description,
                                                 AudioObjectID* outTapID) {
  if (outTapID == nullptr) return kErrParam;
  *outTapID = kAudioObjectUnknown;
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  CoreSession* session = liveSession();
  if (session == nullptr) return kErrNotRunning;
  if (description.uuid.empty()) return kErrParam;
  std::vector<pid_t> excluded;
  for (AudioObjectID process : description.excludedProcesses) {
    auto pid = ids_.processOf(process);
    if (!pid) return kErrBadObject;
    excluded.push_back(*pid);
  }
  AudioObjectID id = ids_.fresh();
  session->taps.emplace(
      id, ProcessTap{description.uuid,
                     std::make_unique<ProcessTapLinks>(session->core(), std::move(excluded))});
  *outTapID = id;
  return kNoErr;
}

OSStatus PipeWireAudioHardware::createAggregateDevice(const PropertyValue& description,
                                                      AudioObjectID* outDeviceID) {
  if (outDeviceID == nullptr) return kErrParam;
  *outDeviceID = kAudioObjectUnknown;
  auto request = readAggregateDescription(description);
  if (!request) return kErrParam;
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  CoreSession* session = liveSession();
  if (session == nullptr) return kErrNotRunning;
  if (!session->graph().hasSink(request->outputUID)) return kErrBadObject;
  auto tap = std::ranges::find_if(session->taps, [&](const auto& entry) {
    return entry.second.uuid == request->tapUUID;
  });
  if (tap == session->taps.end()) return kErrBadObject;
  if (tap->second.links->target() != 0) return kErrIllegalOperation;  // one device per tap

  AudioObjectID id = ids_.fresh();
  std::uint32_t rate = session->graph().sinkRate(request->outputUID).value_or(kFallbackRate);
  try {
    auto stream = std::make_unique<CaptureStream>(session->core(), "mivo-capture." + request->uid,
                                                  request->name, rate, [this] { loop_.signal(); });
    session->aggregates.emplace(
        id, AggregateDevice{request->uid, request->outputUID, tap->first, std::move(stream)});
  } catch (const std::exception&) {
    return kErrUnspecified;
  }
  if (!waitUntilReady(id)) {
    if (session_) session_->aggregates.erase(id);
    return kErrUnspecified;
  }
  tap->second.links->setTarget(session->aggregates.at(id).stream->nodeId());
  session->scheduleReconcile();
  *outDeviceID = id;
  return kNoErr;
}

// Ready once the server made the node, the format is settled and the session
// manager has given the node its input ports, which the tap links into.
bool PipeWireAudioHardware::waitUntilReady(AudioObjectID device) {
  bool ready = loop_.waitFor(kStreamReadyTimeout, [&] {
    CoreSession* session = liveSession();
    AggregateDevice* aggregate = session != nullptr ? findAggregate(device) : nullptr;
    if (aggregate == nullptr || aggregate->stream->hasFailed()) return true;
    const auto& format = aggregate->stream->format();
    std::uint32_t node = aggregate->stream->nodeId();
    return node != 0 && format && session->graph().ports(node, false).size() >= format->channels;
  });
  AggregateDevice* aggregate = liveSession() != nullptr ? findAggregate(device) : nullptr;
  return ready && aggregate != nullptr && !aggregate->stream->hasFailed();
}

OSStatus PipeWireAudioHardware::createIOProcIDWithBlock(IOProcID* outProcID,
                                                        AudioObjectID device,
                                                        platform::SerialQueue& queue,
                                                        IOBlock block) {
  if (outProcID == nullptr) return kErrParam;
  *outProcID = nullptr;
  if (!block) return kErrParam;
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  AggregateDevice* aggregate = liveSession() != nullptr ? findAggregate(device) : nullptr;
  if (aggregate == nullptr) return kErrBadObject;
  AudioObjectID id = ids_.fresh();
  aggregate->stream->delivery().add(id, queue, std::move(block));
  *outProcID = procHandle(id);
  return kNoErr;
}

OSStatus PipeWireAudioHardware::deviceStart(AudioObjectID device, IOProcID procID) {
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  if (liveSession() == nullptr) return kErrNotRunning;
  AggregateDevice* aggregate = findAggregate(device);
  if (aggregate == nullptr) return kErrBadObject;
  if (aggregate->stream->hasFailed()) return kErrNotRunning;
  return aggregate->stream->delivery().setRunning(procIdOf(procID), true) ? kNoErr : kErrBadObject;
}

OSStatus PipeWireAudioHardware::deviceStop(AudioObjectID device, IOProcID procID) {
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  AggregateDevice* aggregate = findAggregate(device);
  if (aggregate == nullptr) return kErrBadObject;
  return aggregate->stream->delivery().setRunning(procIdOf(procID), false) ? kNoErr : kErrBadObject;
}

OSStatus PipeWireAudioHardware::destroyIOProcID(AudioObjectID device, IOProcID procID) {
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  AggregateDevice* aggregate = findAggregate(device);
  if (aggregate == nullptr) return kErrBadObject;
  return aggregate->stream->delivery().remove(procIdOf(procID)) ? kNoErr : kErrBadObject;
}

OSStatus PipeWireAudioHardware::destroyAggregateDevice(AudioObjectID device) {
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  AggregateDevice* aggregate = findAggregate(device);
  if (aggregate == nullptr) return kErrBadObject;
  auto tap = session_->taps.find(aggregate->tap);
  if (tap != session_->taps.end()) tap->second.links->setTarget(0);
  session_->aggregates.erase(device);
  return kNoErr;
}

OSStatus PipeWireAudioHardware::destroyProcessTap(AudioObjectID tap) {
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  if (!session_ || session_->taps.erase(tap) == 0) return kErrBadObject;
  return kNoErr;
}

OSStatus PipeWireAudioHardware::addPropertyListener(AudioObjectID object,
                                                    const PropertyAddress& address,
                                                    platform::SerialQueue& queue,
                                                    const PropertyListenerBlock& listener) {
  if (object != kAudioObjectSystemObject) return kErrBadObject;
  if (!(address == kDefaultOutputDeviceAddress)) return kErrUnknownProperty;
  if (!listener) return kErrParam;
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  if (connectedSession() == nullptr) return kErrNotRunning;
  listeners_.add(address, queue, listener);
  return kNoErr;
}

OSStatus PipeWireAudioHardware::removePropertyListener(AudioObjectID object,
                                                       const PropertyAddress& address,
                                                       platform::SerialQueue& queue,
                                                       const PropertyListenerBlock& listener) {
  if (object != kAudioObjectSystemObject) return kErrBadObject;
  // Only the list's own lock: the caller may be on a queue a listener runs on.
  return listeners_.remove(address, queue, listener) ? kNoErr : kErrIllegalOperation;
}

}  // namespace mivo::audio::pipewire
