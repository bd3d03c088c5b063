#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "decoding/image.h"

namespace mivo::ocr {

// The best reading of one observation: its text and a confidence in [0, 1].
struct RecognizedText {
  std::string string;
  float confidence = 0.0F;
};

// One piece of recognised text (a line); the engine may offer no candidate.
struct TextObservation {
  std::optional<RecognizedText> topCandidate;
};

// The engine ran, but may hand back no observation list at all.
using RecognitionResults = std::optional<std::vector<TextObservation>>;

struct RecognitionFailure {
  std::string description;
};

using RecognitionOutcome = std::variant<RecognitionResults, RecognitionFailure>;

// One accurate recognition request with language correction on one image.
class TextRecognizer {
 public:
  virtual ~TextRecognizer() = default;
  virtual RecognitionOutcome recognize(const Image& image) = 0;
};

}  // namespace mivo::ocr
