// Shared set-up for the simulated audio system's tests: a system with one
// output device, a queue for blocks and listeners, and helpers that build
// the usual chain (tap, aggregate device, IO proc) on it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/simulated/simulated_audio_system.h"
#include "platform/serial_queue.h"

namespace mivo::audio::testing {

inline constexpr const char* kTapUUID = "6F1A2B3C-0000-4000-8000-00000000AAAA";
inline constexpr const char* kOutputUID = "sim-output-A";

// The eight-key description the capture library sends.
PropertyValue aggregateDescription(const std::string& uid, const std::string& masterUID,
                                   const std::string& tapUUID);

// What the IO block of a test saw in one cycle.
struct SeenCycle {
  std::vector<AudioBuffer> buffers;
  std::vector<std::vector<float>> samples;  // floor(size / 4) floats of each non-null buffer
  double sampleTime = 0;
  bool onQueue = false;
};

class SimulatedSystemTest : public ::testing::Test {
 protected:
  SimulatedSystemTest();
  ~SimulatedSystemTest() override;

  AudioObjectID createTap(const std::string& uuid = kTapUUID);
  AudioObjectID createAggregate(const std::string& uid = "test.tap.1");
  // An IO proc on device whose block records every cycle into seen().
  IOProcID createRecordingProc(AudioObjectID device);
  // Tap, aggregate and a started recording proc.
  IOProcID startChain();
  std::vector<SeenCycle> seen();

  platform::SerialQueue queue{"sim.test.io"};
  SimulatedAudioSystem audio;
  AudioObjectID output = 0;
  AudioObjectID aggregate = 0;

 private:
  std::mutex seenMutex_;
  std::vector<SeenCycle> seen_;
};

}  // namespace mivo::audio::testing
