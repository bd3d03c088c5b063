#pragma once

#include "recognition/recognition.h"

#include <string>
#include <vector>

namespace mivo::ocr {

struct ReducedLines {
  std::vector<std::string> lines;
  // Summed in 32-bit floats on purpose: callers compare rounded means
  // with those of other builds of this tool, which sum the same way.
  float totalConfidence = 0.0F;
};

// Keeps the best candidate of every observation that has one, in order.
ReducedLines reduceToLines(const std::vector<TextObservation>& observations);

// Mean over the lines (not the observations); 0 without lines.
double meanConfidence(const ReducedLines& reduced);

// Three decimals, halfway cases away from zero (62.5 thousandths -> 63).
double roundToThousandths(double value);

}  // namespace mivo::ocr
