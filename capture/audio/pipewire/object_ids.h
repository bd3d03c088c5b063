// The audio object ids this backend hands out for things that outlive a
// server connection: one process object per pid and one device per sink
// name (a sink that comes back under its name keeps its id). Taps,
// aggregate devices and IO procs draw fresh ids from the same counter, so
// no two objects ever share an id. Not thread-safe: the backend serialises
// its operations.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

#include "audio/audio_hardware.h"

namespace mivo::audio::pipewire {

class ObjectIds {
 public:
  AudioObjectID fresh() { return next_++; }

  AudioObjectID processObject(pid_t pid);
  std::optional<pid_t> processOf(AudioObjectID id) const;

  AudioObjectID device(const std::string& sinkName);
  const std::string* deviceName(AudioObjectID id) const;

 private:
  AudioObjectID next_ = kAudioObjectSystemObject + 1;
  std::map<pid_t, AudioObjectID> processes_;
  std::map<std::string, AudioObjectID> devices_;
};

}  // namespace mivo::audio::pipewire
