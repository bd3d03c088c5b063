#include "command/line_reduction.h"

#include <cmath>

namespace mivo::ocr {

std::vector<RecognizedText> reduceToLines(const std::vector<TextObservation>& observations) {
  std::vector<RecognizedText> lines;
  for (const TextObservation& observation : observations) {
    if (observation.topCandidate) {
      lines.push_back(*observation.topCandidate);
    }
  }
  return lines;
}

double roundToThousandths(double value) { return std::round(value * 1000.0) / 1000.0; }

}  // namespace mivo::ocr
