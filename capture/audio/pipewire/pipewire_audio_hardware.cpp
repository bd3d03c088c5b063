#include "audio/pipewire/pipewire_audio_hardware.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/pipewire/aggregate_description.h"

namespace mivo::audio::pipewire {

namespace {

constexpr std::uint32_t kFallbackRate = 48000;
constexpr std::chrono::milliseconds kStreamReadyTimeout{3000};
// The server removes a capture node in one round trip.
constexpr std::chrono::milliseconds kRemovalTimeout{1000};

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

AggregateDevice* PipeWireAudioHardware::findAggregate(AudioObjectID device) {
  CoreSession* session = sessions_.current();
  if (session == nullptr) return nullptr;
  auto aggregate = session->aggregates.find(device);
  return aggregate == session->aggregates.end() ? nullptr : &aggregate->second;
}

OSStatus PipeWireAudioHardware::getPropertyData(AudioObjectID object,
                                                const PropertyAddress& address,
                                                std::uint32_t qualifierSize, const void* qualifier,
                                                std::uint32_t* ioDataSize, void* outData) {
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
                                                  const void* qualifier, std::uint32_t* ioDataSize,
                                                  void* outData) {
  if (qualifier == nullptr || qualifierSize != sizeof(std::int32_t)) return kErrParam;
  if (sessions_.connected() == nullptr) return kErrNotRunning;
  std::int32_t pid = 0;
  std::memcpy(&pid, qualifier, sizeof pid);
  if (pid <= 0) return writeValue(kAudioObjectUnknown, ioDataSize, outData);
  return writeValue(ids_.processObject(pid_t(pid)), ioDataSize, outData);
}

OSStatus PipeWireAudioHardware::readDefaultOutput(std::uint32_t* ioDataSize, void* outData) {
  CoreSession* session = sessions_.connected();
  if (session == nullptr) {
    // Reported once: the first look after the loss finds its chain dead; any
    // later one finds no default output and leaves the capture as it is.
    if (auto lost = sessions_.takeLostOutput())
      return writeValue(ids_.device(*lost), ioDataSize, outData);
    return kErrNotRunning;
  }
  if (listeners_.empty()) lookAfresh(*session);
  const auto& name = session->defaultSinkName();
  return writeValue(name ? ids_.device(*name) : kAudioObjectUnknown, ioDataSize, outData);
}

// While someone follows the default output, fresh bindings heal a deaf
// long-lived one within a second. With nobody following, none are made,
// and a binding deafened by another client would answer with a stale
// default for good; so such a read binds afresh and waits for the answer.
void PipeWireAudioHardware::lookAfresh(CoreSession& session) {
  DefaultOutputFollower& follower = session.follower();
  const int answered = follower.answeredProbes();
  if (!follower.probeNow()) return;
  loop_.waitFor(CoreSession::kDefaultOutputTimeout,
                [&] { return !session.isAlive() || follower.answeredProbes() != answered; });
}

// A device keeps its UID while a sink of that name exists or the session
// manager names it the default output. A default naming a sink that is not
// there is reported as such: building on it fails and tells the host that
// the capture went silent.
OSStatus PipeWireAudioHardware::readDeviceUID(AudioObjectID object, std::uint32_t* ioDataSize,
                                              void* outData) {
  if (*ioDataSize < sizeof(StringRef)) return kErrBadPropertySize;
  CoreSession* session = sessions_.live();
  const std::string* name = ids_.deviceName(object);
  if (session == nullptr && !(name != nullptr && sessions_.isLostOutput(*name)))
    return kErrNotRunning;
  std::string uid;
  if (session == nullptr) {
    uid = *name;
  } else if (name != nullptr) {
    if (!session->graph().hasSink(*name) && session->defaultSinkName() != *name)
      return kErrBadObject;
    uid = *name;
  } else if (AggregateDevice* aggregate = findAggregate(object)) {
    // A capture node that the server dropped no longer answers.
    if (aggregate->stream->hasFailed()) return kErrNotRunning;
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
  AggregateDevice* aggregate = sessions_.live() != nullptr ? findAggregate(object) : nullptr;
  if (aggregate == nullptr) return kErrBadObject;
  const auto& format = aggregate->stream->format();
  if (!format) return kErrNotRunning;
  return writeValue(describe(*format), ioDataSize, outData);
}

OSStatus PipeWireAudioHardware::readNominalRate(AudioObjectID object, std::uint32_t* ioDataSize,
                                                void* outData) {
  CoreSession* session = sessions_.live();
  AggregateDevice* aggregate = session != nullptr ? findAggregate(object) : nullptr;
  if (aggregate == nullptr) return kErrBadObject;
  const auto& format = aggregate->stream->format();
  std::uint32_t rate =
      format ? format->rate
             : session->graph().sinkRate(aggregate->outputName).value_or(kFallbackRate);
  return writeValue(double(rate), ioDataSize, outData);
}

OSStatus PipeWireAudioHardware::createProcessTap(const TapDescription& description,
                                                 AudioObjectID* outTapID) {
  if (outTapID == nullptr) return kErrParam;
  *outTapID = kAudioObjectUnknown;
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  CoreSession* session = sessions_.live();
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
  CoreSession* session = sessions_.live();
  if (session == nullptr) return kErrNotRunning;
  // The default output comes on another connection than the graph: a sink
  // that the session manager has just made the default may not be in the
  // graph yet.
  if (!session->graph().hasSink(request->outputUID) &&
      (!session->roundTrip(kStreamReadyTimeout) || (session = sessions_.live()) == nullptr ||
       !session->graph().hasSink(request->outputUID)))
    return kErrBadObject;
  auto tap = std::ranges::find_if(
      session->taps, [&](const auto& entry) { return entry.second.uuid == request->tapUUID; });
  if (tap == session->taps.end()) return kErrBadObject;
  if (tap->second.links->target() != 0) return kErrIllegalOperation;  // one device per tap

  AudioObjectID id = ids_.fresh();
  std::uint32_t rate = session->graph().sinkRate(request->outputUID).value_or(kFallbackRate);
  // Surround ports only where some output has them: stereo ones cost less.
  bool surround = session->graph().hasSurroundSink();
  try {
    auto stream = std::make_unique<CaptureStream>(session->core(), "mivo-capture." + request->uid,
                                                  request->name, rate, surround,
                                                  [session] { session->captureStreamChanged(); });
    session->aggregates.emplace(
        id, AggregateDevice{request->uid, request->outputUID, tap->first, std::move(stream)});
    session->aggregates.at(id).inputChannels = captureInputChannels(surround).size();
  } catch (const std::exception&) {
    return kErrUnspecified;
  }
  if (!waitUntilReady(id)) {
    if (CoreSession* current = sessions_.current()) current->dropAggregate(id);
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
    CoreSession* session = sessions_.live();
    AggregateDevice* aggregate = session != nullptr ? findAggregate(device) : nullptr;
    if (aggregate == nullptr || aggregate->stream->hasFailed()) return true;
    const auto& format = aggregate->stream->format();
    std::uint32_t node = aggregate->stream->nodeId();
    return node != 0 && format &&
           session->graph().ports(node, false).size() >= aggregate->inputChannels;
  });
  AggregateDevice* aggregate = sessions_.live() != nullptr ? findAggregate(device) : nullptr;
  return ready && aggregate != nullptr && !aggregate->stream->hasFailed();
}

OSStatus PipeWireAudioHardware::createIOProcIDWithBlock(IOProcID* outProcID, AudioObjectID device,
                                                        platform::SerialQueue& queue,
                                                        IOBlock block) {
  if (outProcID == nullptr) return kErrParam;
  *outProcID = nullptr;
  if (!block) return kErrParam;
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  AggregateDevice* aggregate = sessions_.live() != nullptr ? findAggregate(device) : nullptr;
  if (aggregate == nullptr) return kErrBadObject;
  AudioObjectID id = ids_.fresh();
  aggregate->stream->delivery().add(id, queue, std::move(block));
  *outProcID = procHandle(id);
  return kNoErr;
}

OSStatus PipeWireAudioHardware::deviceStart(AudioObjectID device, IOProcID procID) {
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  if (sessions_.live() == nullptr) return kErrNotRunning;
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
  CoreSession& session = *sessions_.current();
  auto tap = session.taps.find(aggregate->tap);
  if (tap != session.taps.end()) tap->second.links->setTarget(0);
  // The server removes the node before its stream goes (see CaptureStream);
  // one whose removal is not confirmed in time (or the wait abandoned) is
  // kept by the session until it is.
  const CaptureStream* removing = session.dropAggregate(device);
  if (removing != nullptr)
    loop_.waitFor(kRemovalTimeout,
                  [&] { return !session.isAlive() || !session.awaitsRemoval(removing); });
  return kNoErr;
}

OSStatus PipeWireAudioHardware::destroyProcessTap(AudioObjectID tap) {
  std::lock_guard operation(operations_);
  LoopLock lock(loop_);
  CoreSession* session = sessions_.current();
  if (session == nullptr || session->taps.erase(tap) == 0) return kErrBadObject;
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
  CoreSession* session = sessions_.connected();
  if (session == nullptr) return kErrNotRunning;
  listeners_.add(address, queue, listener);
  session->follower().setProbing(true);
  return kNoErr;
}

OSStatus PipeWireAudioHardware::removePropertyListener(AudioObjectID object,
                                                       const PropertyAddress& address,
                                                       platform::SerialQueue& queue,
                                                       const PropertyListenerBlock& listener) {
  if (object != kAudioObjectSystemObject) return kErrBadObject;
  // Not the operations lock: an operation may be waiting for the server.
  if (!listeners_.remove(address, queue, listener)) return kErrIllegalOperation;
  LoopLock lock(loop_);
  if (CoreSession* session = sessions_.live()) session->follower().setProbing(!listeners_.empty());
  return kNoErr;
}

}  // namespace mivo::audio::pipewire
