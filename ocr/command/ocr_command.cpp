#include "command/ocr_command.h"

#include "command/json_line.h"
#include "command/line_reduction.h"
#include "command/result_objects.h"

namespace mivo::ocr {
namespace {

constexpr int kExitResult = 0;
constexpr int kExitError = 1;

int outputResult(const nlohmann::json& result, std::ostream& out) {
  out << serializeJsonLine(result) << '\n';
  return kExitResult;
}

int outputError(const std::string& message, std::ostream& out) {
  out << serializeJsonLine(makeErrorObject(message)) << '\n';
  return kExitError;
}

int recognizeAndOutput(const Image& image, TextRecognizer& recognizer, std::ostream& out) {
  RecognitionOutcome outcome = recognizer.recognize(image);
  if (const auto* failure = std::get_if<RecognitionFailure>(&outcome)) {
    return outputError("Vision request failed: " + failure->description, out);
  }
  const RecognitionResults& results = std::get<RecognitionResults>(outcome);
  if (!results) {
    return outputResult(makeEmptyResultObject(), out);
  }
  return outputResult(makeResultObject(reduceToLines(*results)), out);
}

}  // namespace

int runOcrCommand(std::span<const char* const> arguments, OcrPlatform& platform,
                  std::ostream& out) {
  if (arguments.size() < 2) {
    return outputError("Usage: mivo-ocr <image_path>", out);
  }
  const std::string imagePath = arguments[1];
  if (!platform.fileExists(imagePath)) {
    return outputError("File not found: " + imagePath, out);
  }
  const std::optional<ImageSource> source = platform.decoder.createSource(imagePath);
  if (!source) {
    return outputError("Failed to create image source from: " + imagePath, out);
  }
  const Image image = platform.decoder.createImageAtIndex0(*source);
  if (!image) {
    return outputError("Failed to load image at index 0 from: " + imagePath, out);
  }
  return recognizeAndOutput(image, platform.recognizer, out);
}

}  // namespace mivo::ocr
