#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <leptonica/allheaders.h>

#include "command/ocr_command.h"
#include "decoding/image_decoder.h"
#include "recognition/recognition.h"

namespace mivo::ocr::testing {

// Records what the command asked of the decoder, and answers as scripted.
class ScriptedDecoder final : public ImageDecoder {
 public:
  bool sourceAvailable = true;
  bool imageAvailable = true;
  std::vector<std::string> openedPaths;
  int decodeCalls = 0;

  std::optional<ImageSource> createSource(const std::string& path) override {
    openedPaths.push_back(path);
    return sourceAvailable ? std::optional<ImageSource>(ImageSource{"bytes"}) : std::nullopt;
  }
  Image createImageAtIndex0(const ImageSource& /*source*/) override {
    ++decodeCalls;
    return imageAvailable ? Image{pixCreate(4, 4, 8)} : Image{};
  }
};

class ScriptedRecognizer final : public TextRecognizer {
 public:
  RecognitionOutcome outcome = RecognitionResults{std::vector<TextObservation>{}};
  int requests = 0;

  RecognitionOutcome recognize(const Image& /*image*/) override {
    ++requests;
    return outcome;
  }
};

struct CommandRun {
  int status = -1;
  std::string output;
};

class ScriptedPlatform {
 public:
  bool fileExists = true;
  std::vector<std::string> existenceChecks;
  ScriptedDecoder decoder;
  ScriptedRecognizer recognizer;

  CommandRun run(const std::vector<const char*>& arguments) {
    OcrPlatform platform{[this](const std::string& path) {
                           existenceChecks.push_back(path);
                           return fileExists;
                         },
                         decoder, recognizer};
    std::ostringstream out;
    const int status = runOcrCommand(arguments, platform, out);
    return CommandRun{status, out.str()};
  }
};

inline TextObservation line(std::string text, float confidence) {
  return TextObservation{RecognizedText{std::move(text), confidence}};
}

inline TextObservation withoutCandidate() { return TextObservation{std::nullopt}; }

}  // namespace mivo::ocr::testing
