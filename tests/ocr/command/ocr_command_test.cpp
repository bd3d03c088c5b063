#include <gtest/gtest.h>

#include "command/scripted_platform.h"

namespace mivo::ocr::testing {
namespace {

struct ObservationCase {
  const char* name;
  std::vector<TextObservation> observations;
  const char* expectedLine;
};

class ReductionToResult : public ::testing::TestWithParam<ObservationCase> {};

TEST_P(ReductionToResult, PrintsTheExpectedResultLine) {
  ScriptedPlatform platform;
  platform.recognizer.outcome = RecognitionResults{GetParam().observations};
  const CommandRun run = platform.run({"mivo-ocr", "shot.png"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, std::string(GetParam().expectedLine) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    ScriptedObservations, ReductionToResult,
    ::testing::Values(
        ObservationCase{"NoObservations", {}, R"({"confidence":0.0,"line_count":0,"text":""})"},
        ObservationCase{"ObservationWithoutCandidateIsSkipped",
                        {line("first", 0.5F), withoutCandidate(), line("second", 1.0F)},
                        R"({"confidence":0.75,"line_count":2,"text":"first\nsecond"})"},
        ObservationCase{"OnlyObservationsWithoutCandidates",
                        {withoutCandidate(), withoutCandidate()},
                        R"({"confidence":0.0,"line_count":0,"text":""})"},
        ObservationCase{"EmptyStringIsALine",
                        {line("", 0.25F), line("after", 0.75F), line("", 0.5F)},
                        R"({"confidence":0.5,"line_count":3,"text":"\nafter\n"})"},
        ObservationCase{"LinesAreNotTrimmed",
                        {line("  padded ", 1.0F)},
                        R"({"confidence":1.0,"line_count":1,"text":"  padded "})"},
        ObservationCase{"HalfwayRoundsAwayFromZero",
                        {line("x", 0.0625F)},
                        R"({"confidence":0.063,"line_count":1,"text":"x"})"},
        ObservationCase{"RoundsUpToOne",
                        {line("x", 0.9996F)},
                        R"({"confidence":1.0,"line_count":1,"text":"x"})"},
        ObservationCase{"SumIsThirtyTwoBit",
                        {line("a", 0.001F), line("b", 0.05F)},
                        R"({"confidence":0.025,"line_count":2,"text":"a\nb"})"},
        ObservationCase{"TextIsEscapedOnOneLine",
                        {line("path a/b \"quoted\"\ttab", 1.0F)},
                        R"({"confidence":1.0,"line_count":1,"text":"path a\/b \"quoted\"\ttab"})"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(OcrCommand, NoResultsArrayGivesTheEmptyResult) {
  ScriptedPlatform platform;
  platform.recognizer.outcome = RecognitionResults{std::nullopt};
  const CommandRun run = platform.run({"mivo-ocr", "shot.png"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "{\"confidence\":0.0,\"line_count\":0,\"text\":\"\"}\n");
}

TEST(OcrCommand, RecognitionFailureCarriesTheEngineDescription) {
  ScriptedPlatform platform;
  platform.recognizer.outcome = RecognitionFailure{"model missing"};
  const CommandRun run = platform.run({"mivo-ocr", "shot.png"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "{\"error\":\"Vision request failed: model missing\"}\n");
}

TEST(OcrCommand, WithoutArgumentPrintsUsageAndTouchesNothing) {
  ScriptedPlatform platform;
  const CommandRun run = platform.run({"/usr/local/bin/other-name"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "{\"error\":\"Usage: mivo-ocr <image_path>\"}\n");
  EXPECT_TRUE(platform.existenceChecks.empty());
}

TEST(OcrCommand, ArgumentsAfterThePathAreIgnored) {
  ScriptedPlatform platform;
  platform.recognizer.outcome = RecognitionResults{std::vector{line("only", 1.0F)}};
  const CommandRun run = platform.run({"mivo-ocr", "first.png", "second.png", "--flag"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(platform.existenceChecks, std::vector<std::string>{"first.png"});
  EXPECT_EQ(platform.decoder.openedPaths, std::vector<std::string>{"first.png"});
}

TEST(OcrCommand, MissingFileIsNeverOpened) {
  ScriptedPlatform platform;
  platform.fileExists = false;
  const CommandRun run = platform.run({"mivo-ocr", "../shots/a b.png"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "{\"error\":\"File not found: ..\\/shots\\/a b.png\"}\n");
  EXPECT_TRUE(platform.decoder.openedPaths.empty());
}

TEST(OcrCommand, UnreadableSourceIsNeverDecoded) {
  ScriptedPlatform platform;
  platform.decoder.sourceAvailable = false;
  const CommandRun run = platform.run({"mivo-ocr", "dir"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "{\"error\":\"Failed to create image source from: dir\"}\n");
  EXPECT_EQ(platform.decoder.decodeCalls, 0);
}

TEST(OcrCommand, UndecodableImageNeverReachesRecognition) {
  ScriptedPlatform platform;
  platform.decoder.imageAvailable = false;
  const CommandRun run = platform.run({"mivo-ocr", "notes.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "{\"error\":\"Failed to load image at index 0 from: notes.txt\"}\n");
  EXPECT_EQ(platform.recognizer.requests, 0);
}

TEST(OcrCommand, InvalidUtf8InThePathStillPrintsALine) {
  ScriptedPlatform platform;
  platform.fileExists = false;
  const CommandRun run = platform.run({"mivo-ocr", "bad\xff\xfe.png"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "{\"error\":\"File not found: bad\xEF\xBF\xBD\xEF\xBF\xBD.png\"}\n");
}

}  // namespace
}  // namespace mivo::ocr::testing
