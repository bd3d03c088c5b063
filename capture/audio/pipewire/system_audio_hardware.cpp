// The shipped library's audio hardware: PipeWire, one backend per process.
#include "audio/audio_hardware.h"
#include "audio/pipewire/pipewire_audio_hardware.h"

namespace mivo::audio {

AudioHardware& systemAudioHardware() {
  // Never destroyed: captures may still be torn down while the process
  // exits, and the server drops everything of ours when the process ends.
  static auto* hardware = new pipewire::PipeWireAudioHardware();
  return *hardware;
}

}  // namespace mivo::audio
