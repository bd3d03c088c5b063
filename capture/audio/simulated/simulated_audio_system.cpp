#include "audio/simulated/simulated_audio_system.h"

#include "platform/serial_queue.h"

namespace mivo::audio {

SimulatedAudioSystem::SimulatedAudioSystem() { reset(); }

SimulatedAudioSystem::~SimulatedAudioSystem() {
  stopClock();
  hold_.release();
}

SimulatedAudioSystem& SimulatedAudioSystem::shared() {
  static auto* instance = new SimulatedAudioSystem;
  return *instance;
}

void SimulatedAudioSystem::reset() {
  stopClock();
  hold_.release();
  std::lock_guard lock(mutex_);
  nextObject_ = kAudioObjectSystemObject;
  processObject_ = newObjectLocked();
  processVisible_ = true;
  devices_.clear();
  defaultOutput_ = kAudioObjectUnknown;
  taps_.clear();
  aggregates_.clear();
  procs_.clear();
  listeners_.clear();
  sources_.clear();
  layout_ = {};
  exactBuffers_.reset();
  framePosition_ = 0;
  faults_.clear();
  journal_.clear();
  lastAggregateDescription_.reset();
  lastTapDescription_.reset();
}

void SimulatedAudioSystem::installDemoWorld() {
  constexpr double kRate = 48000;
  const auto output = addOutputDevice({"sim-output-1", kRate, true});
  setDefaultOutput(output);
  addSource(sim::sineSignal(440, 0.25f, kRate));
  sim::CycleLayout stereo10ms;  // interleaved stereo by default
  stereo10ms.framesPerCycle = 480;
  setCycleLayout(stereo10ms);
  startClock();
}

AudioObjectID SimulatedAudioSystem::ownProcessObject() const {
  std::lock_guard lock(mutex_);
  return processObject_;
}

void SimulatedAudioSystem::setOwnProcessVisible(bool visible) {
  std::lock_guard lock(mutex_);
  processVisible_ = visible;
}

AudioObjectID SimulatedAudioSystem::addOutputDevice(OutputDevice device) {
  std::lock_guard lock(mutex_);
  const auto id = newObjectLocked();
  devices_.emplace(id, std::move(device));
  return id;
}

void SimulatedAudioSystem::removeOutputDevice(AudioObjectID device) {
  std::lock_guard lock(mutex_);
  if (const auto removed = devices_.find(device); removed != devices_.end()) {
    for (auto& [id, aggregate] : aggregates_)
      if (aggregate.masterUID == removed->second.uid) aggregate.orphaned = true;
    devices_.erase(removed);
  }
  if (defaultOutput_ != device) return;
  defaultOutput_ = kAudioObjectUnknown;
  notifyDefaultOutputLocked();
}

void SimulatedAudioSystem::setDefaultOutput(AudioObjectID device) {
  std::lock_guard lock(mutex_);
  defaultOutput_ = device;
  notifyDefaultOutputLocked();
}

SimulatedAudioSystem::SourceID SimulatedAudioSystem::addSource(sim::Signal signal) {
  std::lock_guard lock(mutex_);
  const auto id = ++nextSource_;
  sources_.emplace(id, std::move(signal));
  return id;
}

void SimulatedAudioSystem::removeSource(SourceID source) {
  std::lock_guard lock(mutex_);
  sources_.erase(source);
}

void SimulatedAudioSystem::setCycleLayout(const sim::CycleLayout& layout) {
  std::lock_guard lock(mutex_);
  layout_ = layout;
}

void SimulatedAudioSystem::setExactBufferList(
    std::optional<std::vector<sim::ExactBuffer>> buffers) {
  std::lock_guard lock(mutex_);
  exactBuffers_ = std::move(buffers);
}

void SimulatedAudioSystem::failOnce(Operation operation, OSStatus status) {
  std::lock_guard lock(mutex_);
  faults_[operation] = {status, true};
}

void SimulatedAudioSystem::failUntilCleared(Operation operation, OSStatus status) {
  std::lock_guard lock(mutex_);
  faults_[operation] = {status, false};
}

void SimulatedAudioSystem::clearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void SimulatedAudioSystem::hold(Operation operation) { hold_.arm(operation); }

bool SimulatedAudioSystem::waitUntilHeld(std::chrono::milliseconds timeout) {
  return hold_.waitUntilHeld(timeout);
}

void SimulatedAudioSystem::release() { hold_.release(); }

SimulatedAudioSystem::LiveCounts SimulatedAudioSystem::liveCounts() const {
  std::lock_guard lock(mutex_);
  LiveCounts counts{taps_.size(), aggregates_.size(), procs_.size(), 0, listeners_.size()};
  for (const auto& [id, proc] : procs_)
    if (proc.started) ++counts.startedIOProcs;
  return counts;
}

std::vector<std::string> SimulatedAudioSystem::journal() const {
  std::lock_guard lock(mutex_);
  return journal_;
}

void SimulatedAudioSystem::clearJournal() {
  std::lock_guard lock(mutex_);
  journal_.clear();
}

std::optional<PropertyValue> SimulatedAudioSystem::lastAggregateDescription() const {
  std::lock_guard lock(mutex_);
  return lastAggregateDescription_;
}

std::optional<TapDescription> SimulatedAudioSystem::lastTapDescription() const {
  std::lock_guard lock(mutex_);
  return lastTapDescription_;
}

AudioObjectID SimulatedAudioSystem::newObjectLocked() { return ++nextObject_; }

OSStatus SimulatedAudioSystem::takeFaultLocked(Operation operation) {
  const auto found = faults_.find(operation);
  if (found == faults_.end()) return kNoErr;
  const auto status = found->second.status;
  if (found->second.once) faults_.erase(found);
  return status;
}

void SimulatedAudioSystem::recordLocked(std::string_view name, std::optional<AudioObjectID> object,
                                        OSStatus status) {
  std::string line(name);
  if (object) line += " " + std::to_string(*object);
  if (status != kNoErr) line += " status=" + std::to_string(status);
  journal_.push_back(std::move(line));
}

void SimulatedAudioSystem::notifyDefaultOutputLocked() {
  for (const auto& listener : listeners_) {
    if (listener.cutOff) continue;
    listener.queue->async(
        [block = listener.block, address = listener.address] { (*block)(1, &address); });
  }
}

const SimulatedAudioSystem::OutputDevice* SimulatedAudioSystem::deviceByUIDLocked(
    const std::string& uid) const {
  for (const auto& [id, device] : devices_)
    if (device.uid == uid) return &device;
  return nullptr;
}

const SimulatedAudioSystem::OutputDevice* SimulatedAudioSystem::formatSourceLocked(
    AudioObjectID object) const {
  if (const auto device = devices_.find(object); device != devices_.end()) return &device->second;
  if (const auto aggregate = aggregates_.find(object); aggregate != aggregates_.end())
    return aggregate->second.orphaned ? nullptr : deviceByUIDLocked(aggregate->second.masterUID);
  return nullptr;
}

bool SimulatedAudioSystem::deliversLocked(const IOProc& proc) const {
  const auto aggregate = aggregates_.find(proc.device);
  return proc.started && (aggregate == aggregates_.end() || !aggregate->second.orphaned);
}

}  // namespace mivo::audio
