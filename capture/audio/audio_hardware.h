// The one seam between the capture logic and a machine's audio system.
//
// Everything above this header (registry, capture object, build, IO cycle,
// follower) talks to audio only through AudioHardware. Backends live in
// their own folders (simulated/, pipewire/) and never leak their headers
// upwards. Identifiers, statuses and property addresses keep the meaning
// the capture logic was written against: statuses are 0 on success,
// objects are 32-bit ids with 0 meaning none, the system object is 1.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/property_value.h"

namespace mivo::platform {
class SerialQueue;
}

namespace mivo::audio {

using OSStatus = std::int32_t;
using AudioObjectID = std::uint32_t;

constexpr OSStatus kNoErr = 0;
constexpr AudioObjectID kAudioObjectUnknown = 0;
constexpr AudioObjectID kAudioObjectSystemObject = 1;

// Four-character code, first character most significant.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
  return (std::uint32_t(std::uint8_t(code[0])) << 24) |
         (std::uint32_t(std::uint8_t(code[1])) << 16) |
         (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

constexpr std::uint32_t kSelectorTranslatePIDToProcessObject = fourCharCode("id2p");
constexpr std::uint32_t kSelectorDefaultOutputDevice = fourCharCode("dOut");
constexpr std::uint32_t kSelectorDeviceUID = fourCharCode("uid ");
constexpr std::uint32_t kSelectorStreamFormat = fourCharCode("sfmt");
constexpr std::uint32_t kSelectorNominalSampleRate = fourCharCode("nsrt");
constexpr std::uint32_t kScopeGlobal = fourCharCode("glob");
constexpr std::uint32_t kScopeInput = fourCharCode("inpt");
constexpr std::uint32_t kElementMain = 0;

// Statuses a backend may return besides kNoErr.
constexpr OSStatus kErrUnspecified = fourCharCode("what");
constexpr OSStatus kErrBadObject = fourCharCode("!obj");
constexpr OSStatus kErrUnknownProperty = fourCharCode("who?");
constexpr OSStatus kErrBadPropertySize = fourCharCode("!siz");
constexpr OSStatus kErrIllegalOperation = fourCharCode("nope");
constexpr OSStatus kErrNotRunning = fourCharCode("stop");  // no sound server
constexpr OSStatus kErrParam = -50;

struct PropertyAddress {
  std::uint32_t selector = 0;
  std::uint32_t scope = kScopeGlobal;
  std::uint32_t element = kElementMain;
  friend bool operator==(const PropertyAddress&, const PropertyAddress&) = default;
};

constexpr PropertyAddress kProcessObjectAddress{kSelectorTranslatePIDToProcessObject};
constexpr PropertyAddress kDefaultOutputDeviceAddress{kSelectorDefaultOutputDevice};
constexpr PropertyAddress kDeviceUIDAddress{kSelectorDeviceUID};
constexpr PropertyAddress kInputStreamFormatAddress{kSelectorStreamFormat, kScopeInput};
constexpr PropertyAddress kNominalSampleRateAddress{kSelectorNominalSampleRate};

// The 40-byte stream description of the 'sfmt' read.
struct AudioStreamBasicDescription {
  double mSampleRate = 0;
  std::uint32_t mFormatID = 0;
  std::uint32_t mFormatFlags = 0;
  std::uint32_t mBytesPerPacket = 0;
  std::uint32_t mFramesPerPacket = 0;
  std::uint32_t mBytesPerFrame = 0;
  std::uint32_t mChannelsPerFrame = 0;
  std::uint32_t mBitsPerChannel = 0;
  std::uint32_t mReserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
constexpr std::uint32_t kAudioFormatFlagIsFloat = 1u << 0;

// The 'uid ' read yields this 8-byte reference: a heap string that the
// reader owns and releases with releaseString().
using StringRef = char*;
inline StringRef makeStringRef(const std::string& text) {
  auto* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}
inline void releaseString(StringRef s) { delete[] s; }

// One IO cycle's buffers. Data is 32-bit float samples; mData may be null.
struct AudioBuffer {
  std::uint32_t mNumberChannels = 0;
  std::uint32_t mDataByteSize = 0;
  void* mData = nullptr;
};

struct AudioBufferList {
  std::uint32_t mNumberBuffers = 0;
  AudioBuffer* mBuffers = nullptr;  // mNumberBuffers entries
};

struct AudioTimeStamp {
  double mSampleTime = 0;
  std::uint64_t mHostTime = 0;
};

// Runs on the queue it was registered with, once per IO cycle.
using IOBlock = std::function<void(const AudioTimeStamp* now, const AudioBufferList* input,
                                   const AudioTimeStamp* inputTime, AudioBufferList* output,
                                   const AudioTimeStamp* outputTime)>;

// Opaque; nullptr means none.
using IOProcID = struct IOProcOpaque*;

// A property listener. Removal is matched by the identity of this object
// (the shared_ptr's target), never by comparing functions.
using PropertyListener = std::function<void(std::uint32_t count, const PropertyAddress* addresses)>;
using PropertyListenerBlock = std::shared_ptr<const PropertyListener>;

// Description of a process tap: a stereo mix of every process's output
// except the listed process objects.
struct TapDescription {
  static TapDescription stereoGlobalTapButExcludeProcesses(std::vector<AudioObjectID> processes) {
    TapDescription d;
    d.excludedProcesses = std::move(processes);
    return d;
  }
  std::vector<AudioObjectID> excludedProcesses;
  bool stereoMixdown = true;
  std::string uuid;  // canonical upper-case UUID text naming the tap
  std::string name;
  int muteBehavior = 0;  // 0: the tapped audio still plays
  bool isPrivate = false;
};

// Queue contract for backends: an IO block or listener is only ever
// submitted asynchronously to its queue. Once destroyIOProcID or
// removePropertyListener has returned, the backend submits nothing more for
// that proc or listener and no longer touches the queue. Neither call waits
// for work already on the queue: the caller may be running on it.
class AudioHardware {
 public:
  virtual ~AudioHardware() = default;

  // The reads at the addresses above. *ioDataSize is the size of *outData
  // on entry and the size written on return. Data is valid only on kNoErr.
  virtual OSStatus getPropertyData(AudioObjectID object, const PropertyAddress& address,
                                   std::uint32_t qualifierSize, const void* qualifier,
                                   std::uint32_t* ioDataSize, void* outData) = 0;

  virtual OSStatus createProcessTap(const TapDescription& description, AudioObjectID* outTapID) = 0;
  virtual OSStatus createAggregateDevice(const PropertyValue& description,
                                         AudioObjectID* outDeviceID) = 0;
  virtual OSStatus createIOProcIDWithBlock(IOProcID* outProcID, AudioObjectID device,
                                           platform::SerialQueue& queue, IOBlock block) = 0;
  virtual OSStatus deviceStart(AudioObjectID device, IOProcID procID) = 0;

  virtual OSStatus deviceStop(AudioObjectID device, IOProcID procID) = 0;
  virtual OSStatus destroyIOProcID(AudioObjectID device, IOProcID procID) = 0;
  virtual OSStatus destroyAggregateDevice(AudioObjectID device) = 0;
  virtual OSStatus destroyProcessTap(AudioObjectID tap) = 0;

  virtual OSStatus addPropertyListener(AudioObjectID object, const PropertyAddress& address,
                                       platform::SerialQueue& queue,
                                       const PropertyListenerBlock& listener) = 0;
  virtual OSStatus removePropertyListener(AudioObjectID object, const PropertyAddress& address,
                                          platform::SerialQueue& queue,
                                          const PropertyListenerBlock& listener) = 0;

  // From abandonWaits(queue) until the matching resumeWaits(queue) (pairs
  // may nest), a call made on queue's thread that waits for the sound
  // system (an answer, a connection, a node's removal) gives up at once and
  // fails, also one already waiting: a stop must not be held up by a server
  // that does not answer. Calls made elsewhere (another capture starting)
  // wait as before. What such a call made is still removed. Any thread.
  virtual void abandonWaits(const platform::SerialQueue& queue) = 0;
  virtual void resumeWaits(const platform::SerialQueue& queue) = 0;
};

// The backend this build of the library runs on; defined by exactly one
// backend library linked into the binary.
AudioHardware& systemAudioHardware();

}  // namespace mivo::audio
