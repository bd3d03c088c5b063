// Building the chain: the descriptions handed to the audio system, the
// status lines, the seven failures and the cached rate.
#include <cmath>
#include <limits>
#include <regex>

#include "capture_fixture.h"

namespace mivo::testing {
namespace {

using audio::OSStatus;
using audio::PropertyValue;

constexpr OSStatus kNope = audio::kErrIllegalOperation;  // 'nope' = 1852797029

using BuildTest = CaptureTest;

std::vector<std::string> teardownCalls(const std::vector<std::string>& journal) {
  std::vector<std::string> calls;
  for (const auto& entry : journal) {
    const std::string op = entry.substr(0, entry.find(' '));
    if (op == "deviceStop" || op == "destroyIOProcID" || op == "destroyAggregateDevice" ||
        op == "destroyProcessTap")
      calls.push_back(op);
  }
  return calls;
}

struct FailureCase {
  std::string name;
  std::function<void(SimulatedAudioSystem&)> arrange;
  std::int32_t code;
  std::string lastError;                    // a trailing '*' matches any rest
  std::vector<std::string> loggedPrefixes;  // status lines that must be there
  std::vector<std::string> teardown;        // teardown calls in order
};

std::vector<FailureCase> failureCases() {
  auto output = [](SimulatedAudioSystem& s, bool isFloat = true) {
    s.setDefaultOutput(s.addOutputDevice({"A", 48000, isFloat}));
  };
  return {
      {"A_NoProcessObject",
       [&](auto& s) {
         output(s);
         s.setOwnProcessVisible(false);
       },
       6,
       "could not translate own PID to a process object",
       {},
       {}},
      {"A_ProcessObjectReadFails",
       [&](auto& s) {
         output(s);
         s.failOnce(Operation::ReadProcessObject, kNope);
       },
       6,
       "could not translate own PID to a process object",
       {},
       {}},
      {"B_TapCreationFails",
       [&](auto& s) {
         output(s);
         s.failOnce(Operation::CreateProcessTap, kNope);
       },
       6,
       "AudioHardwareCreateProcessTap failed: 1852797029",
       {"tap create status=1852797029 id=0 excluding self object "},
       {}},
      {"C_NoDefaultOutput",
       [](auto&) {},
       7,
       "no default output device UID",
       {"tap create status=0 id="},
       {"destroyProcessTap"}},
      {"C_DefaultOutputReadFails",
       [&](auto& s) {
         output(s);
         s.failOnce(Operation::ReadDefaultOutput, kNope);
       },
       7,
       "no default output device UID",
       {},
       {"destroyProcessTap"}},
      {"C_DefaultOutputHasNoUID",
       [](auto& s) {
         s.setDefaultOutput(s.addOutputDevice({std::nullopt, 48000, true}));
       },
       7,
       "no default output device UID",
       {},
       {"destroyProcessTap"}},
      {"D_AggregateCreationFails",
       [&](auto& s) {
         output(s);
         s.failOnce(Operation::CreateAggregateDevice, -50);
       },
       7,
       "AudioHardwareCreateAggregateDevice failed: -50",
       {"aggregate create status=-50 id=0 output=A"},
       {"destroyProcessTap"}},
      {"E_IOProcRegistrationFails",
       [&](auto& s) {
         output(s);
         s.failOnce(Operation::CreateIOProcIDWithBlock, -50);
       },
       8,
       "AudioDeviceCreateIOProcIDWithBlock failed: -50",
       {"ioproc register status=-50"},
       {"destroyAggregateDevice", "destroyProcessTap"}},
      {"F_StartFailsWithFourCharStatus",
       [&](auto& s) {
         output(s);
         s.failOnce(Operation::DeviceStart, kNope);
       },
       8,
       "AudioDeviceStart failed: 1852797029 (nope)",
       {"device start status=1852797029 (nope)"},
       {"deviceStop", "destroyIOProcID", "destroyAggregateDevice", "destroyProcessTap"}},
      {"F_StartFailsWithNegativeStatus",
       [&](auto& s) {
         output(s);
         s.failOnce(Operation::DeviceStart, -10875);
       },
       8,
       "AudioDeviceStart failed: -10875 (-10875)",
       {"device start status=-10875 (-10875)"},
       {"deviceStop", "destroyIOProcID", "destroyAggregateDevice", "destroyProcessTap"}},
      {"G_StreamIsNotFloat",
       [&](auto& s) { output(s, false); },
       7,
       "aggregate stream is not float32 (flags=*",
       {"device start status=0 (0)"},
       {"deviceStop", "destroyIOProcID", "destroyAggregateDevice", "destroyProcessTap"}},
  };
}

class BuildFailures : public BuildTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BuildFailures, ReturnTheirCodeAndTextAndLeaveNothingBehind) {
  const FailureCase& c = GetParam();
  c.arrange(sim());
  sim().clearJournal();
  Host host;
  EXPECT_EQ(host.start(), c.code);
  const std::string text = lastError();
  if (c.lastError.back() == '*')
    EXPECT_EQ(text.rfind(c.lastError.substr(0, c.lastError.size() - 1), 0), 0u) << text;
  else
    EXPECT_EQ(text, c.lastError);
  for (const auto& prefix : c.loggedPrefixes)
    EXPECT_EQ(countLoggedStartingWith(prefix), 1u) << prefix;
  EXPECT_EQ(countLoggedStartingWith("build complete"), 0u);
  EXPECT_EQ(teardownCalls(sim().journal()), c.teardown);
  EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{});
  // Failure texts go to the slot, never to the log.
  for (const auto& line : log()) EXPECT_EQ(line.find(text), std::string::npos) << line;
  EXPECT_EQ(host.frameCallCount(), 0);
  EXPECT_EQ(host.stoppedCount(), 0);
  // The registry is free for the next start.
  EXPECT_NE(host.start(), 1);
}

INSTANTIATE_TEST_SUITE_P(AtoG, BuildFailures, ::testing::ValuesIn(failureCases()),
                         [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(BuildTest, NotFloatMessageUsesTheEmDashAndTheFlagsWord) {
  sim().setDefaultOutput(sim().addOutputDevice({"A", 48000, false}));
  Host host;
  ASSERT_EQ(host.start(), 7);
  EXPECT_TRUE(std::regex_match(
      lastError(),
      std::regex("aggregate stream is not float32 \\(flags=[0-9]+\\) \xE2\x80\x94 refusing")))
      << lastError();
}

TEST_F(BuildTest, SuccessLogsEveryStepInOrder) {
  addDefaultOutput("A", 96000);
  Host host;
  ASSERT_EQ(host.start(), 0);
  const auto lines = log();
  const std::vector<std::string> patterns = {
      "output-change listener installed=true status=0",
      "tap create status=0 id=[1-9][0-9]* excluding self object " +
          std::to_string(sim().ownProcessObject()),
      "aggregate create status=0 id=[1-9][0-9]* output=A",
      "ioproc register status=0",
      "device start status=0 \\(0\\)",
      "build complete: rate=96000 output=A",
  };
  ASSERT_EQ(lines.size(), patterns.size());
  for (std::size_t i = 0; i < patterns.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex("\\[mivo-tap\\] " + patterns[i])))
        << lines[i];
}

TEST_F(BuildTest, DescribesAPrivateUnmutedTapAndAPrivateAggregateAroundTheOutput) {
  addDefaultOutput("Speakers %s %n");  // format directives stay literal
  Host host;
  ASSERT_EQ(host.start(), 0);
  const auto tap = sim().lastTapDescription();
  ASSERT_TRUE(tap);
  EXPECT_EQ(tap->excludedProcesses, std::vector<audio::AudioObjectID>{sim().ownProcessObject()});
  EXPECT_TRUE(tap->stereoMixdown);
  EXPECT_EQ(tap->name, "Mivo Meeting Capture");
  EXPECT_EQ(tap->muteBehavior, 0);
  EXPECT_TRUE(tap->isPrivate);
  EXPECT_TRUE(std::regex_match(
      tap->uuid, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << tap->uuid;

  using Dictionary = PropertyValue::Dictionary;
  using List = PropertyValue::List;
  const PropertyValue expected = Dictionary{
      {"name", "Mivo Capture"},
      {"uid", "app.mivo.capture.tap." + tap->uuid},
      {"master", "Speakers %s %n"},
      {"private", true},
      {"stacked", false},
      {"tapautostart", true},
      {"subdevices", List{Dictionary{{"uid", "Speakers %s %n"}}}},
      {"taps", List{Dictionary{{"drift", true}, {"uid", tap->uuid}}}},
  };
  EXPECT_EQ(sim().lastAggregateDescription(), expected);
  EXPECT_TRUE(logContains("build complete: rate=48000 output=Speakers %s %n"));
}

TEST_F(BuildTest, EveryBuildMakesANewTapUUID) {
  addDefaultOutput("A");
  Host host;
  ASSERT_EQ(host.start(), 0);
  const std::string first = sim().lastTapDescription()->uuid;
  mivo_tap_stop();
  ASSERT_EQ(host.start(), 0);
  EXPECT_NE(sim().lastTapDescription()->uuid, first);
}

TEST_F(BuildTest, AFailedStreamFormatReadDoesNotFailTheBuild) {
  sim().setDefaultOutput(sim().addOutputDevice({"A", 48000, false}));
  sim().failOnce(Operation::ReadStreamFormat, kNope);
  Host host;
  EXPECT_EQ(host.start(), 0);
}

struct RateCase {
  std::string name;
  double nominal;
  std::int32_t cached;
  bool readFails = false;
};

class CachedRate : public BuildTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(CachedRate, IsTheNominalRateTruncatedOrTheFallback) {
  const RateCase& c = GetParam();
  addDefaultOutput("A", c.nominal);
  if (c.readFails) sim().failOnce(Operation::ReadNominalRate, kNope);
  Host host;
  ASSERT_EQ(host.start(), 0);
  EXPECT_TRUE(logContains("build complete: rate=" + std::to_string(c.cached) + " output=A"));
  sim().deliverCycles(1);
  std::lock_guard lock(host.mutex);
  EXPECT_EQ(host.rates, std::vector<std::int32_t>{c.cached});
}

INSTANTIATE_TEST_SUITE_P(
    Rates, CachedRate,
    ::testing::Values(RateCase{"Whole", 44100, 44100}, RateCase{"High", 96000, 96000},
                      RateCase{"FractionDropped", 44100.7, 44100},
                      RateCase{"JustBelowNext", 8000.999, 8000}, RateCase{"Zero", 0, 48000},
                      RateCase{"Negative", -44100, 48000},
                      RateCase{"NaN", std::numeric_limits<double>::quiet_NaN(), 48000},
                      RateCase{"Infinite", std::numeric_limits<double>::infinity(), 48000},
                      RateCase{"TooLarge", 3e9, 48000}, RateCase{"TwoToThe31", 2147483648.0, 48000},
                      RateCase{"LargestThatFits", 2147483647.5, 2147483647},
                      RateCase{"BelowOneHertz", 0.5, 48000},
                      RateCase{"ReadFails", 96000, 48000, true}),
    [](const auto& testInfo) { return testInfo.param.name; });

}  // namespace
}  // namespace mivo::testing
