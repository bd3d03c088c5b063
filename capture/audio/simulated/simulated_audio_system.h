// A deterministic audio system in the process, behind AudioHardware.
//
// Tests build a world (the own process, output devices, the default output,
// playing sources), drive IO cycles with deliverCycles(), inject failures,
// hold a call in mid-flight, and read a journal of calls and the live object
// counts. A real-time clock delivers cycles by itself for demos.
//
// Which instance the library sees: two provider libraries define
// systemAudioHardware() as shared(), a process-wide instance.
//   mivo_audio_simulated_provider       shared() as it is: an empty world
//                                       that tests fill and reset().
//   mivo_audio_simulated_demo_provider  on first use, fills shared() with
//                                       installDemoWorld(): one output, a
//                                       tone, the clock running. Link this
//                                       one into a library meant to run
//                                       without a sound server.
//
// Queues: IO blocks and listeners only ever run through queue.async(). The
// queue belongs to the caller, so once destroyIOProcID or
// removePropertyListener has returned (or destroyAggregateDevice took the
// proc with it, or reset() cleared the world) nothing is posted to it any
// more. Cycles already posted still run. No block, listener or signal is
// called, and no hold is waited on, with the system's mutex held.
//
// Journal: one line per call, in the order the calls took effect:
//   "<operation>"              calls on the system object
//   "<operation> <object id>"  calls on an object; for a successful create,
//                              the new object (for createIOProcIDWithBlock,
//                              the device)
// followed by " status=<decimal>" when the call returned a status other
// than 0. Operation names are those of operationName().
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_hardware.h"
#include "audio/simulated/cycle_layout.h"
#include "audio/simulated/operation.h"
#include "audio/simulated/operation_hold.h"
#include "audio/simulated/realtime_clock.h"
#include "audio/simulated/signals.h"

namespace mivo::audio {

class SimulatedAudioSystem final : public AudioHardware {
 public:
  using Operation = sim::Operation;
  using SourceID = std::uint32_t;

  struct OutputDevice {
    std::optional<std::string> uid;  // none: the 'uid ' read fails
    double nominalRate = 48000;      // any double, NaN and infinities included
    bool floatSamples = true;        // the float bit of its stream format
  };

  struct LiveCounts {
    std::size_t taps = 0;
    std::size_t aggregateDevices = 0;
    std::size_t ioProcs = 0;
    std::size_t startedIOProcs = 0;
    std::size_t listeners = 0;
    std::size_t audioObjects() const { return taps + aggregateDevices + ioProcs; }
    friend bool operator==(const LiveCounts&, const LiveCounts&) = default;
  };

  SimulatedAudioSystem();
  ~SimulatedAudioSystem() override;
  SimulatedAudioSystem(const SimulatedAudioSystem&) = delete;
  SimulatedAudioSystem& operator=(const SimulatedAudioSystem&) = delete;

  // The process-wide instance the providers hand out. Never destroyed, so
  // captures still alive at exit can call it safely.
  static SimulatedAudioSystem& shared();

  // Back to a fresh world: the own process object only; no devices,
  // sources, faults, holds (a held call is released), clock, objects or
  // listeners; an empty journal; the default layout.
  void reset();
  // One float output "sim-output-1" at 48000 Hz as the default, a 440 Hz
  // tone, stereo interleaved cycles of 480 frames, the clock running.
  void installDemoWorld();

  // --- The world --------------------------------------------------------
  AudioObjectID ownProcessObject() const;
  // Hidden: 'id2p' for the own pid yields object 0, and taps excluding it fail.
  void setOwnProcessVisible(bool visible);
  AudioObjectID addOutputDevice(OutputDevice device);
  // Removing the default output leaves none and notifies the listeners.
  // Aggregate devices built around the removed device stop working.
  void removeOutputDevice(AudioObjectID device);
  // 0 for none. Always notifies the listeners, also when the device is the
  // same: a real system may report a change that changed nothing.
  void setDefaultOutput(AudioObjectID device);

  // --- Sound ------------------------------------------------------------
  SourceID addSource(sim::Signal signal);
  void removeSource(SourceID source);
  void setCycleLayout(const sim::CycleLayout& layout);
  // While set, every cycle carries exactly these buffers instead of the mix.
  void setExactBufferList(std::optional<std::vector<sim::ExactBuffer>> buffers);

  // Posts count cycles to every started IO proc and returns once they have
  // run; at once when no proc is started. Must not be called on an IO
  // proc's queue.
  void deliverCycles(std::uint32_t count);
  // Delivers cycles in real time at the default output's nominal rate
  // (48000 when it has none or an unusable one; kept within 8 kHz-384 kHz).
  void startClock();
  // Returns after the clock thread has ended.
  void stopClock();

  // --- Faults and holds -------------------------------------------------
  // A failed call changes nothing and leaves its out-parameters at 0/null.
  // A teardown call that fails keeps its object alive and counted; an IO
  // proc or listener whose removal failed is nevertheless cut off from its
  // queue, which its owner is free to destroy. One fault per operation: a
  // new one replaces the old.
  void failOnce(Operation operation, OSStatus status);
  void failUntilCleared(Operation operation, OSStatus status);
  void clearFaults();

  // The next call of operation blocks, on the thread making it, until
  // release(). One hold at a time.
  void hold(Operation operation);
  bool waitUntilHeld(std::chrono::milliseconds timeout);
  void release();

  // --- Observation ------------------------------------------------------
  LiveCounts liveCounts() const;
  std::vector<std::string> journal() const;
  void clearJournal();
  std::optional<PropertyValue> lastAggregateDescription() const;
  std::optional<TapDescription> lastTapDescription() const;

  // --- AudioHardware ----------------------------------------------------
  OSStatus getPropertyData(AudioObjectID object, const PropertyAddress& address,
                           std::uint32_t qualifierSize, const void* qualifier,
                           std::uint32_t* ioDataSize, void* outData) override;
  OSStatus createProcessTap(const TapDescription& description, AudioObjectID* outTapID) override;
  OSStatus createAggregateDevice(const PropertyValue& description,
                                 AudioObjectID* outDeviceID) override;
  OSStatus createIOProcIDWithBlock(IOProcID* outProcID, AudioObjectID device,
                                   platform::SerialQueue& queue, IOBlock block) override;
  OSStatus deviceStart(AudioObjectID device, IOProcID procID) override;
  OSStatus deviceStop(AudioObjectID device, IOProcID procID) override;
  OSStatus destroyIOProcID(AudioObjectID device, IOProcID procID) override;
  OSStatus destroyAggregateDevice(AudioObjectID device) override;
  OSStatus destroyProcessTap(AudioObjectID tap) override;
  OSStatus addPropertyListener(AudioObjectID object, const PropertyAddress& address,
                               platform::SerialQueue& queue,
                               const PropertyListenerBlock& listener) override;
  OSStatus removePropertyListener(AudioObjectID object, const PropertyAddress& address,
                                  platform::SerialQueue& queue,
                                  const PropertyListenerBlock& listener) override;
  // Nothing here waits for a server (a held call waits for the test).
  void abandonWaits(const platform::SerialQueue&) override {}
  void resumeWaits(const platform::SerialQueue&) override {}

 private:
  struct Aggregate {
    std::string uid;
    std::string masterUID;
    // Its master device was removed: like a device that is gone, it answers
    // no read and delivers no cycle, even if a device with the same UID
    // comes back.
    bool orphaned = false;
  };
  // A proc or listener is cut off when its removal failed: it stays
  // counted, but its queue is never touched again.
  struct IOProc {
    AudioObjectID device = 0;
    platform::SerialQueue* queue = nullptr;
    std::shared_ptr<const IOBlock> block;
    bool started = false;
    bool cutOff = false;
  };
  struct Listener {
    PropertyAddress address;
    platform::SerialQueue* queue = nullptr;
    PropertyListenerBlock block;
    bool cutOff = false;
  };
  struct Fault {
    OSStatus status = kNoErr;
    bool once = false;
  };
  struct CycleCountdown;

  AudioObjectID newObjectLocked();
  OSStatus takeFaultLocked(Operation operation);
  void recordLocked(std::string_view name, std::optional<AudioObjectID> object, OSStatus status);
  void notifyDefaultOutputLocked();
  const OutputDevice* deviceByUIDLocked(const std::string& uid) const;
  // The device whose rate and format an object reports: an output device
  // itself, or an aggregate's master.
  const OutputDevice* formatSourceLocked(AudioObjectID object) const;

  OSStatus readLocked(Operation read, AudioObjectID object, const PropertyAddress& address,
                      std::uint32_t qualifierSize, const void* qualifier, std::uint32_t* ioDataSize,
                      void* outData);
  OSStatus readProcessObjectLocked(AudioObjectID object, std::uint32_t qualifierSize,
                                   const void* qualifier, void* outData);
  OSStatus readDeviceUIDLocked(AudioObjectID object, void* outData);
  OSStatus readStreamFormatLocked(AudioObjectID object, void* outData);
  OSStatus readNominalRateLocked(AudioObjectID object, void* outData);
  OSStatus createAggregateLocked(const PropertyValue& description, AudioObjectID* outDeviceID);
  // Started, and not on an orphaned aggregate device.
  bool deliversLocked(const IOProc& proc) const;
  // The IO proc named by procID on device, or nullptr.
  IOProc* procLocked(AudioObjectID device, IOProcID procID);

  // One cycle rendered from the world as it is, or nullptr when no proc is
  // started; moves the world's frame position on.
  std::shared_ptr<const sim::RenderedCycle> renderNextCycle();
  // Posts a cycle to every started proc; countdown (may be null) learns
  // each cycle's completion.
  void postCycle(const std::shared_ptr<const sim::RenderedCycle>& cycle,
                 const std::shared_ptr<CycleCountdown>& countdown);
  // One clock tick: delivers a cycle, returns the time until the next.
  std::chrono::nanoseconds clockTick();

  mutable std::mutex mutex_;
  AudioObjectID nextObject_ = 0;
  AudioObjectID processObject_ = 0;
  bool processVisible_ = true;
  std::map<AudioObjectID, OutputDevice> devices_;
  AudioObjectID defaultOutput_ = kAudioObjectUnknown;
  std::map<AudioObjectID, std::string> taps_;  // tap id → UUID text
  std::map<AudioObjectID, Aggregate> aggregates_;
  std::uintptr_t nextProc_ = 0;
  std::map<std::uintptr_t, IOProc> procs_;
  std::vector<Listener> listeners_;
  SourceID nextSource_ = 0;
  std::map<SourceID, sim::Signal> sources_;
  sim::CycleLayout layout_;
  std::optional<std::vector<sim::ExactBuffer>> exactBuffers_;
  std::uint64_t framePosition_ = 0;
  std::map<Operation, Fault> faults_;
  std::vector<std::string> journal_;
  std::optional<PropertyValue> lastAggregateDescription_;
  std::optional<TapDescription> lastTapDescription_;

  sim::OperationHold hold_;

  std::mutex clockMutex_;  // guards clock_; never taken with mutex_ held
  std::unique_ptr<sim::RealtimeClock> clock_;
};

}  // namespace mivo::audio
