#include <unistd.h>

#include <cmath>
#include <limits>

#include "simulated_test_support.h"

namespace mivo::audio::testing {
namespace {

template <typename T>
OSStatus read(SimulatedAudioSystem& audio, AudioObjectID object, const PropertyAddress& address,
              T& out, const void* qualifier = nullptr, std::uint32_t qualifierSize = 0) {
  out = T{};
  std::uint32_t size = sizeof(T);
  return audio.getPropertyData(object, address, qualifierSize, qualifier, &size, &out);
}

std::optional<std::string> readUID(SimulatedAudioSystem& audio, AudioObjectID object) {
  StringRef text = nullptr;
  if (read(audio, object, kDeviceUIDAddress, text) != kNoErr) return std::nullopt;
  std::string copy(text);
  releaseString(text);
  return copy;
}

using PropertyReads = SimulatedSystemTest;

TEST_F(PropertyReads, ProcessObjectOnlyForTheOwnVisiblePid) {
  const std::int32_t own = getpid();
  const std::int32_t other = own + 1;
  AudioObjectID object = 0;
  EXPECT_EQ(read(audio, kAudioObjectSystemObject, kProcessObjectAddress, object, &own, 4), kNoErr);
  EXPECT_EQ(object, audio.ownProcessObject());
  EXPECT_NE(object, kAudioObjectUnknown);

  EXPECT_EQ(read(audio, kAudioObjectSystemObject, kProcessObjectAddress, object, &other, 4),
            kNoErr);
  EXPECT_EQ(object, kAudioObjectUnknown);

  audio.setOwnProcessVisible(false);
  EXPECT_EQ(read(audio, kAudioObjectSystemObject, kProcessObjectAddress, object, &own, 4), kNoErr);
  EXPECT_EQ(object, kAudioObjectUnknown);

  EXPECT_EQ(read(audio, kAudioObjectSystemObject, kProcessObjectAddress, object, &own, 2),
            kErrBadPropertySize);
  EXPECT_NE(read(audio, kAudioObjectSystemObject, kProcessObjectAddress, object), kNoErr);
}

TEST_F(PropertyReads, DefaultOutputFollowsTheWorld) {
  AudioObjectID device = 0;
  EXPECT_EQ(read(audio, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, device), kNoErr);
  EXPECT_EQ(device, output);

  const auto second = audio.addOutputDevice({"sim-output-B"});
  audio.setDefaultOutput(second);
  EXPECT_EQ(read(audio, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, device), kNoErr);
  EXPECT_EQ(device, second);

  audio.removeOutputDevice(second);
  EXPECT_EQ(read(audio, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, device), kNoErr);
  EXPECT_EQ(device, kAudioObjectUnknown);
}

TEST_F(PropertyReads, DeviceUIDs) {
  EXPECT_EQ(readUID(audio, output), kOutputUID);
  const auto nameless = audio.addOutputDevice({std::nullopt});
  EXPECT_EQ(readUID(audio, nameless), std::nullopt);
  EXPECT_EQ(readUID(audio, 999), std::nullopt);
  createTap();
  EXPECT_EQ(readUID(audio, createAggregate("agg.uid")), "agg.uid");
}

TEST_F(PropertyReads, AggregateReportsItsMastersRateExactly) {
  const double rates[] = {44100,
                          96000,
                          44100.7,
                          0,
                          -1,
                          std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          3e9};
  int n = 0;
  for (const double rate : rates) {
    const auto tag = std::to_string(n++);
    audio.addOutputDevice({"out-" + tag, rate});
    const auto tapUUID = "TAP-" + tag;
    createTap(tapUUID);
    AudioObjectID device = 0;
    ASSERT_EQ(audio.createAggregateDevice(aggregateDescription("agg-" + tag, "out-" + tag, tapUUID),
                                          &device),
              kNoErr);
    double seen = 1234;
    ASSERT_EQ(read(audio, device, kNominalSampleRateAddress, seen), kNoErr);
    if (std::isnan(rate))
      EXPECT_TRUE(std::isnan(seen));
    else
      EXPECT_EQ(seen, rate);
  }
}

TEST_F(PropertyReads, StreamFormatFloatBitAndLayout) {
  audio.addOutputDevice({"int-out", 44100, false});
  createTap();
  AudioObjectID integerAggregate = 0;
  ASSERT_EQ(audio.createAggregateDevice(aggregateDescription("agg-int", "int-out", kTapUUID),
                                        &integerAggregate),
            kNoErr);
  const auto floatAggregate = createAggregate();

  AudioStreamBasicDescription format;
  ASSERT_EQ(read(audio, floatAggregate, kInputStreamFormatAddress, format), kNoErr);
  EXPECT_EQ(format.mFormatFlags & kAudioFormatFlagIsFloat, kAudioFormatFlagIsFloat);
  EXPECT_EQ(format.mFormatID, kAudioFormatLinearPCM);
  EXPECT_EQ(format.mChannelsPerFrame, 2u);
  EXPECT_EQ(format.mSampleRate, 48000);

  ASSERT_EQ(read(audio, integerAggregate, kInputStreamFormatAddress, format), kNoErr);
  EXPECT_EQ(format.mFormatFlags & kAudioFormatFlagIsFloat, 0u);

  sim::CycleLayout sixPlanar{sim::CycleLayout::Kind::Planar, 6, 256, false, std::nullopt};
  audio.setCycleLayout(sixPlanar);
  ASSERT_EQ(read(audio, floatAggregate, kInputStreamFormatAddress, format), kNoErr);
  EXPECT_EQ(format.mChannelsPerFrame, 6u);
  EXPECT_EQ(format.mBytesPerFrame, 4u);
}

TEST_F(PropertyReads, VanishedMasterFailsTheAggregatesReads) {
  createTap();
  const auto device = createAggregate();
  audio.removeOutputDevice(output);
  double rate = 0;
  AudioStreamBasicDescription format;
  EXPECT_NE(read(audio, device, kNominalSampleRateAddress, rate), kNoErr);
  EXPECT_NE(read(audio, device, kInputStreamFormatAddress, format), kNoErr);
}

TEST_F(PropertyReads, MisshapenReadsAreRefused) {
  createTap();
  const auto device = createAggregate();
  std::uint64_t wide = 0;
  double rate = 0;
  AudioStreamBasicDescription format;
  EXPECT_EQ(read(audio, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, wide),
            kErrBadPropertySize);
  EXPECT_EQ(read(audio, device, {kSelectorStreamFormat, kScopeGlobal}, format),
            kErrUnknownProperty);
  EXPECT_EQ(read(audio, device, {fourCharCode("xxxx")}, rate), kErrUnknownProperty);
  EXPECT_EQ(read(audio, 4242, kNominalSampleRateAddress, rate), kErrBadObject);
  EXPECT_EQ(read(audio, device, kDefaultOutputDeviceAddress, wide), kErrBadPropertySize);
  AudioObjectID id = 0;
  EXPECT_EQ(read(audio, device, kDefaultOutputDeviceAddress, id), kErrBadObject);
  std::uint32_t size = sizeof rate;
  EXPECT_EQ(audio.getPropertyData(device, kNominalSampleRateAddress, 0, nullptr, &size, nullptr),
            kErrBadPropertySize);
}

}  // namespace
}  // namespace mivo::audio::testing
