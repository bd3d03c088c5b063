#include "audio/simulated/simulated_audio_system.h"

namespace mivo::audio {

AudioHardware& systemAudioHardware() {
  static SimulatedAudioSystem& demo = []() -> SimulatedAudioSystem& {
    auto& system = SimulatedAudioSystem::shared();
    system.installDemoWorld();
    return system;
  }();
  return demo;
}

}  // namespace mivo::audio
