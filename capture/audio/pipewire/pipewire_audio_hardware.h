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
// asynchronously to the caller's queue. The session in use, and connecting
// again after the server went away, are the SessionKeeper's.
#pragma once

#include <mutex>

#include "audio/audio_hardware.h"
#include "audio/pipewire/listener_list.h"
#include "audio/pipewire/object_ids.h"
#include "audio/pipewire/session_keeper.h"
#include "audio/pipewire/thread_loop.h"

namespace mivo::audio::pipewire {

class PipeWireAudioHardware final : public AudioHardware {
 public:
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
  void abandonWaits(const platform::SerialQueue& queue) override {
    loop_.abandonWaits(queue, true);
  }
  void resumeWaits(const platform::SerialQueue& queue) override {
    loop_.abandonWaits(queue, false);
  }

 private:
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
  // Declared after what it uses, so that it goes first.
  SessionKeeper sessions_{loop_, operations_, listeners_};
};

}  // namespace mivo::audio::pipewire
