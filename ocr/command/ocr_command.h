#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "decoding/image_decoder.h"
#include "recognition/recognition.h"

namespace mivo::ocr {

// What the command needs from the system around it.
struct OcrPlatform {
  std::function<bool(const std::string& path)> fileExists;
  ImageDecoder& decoder;
  TextRecognizer& recognizer;
};

// Runs the whole command: writes exactly one JSON line to `out` and returns
// the exit status (0 with a result, 1 with an error).
int runOcrCommand(std::span<const char* const> arguments, OcrPlatform& platform, std::ostream& out);

}  // namespace mivo::ocr
