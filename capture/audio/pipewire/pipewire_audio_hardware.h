// The audio hardware interface on a PipeWire server (with a session manager
// such as WirePlumber):
//   process object   a pid, as PipeWire knows the process behind a stream
//   output device    a sink node, known by its node.name (its UID); the
//                    default one is the "default" metadata's default.audio.sink
//   process tap      links from every playback stream of another process
//                    into the capture node of the aggregate device
//   aggregate device a capture stream of ours, always processing, at the
//                    output device's rate
//   IO proc          delivery of each cycle of that stream to a block
// Operations are serialised; blocks and listeners are only ever submitted
// asynchronously to the caller's queue. When the server of the session in
// use goes away, the listeners are told at once and, for as long as someone
// listens, a timer on the loop thread connects again with growing pauses
// (no thread of its own, no busy loop); once the new session has read the
// graph and the default output it is put in use and the listeners are told
// again. Objects of the lost session stay gone; until then operations find
// no server.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "audio/audio_hardware.h"
#include "audio/pipewire/core_session.h"
#include "audio/pipewire/listener_list.h"
#include "audio/pipewire/object_ids.h"
#include "audio/pipewire/thread_loop.h"

namespace mivo::audio::pipewire {

// The pauses between attempts to connect again after a loss.
constexpr std::chrono::milliseconds kFirstRetry{50};
constexpr std::chrono::milliseconds kLongestRetry{1000};
// How often an opening session is looked at until it has settled.
constexpr std::chrono::milliseconds kSettlePoll{20};
// How long destruction waits for a binding's answer.
constexpr std::chrono::milliseconds kReleaseTimeout{1000};

class PipeWireAudioHardware final : public AudioHardware {
 public:
  PipeWireAudioHardware();
  ~PipeWireAudioHardware() override;

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
  void abandonWaits() override { loop_.abandonWaits(true); }
  void resumeWaits() override { loop_.abandonWaits(false); }

 private:
  // With the loop locked: the live session, connecting first if there is
  // none (or the old one was lost); nullptr when no server answers.
  CoreSession* connectedSession();
  // With the loop locked: the live session, or nullptr.
  CoreSession* liveSession();
  // With the loop locked: a session opening, not waited for; nullptr when
  // no server takes the connection.
  std::unique_ptr<CoreSession> openSession();
  // With the loop locked: the opening session becomes the one in use.
  void putInUse();
  // The reconnect timer's step, on the loop thread.
  void reconnectTick();
  // Whether dropping the session now deafens nobody: it is lost, or none of
  // its bindings of the default metadata still waits for its answer.
  static bool discardable(const std::unique_ptr<CoreSession>& session);
  std::optional<std::string> outputOfLostSession() const;
  AggregateDevice* findAggregate(AudioObjectID device);

  OSStatus readProcessObject(std::uint32_t qualifierSize, const void* qualifier,
                             std::uint32_t* ioDataSize, void* outData);
  OSStatus readDefaultOutput(std::uint32_t* ioDataSize, void* outData);
  void lookAfresh(CoreSession& session);
  OSStatus readDeviceUID(AudioObjectID object, std::uint32_t* ioDataSize, void* outData);
  OSStatus readStreamFormat(AudioObjectID object, std::uint32_t* ioDataSize, void* outData);
  OSStatus readNominalRate(AudioObjectID object, std::uint32_t* ioDataSize, void* outData);
  bool waitUntilReady(AudioObjectID device);

  std::mutex operations_;  // one operation at a time; taken before the loop lock
  ThreadLoop loop_;
  ListenerList listeners_;
  ObjectIds ids_;
  // All declared after loop_, and reset in the destructor under its lock.
  // The session in use; may be lost until the timer replaces it.
  std::unique_ptr<CoreSession> session_;
  // A session opening, by an operation or the timer, to replace a missing one.
  std::unique_ptr<CoreSession> opening_;
  std::unique_ptr<LoopTimer> reconnectTimer_;
  bool reconnecting_ = false;  // the timer connects again; operations do not
  // While reconnecting: the output of the lost capture devices, until it has
  // been reported as the default once; and the same, for its UID.
  std::optional<std::string> lostOutput_;
  std::optional<std::string> lastLostOutput_;
  std::chrono::milliseconds backoff_{0};
};

}  // namespace mivo::audio::pipewire
