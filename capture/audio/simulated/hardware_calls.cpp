// Creation, start, stop, teardown and listener calls of the simulated system.
#include <algorithm>

#include "audio/simulated/aggregate_description.h"
#include "audio/simulated/simulated_audio_system.h"

namespace mivo::audio {
namespace {

std::uintptr_t procKey(IOProcID procID) { return reinterpret_cast<std::uintptr_t>(procID); }

}  // namespace

// Valid: exactly one excluded process, the own visible one, and a UUID no
// live tap uses.
OSStatus SimulatedAudioSystem::createProcessTap(const TapDescription& description,
                                                AudioObjectID* outTapID) {
  hold_.pass(Operation::CreateProcessTap);
  std::lock_guard lock(mutex_);
  lastTapDescription_ = description;
  if (outTapID != nullptr) *outTapID = kAudioObjectUnknown;
  OSStatus status = takeFaultLocked(Operation::CreateProcessTap);
  if (status == kNoErr) {
    const auto& excluded = description.excludedProcesses;
    const bool uuidTaken = std::any_of(taps_.begin(), taps_.end(), [&](const auto& tap) {
      return tap.second == description.uuid;
    });
    const bool valid = excluded.size() == 1 && excluded.front() == processObject_ &&
                       processVisible_ && !description.uuid.empty() && !uuidTaken;
    status = outTapID != nullptr && valid ? kNoErr : kErrParam;
  }
  std::optional<AudioObjectID> created;
  if (status == kNoErr) {
    created = newObjectLocked();
    taps_.emplace(*created, description.uuid);
    *outTapID = *created;
  }
  recordLocked(sim::operationName(Operation::CreateProcessTap), created, status);
  return status;
}

OSStatus SimulatedAudioSystem::createAggregateDevice(const PropertyValue& description,
                                                     AudioObjectID* outDeviceID) {
  hold_.pass(Operation::CreateAggregateDevice);
  std::lock_guard lock(mutex_);
  lastAggregateDescription_ = description;
  if (outDeviceID != nullptr) *outDeviceID = kAudioObjectUnknown;
  OSStatus status = takeFaultLocked(Operation::CreateAggregateDevice);
  if (status == kNoErr) status = createAggregateLocked(description, outDeviceID);
  const auto created = status == kNoErr ? std::optional(*outDeviceID) : std::nullopt;
  recordLocked(sim::operationName(Operation::CreateAggregateDevice), created, status);
  return status;
}

// Malformed descriptions and reused UIDs give kErrParam; a master,
// sub-device or tap that does not exist (any more) gives kErrBadObject.
OSStatus SimulatedAudioSystem::createAggregateLocked(const PropertyValue& description,
                                                     AudioObjectID* outDeviceID) {
  const auto plan = sim::parseAggregateDescription(description);
  if (outDeviceID == nullptr || !plan) return kErrParam;
  const bool uidTaken = std::any_of(aggregates_.begin(), aggregates_.end(), [&](const auto& entry) {
    return entry.second.uid == plan->uid;
  });
  if (uidTaken) return kErrParam;
  const bool tapExists = std::any_of(taps_.begin(), taps_.end(),
                                     [&](const auto& tap) { return tap.second == plan->tapUUID; });
  if (deviceByUIDLocked(plan->masterUID) == nullptr ||
      deviceByUIDLocked(plan->subdeviceUID) == nullptr || !tapExists)
    return kErrBadObject;
  const auto id = newObjectLocked();
  aggregates_.emplace(id, Aggregate{plan->uid, plan->masterUID});
  *outDeviceID = id;
  return kNoErr;
}

OSStatus SimulatedAudioSystem::createIOProcIDWithBlock(IOProcID* outProcID, AudioObjectID device,
                                                       platform::SerialQueue& queue,
                                                       IOBlock block) {
  hold_.pass(Operation::CreateIOProcIDWithBlock);
  std::lock_guard lock(mutex_);
  if (outProcID != nullptr) *outProcID = nullptr;
  OSStatus status = takeFaultLocked(Operation::CreateIOProcIDWithBlock);
  if (status == kNoErr && (outProcID == nullptr || !block)) status = kErrParam;
  if (status == kNoErr && !devices_.contains(device) && !aggregates_.contains(device))
    status = kErrBadObject;
  if (status == kNoErr) {
    const auto key = ++nextProc_;
    procs_.emplace(key, IOProc{device, &queue, std::make_shared<const IOBlock>(std::move(block))});
    *outProcID = reinterpret_cast<IOProcID>(key);
  }
  recordLocked(sim::operationName(Operation::CreateIOProcIDWithBlock), device, status);
  return status;
}

SimulatedAudioSystem::IOProc* SimulatedAudioSystem::procLocked(AudioObjectID device,
                                                               IOProcID procID) {
  const auto found = procs_.find(procKey(procID));
  return found != procs_.end() && found->second.device == device ? &found->second : nullptr;
}

OSStatus SimulatedAudioSystem::deviceStart(AudioObjectID device, IOProcID procID) {
  hold_.pass(Operation::DeviceStart);
  std::lock_guard lock(mutex_);
  OSStatus status = takeFaultLocked(Operation::DeviceStart);
  auto* proc = procLocked(device, procID);
  if (status == kNoErr && (proc == nullptr || proc->cutOff)) status = kErrBadObject;
  if (status == kNoErr) proc->started = true;
  recordLocked(sim::operationName(Operation::DeviceStart), device, status);
  return status;
}

OSStatus SimulatedAudioSystem::deviceStop(AudioObjectID device, IOProcID procID) {
  hold_.pass(Operation::DeviceStop);
  std::lock_guard lock(mutex_);
  OSStatus status = takeFaultLocked(Operation::DeviceStop);
  auto* proc = procLocked(device, procID);
  if (status == kNoErr && proc == nullptr) status = kErrBadObject;
  if (status == kNoErr) proc->started = false;
  recordLocked(sim::operationName(Operation::DeviceStop), device, status);
  return status;
}

OSStatus SimulatedAudioSystem::destroyIOProcID(AudioObjectID device, IOProcID procID) {
  hold_.pass(Operation::DestroyIOProcID);
  std::lock_guard lock(mutex_);
  OSStatus status = takeFaultLocked(Operation::DestroyIOProcID);
  auto* proc = procLocked(device, procID);
  if (proc == nullptr) {
    if (status == kNoErr) status = kErrBadObject;
  } else if (status != kNoErr) {
    proc->cutOff = true;
    proc->started = false;
  } else {
    procs_.erase(procKey(procID));
  }
  recordLocked(sim::operationName(Operation::DestroyIOProcID), device, status);
  return status;
}

// The aggregate's IO procs go with it.
OSStatus SimulatedAudioSystem::destroyAggregateDevice(AudioObjectID device) {
  hold_.pass(Operation::DestroyAggregateDevice);
  std::lock_guard lock(mutex_);
  OSStatus status = takeFaultLocked(Operation::DestroyAggregateDevice);
  if (status == kNoErr && aggregates_.erase(device) == 0) status = kErrBadObject;
  if (status == kNoErr)
    std::erase_if(procs_, [&](const auto& entry) { return entry.second.device == device; });
  recordLocked(sim::operationName(Operation::DestroyAggregateDevice), device, status);
  return status;
}

OSStatus SimulatedAudioSystem::destroyProcessTap(AudioObjectID tap) {
  hold_.pass(Operation::DestroyProcessTap);
  std::lock_guard lock(mutex_);
  OSStatus status = takeFaultLocked(Operation::DestroyProcessTap);
  if (status == kNoErr && taps_.erase(tap) == 0) status = kErrBadObject;
  recordLocked(sim::operationName(Operation::DestroyProcessTap), tap, status);
  return status;
}

// Only the system object's default-output address can be listened to.
OSStatus SimulatedAudioSystem::addPropertyListener(AudioObjectID object,
                                                   const PropertyAddress& address,
                                                   platform::SerialQueue& queue,
                                                   const PropertyListenerBlock& listener) {
  hold_.pass(Operation::AddPropertyListener);
  std::lock_guard lock(mutex_);
  OSStatus status = takeFaultLocked(Operation::AddPropertyListener);
  if (status == kNoErr && object != kAudioObjectSystemObject) status = kErrBadObject;
  if (status == kNoErr && !(address == kDefaultOutputDeviceAddress)) status = kErrUnknownProperty;
  if (status == kNoErr && (!listener || !*listener)) status = kErrParam;
  if (status == kNoErr) listeners_.push_back({address, &queue, listener});
  recordLocked(sim::operationName(Operation::AddPropertyListener), std::nullopt, status);
  return status;
}

// Matches the very listener object added with this address and queue.
OSStatus SimulatedAudioSystem::removePropertyListener(AudioObjectID object,
                                                      const PropertyAddress& address,
                                                      platform::SerialQueue& queue,
                                                      const PropertyListenerBlock& listener) {
  hold_.pass(Operation::RemovePropertyListener);
  std::lock_guard lock(mutex_);
  OSStatus status = takeFaultLocked(Operation::RemovePropertyListener);
  const auto match = std::find_if(listeners_.begin(), listeners_.end(), [&](const Listener& entry) {
    return object == kAudioObjectSystemObject && entry.address == address &&
           entry.queue == &queue && entry.block.get() == listener.get();
  });
  if (match == listeners_.end()) {
    if (status == kNoErr) status = kErrIllegalOperation;
  } else if (status != kNoErr) {
    match->cutOff = true;
  } else {
    listeners_.erase(match);
  }
  recordLocked(sim::operationName(Operation::RemovePropertyListener), std::nullopt, status);
  return status;
}

}  // namespace mivo::audio
