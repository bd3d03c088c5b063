#include "audio/simulated/simulated_audio_system.h"

namespace mivo::audio {

AudioHardware& systemAudioHardware() { return SimulatedAudioSystem::shared(); }

}  // namespace mivo::audio
