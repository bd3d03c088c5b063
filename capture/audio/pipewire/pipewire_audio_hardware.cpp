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

PipeWireAudioHardware::PipeWireAudioHardware() {
  LoopLock lock(loop_);
  reconnectTimer_ = std::make_unique<LoopTimer>(loop_, [this] { reconnectTick(); });
}

PipeWireAudioHardware::~PipeWireAudioHardware() {
  LoopLock lock(loop_);
  reconnectTimer_.reset();
  // A binding of the default metadata must not go before its answer, or it
  // deafens the server's other listeners (see DefaultOutputFollower).
  loop_.waitFor(kReleaseTimeout, [&] { return discardable(session_) && discardable(opening_); });
  opening_.reset();
  session_.reset();
}

bool PipeWireAudioHardware::discardable(const std::unique_ptr<CoreSession>& session) {
  return !session || !session->isAlive() || !session->follower().hasPendingBind();
}

std::unique_ptr<CoreSession> PipeWireAudioHardware::openSession() {
  CoreSession::Events events;
  events.defaultOutputChanged = [this] { listeners_.notify(kDefaultOutputDeviceAddress); };
  events.captureNodeFailed = [this] {
    if (!reconnecting_) listeners_.notify(kDefaultOutputDeviceAddress);
  };
  events.lost = [this] {
    // Everything of the session is gone with the server: the listeners look
    // again (and find their devices gone), and the backend connects again
    // by itself for as long as someone listens.
    if (!listeners_.empty()) {
      lostOutput_ = lastLostOutput_ = outputOfLostSession();
      reconnecting_ = true;
      backoff_ = kFirstRetry;
      reconnectTimer_->arm(kFirstRetry);
    }
    listeners_.notify(kDefaultOutputDeviceAddress);
  };
  return CoreSession::open(loop_, std::move(events));
}

// While the server is away, the output that the lost capture devices were
// built on is reported as the default output once (and keeps its UID): a
// capture then finds its device gone under an unchanged UID and rebuilds,
// and that rebuild fails (there is no server) and tells the host that the
// capture went silent.
// Reporting no default output instead would leave a dead chain in place
// without a word, as a capture does when the default output merely vanishes.
std::optional<std::string> PipeWireAudioHardware::outputOfLostSession() const {
  if (!session_) return std::nullopt;
  for (const auto& [id, aggregate] : session_->aggregates)
    if (!aggregate.removing) return aggregate.outputName;
  return session_->defaultSinkName();
}

void PipeWireAudioHardware::putInUse() {
  lostOutput_.reset();
  lastLostOutput_.reset();
  session_ = std::move(opening_);
  session_->markInUse();
  session_->follower().setProbing(!listeners_.empty());
  reconnecting_ = false;
  reconnectTimer_->disarm();
  loop_.signal();
}

// On the loop thread, with the loop lock: one step of connecting again.
// Sessions change only while no operation runs, since an operation may be
// waiting (the loop lock released) with a session's objects in hand; so the
// step is put off while one does.
void PipeWireAudioHardware::reconnectTick() {
  std::unique_lock operation(operations_, std::try_to_lock);
  if (!operation.owns_lock()) {
    reconnectTimer_->arm(kSettlePoll);
    return;
  }
  if (!reconnecting_) return;
  if (session_ && session_->isAlive()) {
    reconnecting_ = false;
    return;
  }
  session_.reset();  // lost with its server: nothing of it can deafen anybody
  auto now = CoreSession::Clock::now();
  bool wanted = !listeners_.empty();
  if (opening_ && (!wanted || !opening_->isAlive() || opening_->hasTimedOut(now))) {
    if (!discardable(opening_)) {
      reconnectTimer_->arm(kSettlePoll);
      return;
    }
    opening_.reset();
  }
  if (!wanted) {
    reconnecting_ = false;  // nobody listens: the next operation connects
    return;
  }
  if (!opening_) {
    opening_ = openSession();
    if (!opening_) {
      reconnectTimer_->arm(backoff_);
      backoff_ = std::min(backoff_ * 2, kLongestRetry);
      return;
    }
  }
  if (opening_->isSettled(now)) {
    putInUse();
    listeners_.notify(kDefaultOutputDeviceAddress);
    return;
  }
  reconnectTimer_->arm(kSettlePoll);
}

CoreSession* PipeWireAudioHardware::connectedSession() {
  if (CoreSession* session = liveSession()) return session;
  // While the backend connects again by itself, operations do not wait for
  // it: they find no server until the new session is in use.
  if (reconnecting_) return nullptr;
  session_.reset();
  if (!opening_) opening_ = openSession();
  if (!opening_) return nullptr;
  auto settled = [&] {
    return !opening_->isAlive() || opening_->isSettled(CoreSession::Clock::now());
  };
  loop_.waitFor(CoreSession::kConnectTimeout + CoreSession::kDefaultOutputTimeout, settled);
  if (opening_->isAlive() && opening_->isSettled(CoreSession::Clock::now()))
    putInUse();
  else if (discardable(opening_))
    opening_.reset();
  return liveSession();
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
  if (session == nullptr) {
    // Reported once: the first look after the loss finds its chain dead; any
    // later one finds no default output and leaves the capture as it is.
    if (reconnecting_ && lostOutput_)
      return writeValue(ids_.device(*std::exchange(lostOutput_, std::nullopt)), ioDataSize, outData);
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
  loop_.waitFor(CoreSession::kDefaultOutputTimeout, [&] {
    return !session.isAlive() || follower.answeredProbes() != answered;
  });
}

// A device keeps its UID while a sink of that name exists or the session
// manager names it the default output. A default naming a sink that is not
// there is reported as such: building on it fails and tells the host that
// the capture went silent.
OSStatus PipeWireAudioHardware::readDeviceUID(AudioObjectID object, std::uint32_t* ioDataSize,
                                              void* outData) {
  if (*ioDataSize < sizeof(StringRef)) return kErrBadPropertySize;
  CoreSession* session = liveSession();
  const std::string* name = ids_.deviceName(object);
  if (session == nullptr && !(reconnecting_ && name != nullptr && lastLostOutput_ == *name))
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
  // The default output comes on another connection than the graph: a sink
  // that the session manager has just made the default may not be in the
  // graph yet.
  if (!session->graph().hasSink(request->outputUID) &&
      (!session->roundTrip(kStreamReadyTimeout) || (session = liveSession()) == nullptr ||
       !session->graph().hasSink(request->outputUID)))
    return kErrBadObject;
  auto tap = std::ranges::find_if(session->taps, [&](const auto& entry) {
    return entry.second.uuid == request->tapUUID;
  });
  if (tap == session->taps.end()) return kErrBadObject;
  if (tap->second.links->target() != 0) return kErrIllegalOperation;  // one device per tap

  AudioObjectID id = ids_.fresh();
  std::uint32_t rate = session->graph().sinkRate(request->outputUID).value_or(kFallbackRate);
  // Surround ports only where some output has them: stereo ones cost less.
  bool surround = session->graph().hasSurroundSink();
  try {
    auto stream = std::make_unique<CaptureStream>(loop_, session->core(),
                                                  "mivo-capture." + request->uid,
                                                  request->name, rate, surround, [session] {
                                                    session->captureStreamChanged();
                                                  });
    session->aggregates.emplace(
        id, AggregateDevice{request->uid, request->outputUID, tap->first, std::move(stream)});
    session->aggregates.at(id).inputChannels = captureInputChannels(surround).size();
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
    return node != 0 && format &&
           session->graph().ports(node, false).size() >= aggregate->inputChannels;
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
  // The server removes the node before it goes here (see CaptureStream).
  if (session_->isAlive() && aggregate->stream->requestRemoval(session_->registry())) {
    aggregate->removing = true;
    loop_.waitFor(kRemovalTimeout, [&] { return !session_->isAlive() || aggregate->stream->hasFailed(); });
  }
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
  CoreSession* session = connectedSession();
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
  if (CoreSession* session = liveSession()) session->follower().setProbing(!listeners_.empty());
  return kNoErr;
}

}  // namespace mivo::audio::pipewire
