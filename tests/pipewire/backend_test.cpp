// The PipeWire backend through the audio hardware interface, against the
// private session that pw-session.sh starts (outputs A, the default, and B).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/pipewire/pipewire_audio_hardware.h"
#include "platform/serial_queue.h"
#include "test_support.h"

namespace mivo::audio {
namespace {

using namespace std::chrono_literals;
using pipewire::PipeWireAudioHardware;
using pwtest::eventually;

constexpr double kRate = 48000;

template <typename T>
OSStatus read(AudioHardware& hardware, AudioObjectID object, const PropertyAddress& address,
              T& value, std::optional<std::int32_t> qualifier = std::nullopt) {
  std::uint32_t size = sizeof(T);
  return hardware.getPropertyData(object, address, qualifier ? 4 : 0,
                                  qualifier ? &*qualifier : nullptr, &size, &value);
}

std::optional<std::string> uidOf(AudioHardware& hardware, AudioObjectID device) {
  StringRef text = nullptr;
  if (read(hardware, device, kDeviceUIDAddress, text) != kNoErr) return std::nullopt;
  std::string uid = text;
  releaseString(text);
  return uid;
}

AudioObjectID ownProcessObject(AudioHardware& hardware) {
  AudioObjectID process = 0;
  read(hardware, kAudioObjectSystemObject, kProcessObjectAddress, process, std::int32_t(getpid()));
  return process;
}

PropertyValue aggregateDescription(const std::string& output, const std::string& tapUUID,
                                   const std::string& subdevice) {
  using D = PropertyValue::Dictionary;
  using L = PropertyValue::List;
  return D{{"name", "Mivo Capture"},
           {"uid", "test.tap." + tapUUID},
           {"master", output},
           {"private", true},
           {"stacked", false},
           {"tapautostart", true},
           {"subdevices", L{D{{"uid", subdevice}}}},
           {"taps", L{D{{"drift", true}, {"uid", tapUUID}}}}};
}

// What the IO block received, shared with the block so that it may outlive
// the chain.
struct Received {
  std::mutex mutex;
  std::vector<float> mono;
  std::size_t cycles = 0;
  bool onQueue = true;

  std::vector<float> take() {
    std::lock_guard lock(mutex);
    return std::exchange(mono, {});
  }
  std::size_t cycleCount() {
    std::lock_guard lock(mutex);
    return cycles;
  }
};

// Tap, aggregate device on the default output, IO proc and start, in the
// order the capture library makes them; torn down on destruction.
class CaptureChain {
 public:
  CaptureChain(AudioHardware& hardware, platform::SerialQueue& queue) : hardware_(hardware) {
    build(hardware, queue);
  }

  ~CaptureChain() { tearDown(); }

  // Leaves proc null when a step failed (the failure is reported).
  void build(AudioHardware& hardware, platform::SerialQueue& queue) {
    auto description =
        TapDescription::stereoGlobalTapButExcludeProcesses({ownProcessObject(hardware)});
    description.uuid = "5A1B2C3D-0000-4000-8000-" + std::to_string(100000000000 + ++serial_);
    ASSERT_EQ(hardware.createProcessTap(description, &tap), kNoErr);
    AudioObjectID output = 0;
    ASSERT_EQ(read(hardware, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, output),
              kNoErr);
    auto uid = uidOf(hardware, output);
    ASSERT_TRUE(uid);
    outputUID = *uid;
    ASSERT_EQ(hardware.createAggregateDevice(aggregateDescription(*uid, description.uuid, *uid),
                                             &aggregate),
              kNoErr);
    IOProcID created = nullptr;
    ASSERT_EQ(hardware.createIOProcIDWithBlock(
                  &created, aggregate, queue,
                  [received = received, &queue](const AudioTimeStamp*, const AudioBufferList* input,
                                                const AudioTimeStamp*, AudioBufferList*,
                                                const AudioTimeStamp*) {
                    std::lock_guard lock(received->mutex);
                    received->onQueue = received->onQueue && queue.isCurrent();
                    ++received->cycles;
                    const AudioBuffer& buffer = input->mBuffers[0];
                    const auto* samples = static_cast<const float*>(buffer.mData);
                    std::uint32_t channels = buffer.mNumberChannels;
                    std::uint32_t frames = buffer.mDataByteSize / 4 / channels;
                    for (std::uint32_t f = 0; f < frames; ++f) {
                      float sum = 0;
                      for (std::uint32_t c = 0; c < channels; ++c) sum += samples[f * channels + c];
                      received->mono.push_back(sum / float(channels));
                    }
                  }),
              kNoErr);
    ASSERT_EQ(hardware.deviceStart(aggregate, created), kNoErr);
    proc = created;
  }

  void tearDown() {
    if (proc != nullptr) {
      hardware_.deviceStop(aggregate, proc);
      hardware_.destroyIOProcID(aggregate, proc);
      proc = nullptr;
    }
    if (aggregate != 0) hardware_.destroyAggregateDevice(std::exchange(aggregate, 0));
    if (tap != 0) hardware_.destroyProcessTap(std::exchange(tap, 0));
  }

  // The mono signal of the next seconds, after skipping what came before.
  std::vector<float> record(std::chrono::milliseconds length) {
    received->take();
    std::this_thread::sleep_for(length);
    return received->take();
  }

  AudioObjectID tap = 0;
  AudioObjectID aggregate = 0;
  IOProcID proc = nullptr;
  std::string outputUID;
  std::shared_ptr<Received> received = std::make_shared<Received>();

 private:
  AudioHardware& hardware_;
  static inline int serial_ = 0;
};

class PipeWireBackend : public ::testing::Test {
 protected:
  void TearDown() override { pwtest::run("pactl set-default-sink A"); }

  PipeWireAudioHardware hardware;
  platform::SerialQueue queue{"test.io"};
};

TEST_F(PipeWireBackend, ReadsOwnProcessAndTheDefaultOutputsUID) {
  EXPECT_NE(ownProcessObject(hardware), 0u);
  AudioObjectID output = 0;
  ASSERT_EQ(read(hardware, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, output), kNoErr);
  EXPECT_EQ(uidOf(hardware, output), "A");
}

TEST_F(PipeWireBackend, RefusesReadsThatDoNotFit) {
  ownProcessObject(hardware);  // connected, so each refusal is about the read itself
  struct Case {
    const char* what;
    AudioObjectID object;
    PropertyAddress address;
    std::uint32_t qualifierSize;
    std::uint32_t dataSize;
    OSStatus expected;
  };
  std::int32_t pid = getpid();
  const Case cases[] = {
      {"process object of a device", 7, kProcessObjectAddress, 4, 4, kErrBadObject},
      {"process object without pid", 1, kProcessObjectAddress, 0, 4, kErrParam},
      {"process object into 2 bytes", 1, kProcessObjectAddress, 4, 2, kErrBadPropertySize},
      {"default output of a device", 7, kDefaultOutputDeviceAddress, 0, 4, kErrBadObject},
      {"UID of device 0", 0, kDeviceUIDAddress, 0, 8, kErrBadObject},
      {"UID of an unknown device", 999999, kDeviceUIDAddress, 0, 8, kErrBadObject},
      {"UID into 4 bytes", 1, kDeviceUIDAddress, 0, 4, kErrBadPropertySize},
      {"stream format of the system", 1, kInputStreamFormatAddress, 0, 40, kErrBadObject},
      {"stream format, global scope", 1, {kSelectorStreamFormat}, 0, 40, kErrUnknownProperty},
      {"rate of the system", 1, kNominalSampleRateAddress, 0, 8, kErrBadObject},
      {"unknown selector", 1, {fourCharCode("zzzz")}, 0, 8, kErrUnknownProperty},
  };
  for (const Case& c : cases) {
    std::uint8_t data[64] = {};
    std::uint32_t size = c.dataSize;
    EXPECT_EQ(hardware.getPropertyData(c.object, c.address, c.qualifierSize,
                                       c.qualifierSize ? &pid : nullptr, &size, data),
              c.expected)
        << c.what;
  }
}

TEST_F(PipeWireBackend, AggregateOnSilenceRunsAtTheOutputsRateInFloat) {
  CaptureChain chain(hardware, queue);
  ASSERT_NE(chain.proc, nullptr);
  AudioStreamBasicDescription format;
  ASSERT_EQ(read(hardware, chain.aggregate, kInputStreamFormatAddress, format), kNoErr);
  EXPECT_TRUE(format.mFormatFlags & kAudioFormatFlagIsFloat);
  EXPECT_EQ(format.mChannelsPerFrame, 2u);
  EXPECT_EQ(format.mSampleRate, kRate);
  double rate = 0;
  ASSERT_EQ(read(hardware, chain.aggregate, kNominalSampleRateAddress, rate), kNoErr);
  EXPECT_EQ(rate, kRate);
  StringRef uid = nullptr;
  ASSERT_EQ(read(hardware, chain.aggregate, kDeviceUIDAddress, uid), kNoErr);
  EXPECT_EQ(std::string(uid).rfind("test.tap.", 0), 0u);
  releaseString(uid);

  // Nothing plays, yet cycles run: silence, about in real time.
  auto silence = chain.record(2s);
  EXPECT_GT(silence.size(), std::size_t(kRate));
  EXPECT_LT(silence.size(), std::size_t(3 * kRate));
  for (float sample : silence) ASSERT_EQ(sample, 0.0f);
  std::lock_guard lock(chain.received->mutex);
  EXPECT_TRUE(chain.received->onQueue);
}

TEST_F(PipeWireBackend, CapturesAForeignToneButNotItsOwnAndLeavesTheToneOnItsOutput) {
  pwtest::OwnTone own(880);
  ASSERT_TRUE(own.isPlaying());
  pwtest::ForeignPlayer foreign(440);
  CaptureChain chain(hardware, queue);
  ASSERT_NE(chain.proc, nullptr);
  ASSERT_TRUE(eventually(5s, [&] {
    return pwtest::toneAmplitude(chain.record(200ms), 440, kRate) > 0.4;  // both sides linked
  }));
  // The tone plays at 0.5 on both channels.
  auto signal = chain.record(1s);
  EXPECT_GT(pwtest::steadyToneAmplitude(signal, 440, kRate), 0.4);
  EXPECT_LT(pwtest::toneAmplitude(signal, 880, kRate), 0.01);

  // The foreign stream still feeds output A besides the capture node.
  std::string links = pwtest::commandOutput("pw-link -l");
  auto tone = links.find("mivo-test-tone:output_FL");
  ASSERT_NE(tone, std::string::npos) << links;
  EXPECT_NE(links.find("|-> A:playback_FL", tone), std::string::npos) << links;
  EXPECT_NE(links.find("|-> mivo-capture.", tone), std::string::npos) << links;
}

TEST_F(PipeWireBackend, FollowsTheDefaultOutputAndCallsListenersOnTheirQueue) {
  std::atomic<int> calls = 0;
  std::atomic<bool> onQueue = true;
  auto listener = std::make_shared<const PropertyListener>([&](std::uint32_t count,
                                                               const PropertyAddress* addresses) {
    onQueue =
        onQueue && queue.isCurrent() && count == 1 && addresses[0] == kDefaultOutputDeviceAddress;
    ++calls;
  });
  ASSERT_EQ(hardware.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                         queue, listener),
            kNoErr);
  ASSERT_TRUE(pwtest::run("pactl set-default-sink B"));
  EXPECT_TRUE(eventually(5s, [&] { return calls > 0; }));
  AudioObjectID output = 0;
  ASSERT_EQ(read(hardware, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, output), kNoErr);
  EXPECT_EQ(uidOf(hardware, output), "B");
  EXPECT_TRUE(onQueue);

  ASSERT_EQ(hardware.removePropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                            queue, listener),
            kNoErr);
  queue.sync([] {});
  int callsAtRemoval = calls;
  ASSERT_TRUE(pwtest::run("pactl set-default-sink A"));
  ASSERT_TRUE(eventually(5s, [&] {
    read(hardware, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, output);
    return uidOf(hardware, output) == "A";
  }));
  queue.sync([] {});
  EXPECT_EQ(calls, callsAtRemoval);
}

TEST_F(PipeWireBackend, ReadsASwitchWithNobodyListeningAfterTheMetadataWentDeaf) {
  AudioObjectID output = 0;
  ASSERT_EQ(read(hardware, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, output), kNoErr);
  ASSERT_EQ(uidOf(hardware, output), "A");
  pwtest::DefaultSinkObserver bystander;  // long-lived, like the backend's own binding
  pid_t sessionManager = pwtest::daemonPid("wireplumber");
  ASSERT_GT(sessionManager, 0);
  ASSERT_EQ(kill(sessionManager, SIGSTOP), 0);
  pwtest::bindDefaultMetadataAndVanish();
  ASSERT_EQ(kill(sessionManager, SIGCONT), 0);

  ASSERT_TRUE(pwtest::run("pactl set-default-sink B"));
  EXPECT_TRUE(eventually(5s, [&] {
    read(hardware, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, output);
    return uidOf(hardware, output) == "B";
  }));
  EXPECT_EQ(bystander.lastHeard().find("\"B\""), std::string::npos)
      << "the deaf binding was not reproduced: " << bystander.lastHeard();
}

TEST_F(PipeWireBackend, RefusesAggregatesItCannotBuild) {
  auto tapDescription =
      TapDescription::stereoGlobalTapButExcludeProcesses({ownProcessObject(hardware)});
  tapDescription.uuid = "0E2F4A6B-1111-4222-8333-444455556666";
  AudioObjectID tap = 0;
  ASSERT_EQ(hardware.createProcessTap(tapDescription, &tap), kNoErr);
  struct Case {
    const char* what;
    PropertyValue description;
  };
  const Case cases[] = {
      {"output that does not exist", aggregateDescription("Z", tapDescription.uuid, "Z")},
      {"tap that does not exist",
       aggregateDescription("A", "00000000-0000-4000-8000-000000000000", "A")},
      {"output not among the subdevices", aggregateDescription("A", tapDescription.uuid, "B")},
      {"not a dictionary", PropertyValue("A")},
  };
  for (const Case& c : cases) {
    AudioObjectID device = 12345;
    EXPECT_NE(hardware.createAggregateDevice(c.description, &device), kNoErr) << c.what;
    EXPECT_EQ(device, 0u) << c.what;
  }
  EXPECT_EQ(hardware.destroyProcessTap(tap), kNoErr);
  EXPECT_NE(hardware.destroyProcessTap(tap), kNoErr);

  tapDescription.excludedProcesses = {424242};
  EXPECT_NE(hardware.createProcessTap(tapDescription, &tap), kNoErr) << "unknown process object";
}

TEST_F(PipeWireBackend, TeardownLeavesNoNodeOrLinkOnTheServer) {
  pwtest::ForeignPlayer foreign(440);
  {
    CaptureChain chain(hardware, queue);
    ASSERT_NE(chain.proc, nullptr);
    ASSERT_TRUE(eventually(5s, [] {
      return pwtest::commandOutput("pw-link -l").find("mivo-capture.") != std::string::npos;
    }));
  }
  EXPECT_TRUE(eventually(5s, [] {
    return pwtest::commandOutput("pw-link -l; pw-cli ls Node").find("mivo-capture") ==
           std::string::npos;
  }));
}

TEST_F(PipeWireBackend, SubmitsNothingToTheQueueOnceTheProcIsDestroyed) {
  CaptureChain chain(hardware, queue);
  ASSERT_NE(chain.proc, nullptr);
  ASSERT_TRUE(eventually(5s, [&] { return chain.received->cycleCount() > 10; }));
  ASSERT_EQ(hardware.deviceStop(chain.aggregate, chain.proc), kNoErr);
  ASSERT_EQ(hardware.destroyIOProcID(chain.aggregate, chain.proc), kNoErr);
  chain.proc = nullptr;
  queue.sync([] {});  // what was submitted before may still run; then nothing more
  auto cycles = chain.received->cycleCount();
  std::this_thread::sleep_for(300ms);
  queue.sync([] {});
  EXPECT_EQ(chain.received->cycleCount(), cycles);
}

TEST(NoServer, EveryReadThatNeedsTheServerSaysItIsNotRunning) {
  setenv("PIPEWIRE_REMOTE", "mivo-no-such-server", 1);
  PipeWireAudioHardware hardware;
  platform::SerialQueue queue("test.io");
  int threads = pwtest::threadCount();
  for (int attempt = 0; attempt < 20; ++attempt) {
    AudioObjectID object = 0;
    EXPECT_EQ(read(hardware, kAudioObjectSystemObject, kProcessObjectAddress, object,
                   std::int32_t(getpid())),
              kErrNotRunning);
    EXPECT_EQ(read(hardware, kAudioObjectSystemObject, kDefaultOutputDeviceAddress, object),
              kErrNotRunning);
    auto listener =
        std::make_shared<const PropertyListener>([](std::uint32_t, const PropertyAddress*) {});
    EXPECT_NE(hardware.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                           queue, listener),
              kNoErr);
  }
  EXPECT_EQ(pwtest::threadCount(), threads);
  unsetenv("PIPEWIRE_REMOTE");
}

// The server's pid: the first the session script recorded.
pid_t serverPid() {
  const char* folder = std::getenv("MIVO_PW_SESSION_DIR");
  if (folder == nullptr) return -1;
  std::ifstream pids(std::string(folder) + "/pids");
  std::string name;
  pid_t pid = -1;
  pids >> name >> pid;
  return pid;
}

TEST(ServerLoss, ACaptureWhoseServerDiesNeitherCrashesNorHangs) {
  PipeWireAudioHardware hardware;
  platform::SerialQueue queue("test.io");
  std::atomic<int> calls = 0;
  auto listener = std::make_shared<const PropertyListener>(
      [&](std::uint32_t, const PropertyAddress*) { ++calls; });
  ASSERT_EQ(hardware.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                         queue, listener),
            kNoErr);
  CaptureChain chain(hardware, queue);
  ASSERT_NE(chain.proc, nullptr);
  ASSERT_TRUE(eventually(5s, [&] { return chain.received->cycleCount() > 10; }));
  int callsBefore = calls;

  pid_t server = serverPid();
  ASSERT_GT(server, 0);
  ASSERT_EQ(kill(server, SIGKILL), 0);

  // The listener hears of it (the default output is gone), the reads say
  // there is no server, and teardown completes.
  EXPECT_TRUE(eventually(5s, [&] { return calls > callsBefore; }));
  AudioObjectID object = 0;
  EXPECT_TRUE(eventually(5s, [&] {
    return read(hardware, kAudioObjectSystemObject, kProcessObjectAddress, object,
                std::int32_t(getpid())) == kErrNotRunning;
  }));
  chain.tearDown();
  EXPECT_EQ(hardware.removePropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                            queue, listener),
            kNoErr);
}

}  // namespace
}  // namespace mivo::audio
