#include "simulated_test_support.h"

namespace mivo::audio::testing {

PropertyValue aggregateDescription(const std::string& uid, const std::string& masterUID,
                                   const std::string& tapUUID) {
  using Dictionary = PropertyValue::Dictionary;
  using List = PropertyValue::List;
  return Dictionary{{"name", "Test Aggregate"},
                    {"uid", uid},
                    {"master", masterUID},
                    {"private", true},
                    {"stacked", false},
                    {"tapautostart", true},
                    {"subdevices", List{Dictionary{{"uid", masterUID}}}},
                    {"taps", List{Dictionary{{"drift", true}, {"uid", tapUUID}}}}};
}

SimulatedSystemTest::SimulatedSystemTest() {
  output = audio.addOutputDevice({kOutputUID, 48000, true});
  audio.setDefaultOutput(output);
}

// After reset() nothing more is posted; the drain lets cycles already on the
// queue finish before the recording they write to goes.
SimulatedSystemTest::~SimulatedSystemTest() {
  audio.reset();
  queue.sync([] {});
}

AudioObjectID SimulatedSystemTest::createTap(const std::string& uuid) {
  auto description = TapDescription::stereoGlobalTapButExcludeProcesses({audio.ownProcessObject()});
  description.uuid = uuid;
  AudioObjectID tap = 0;
  EXPECT_EQ(audio.createProcessTap(description, &tap), kNoErr);
  return tap;
}

AudioObjectID SimulatedSystemTest::createAggregate(const std::string& uid) {
  AudioObjectID device = 0;
  EXPECT_EQ(audio.createAggregateDevice(aggregateDescription(uid, kOutputUID, kTapUUID), &device),
            kNoErr);
  return device;
}

IOProcID SimulatedSystemTest::createRecordingProc(AudioObjectID device) {
  IOProcID proc = nullptr;
  auto record = [this](const AudioTimeStamp* now, const AudioBufferList* input,
                       const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*) {
    SeenCycle cycle;
    cycle.sampleTime = now->mSampleTime;
    cycle.onQueue = queue.isCurrent();
    for (std::uint32_t i = 0; i < input->mNumberBuffers; ++i) {
      const auto& buffer = input->mBuffers[i];
      cycle.buffers.push_back(buffer);
      const auto* data = static_cast<const float*>(buffer.mData);
      cycle.samples.emplace_back(data, data == nullptr ? data : data + buffer.mDataByteSize / 4);
    }
    std::lock_guard lock(seenMutex_);
    seen_.push_back(std::move(cycle));
  };
  EXPECT_EQ(audio.createIOProcIDWithBlock(&proc, device, queue, record), kNoErr);
  return proc;
}

IOProcID SimulatedSystemTest::startChain() {
  createTap();
  aggregate = createAggregate();
  const auto proc = createRecordingProc(aggregate);
  EXPECT_EQ(audio.deviceStart(aggregate, proc), kNoErr);
  return proc;
}

std::vector<SeenCycle> SimulatedSystemTest::seen() {
  std::lock_guard lock(seenMutex_);
  return seen_;
}

}  // namespace mivo::audio::testing
