#include "command/line_reduction.h"

#include <cmath>

namespace mivo::ocr {

ReducedLines reduceToLines(const std::vector<TextObservation>& observations) {
  ReducedLines reduced;
  for (const TextObservation& observation : observations) {
    if (!observation.topCandidate) {
      continue;
    }
    reduced.lines.push_back(observation.topCandidate->string);
    reduced.totalConfidence += observation.topCandidate->confidence;
  }
  return reduced;
}

double meanConfidence(const ReducedLines& reduced) {
  if (reduced.lines.empty()) {
    return 0.0;
  }
  return static_cast<double>(reduced.totalConfidence) / static_cast<double>(reduced.lines.size());
}

double roundToThousandths(double value) { return std::round(value * 1000.0) / 1000.0; }

}  // namespace mivo::ocr
