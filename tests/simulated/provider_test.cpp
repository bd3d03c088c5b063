#include <gtest/gtest.h>

#include "audio/simulated/simulated_audio_system.h"

namespace mivo::audio {
namespace {

TEST(Provider, SystemHardwareIsTheSharedEmptyWorld) {
  auto& shared = SimulatedAudioSystem::shared();
  EXPECT_EQ(&systemAudioHardware(), &shared);
  AudioObjectID device = 99;
  std::uint32_t size = sizeof device;
  ASSERT_EQ(systemAudioHardware().getPropertyData(
                kAudioObjectSystemObject, kDefaultOutputDeviceAddress, 0, nullptr, &size, &device),
            kNoErr);
  EXPECT_EQ(device, kAudioObjectUnknown);
  shared.reset();
}

}  // namespace
}  // namespace mivo::audio
