#pragma once

#include <vector>

#include "recognition/recognition.h"

namespace mivo::ocr {

// Keeps the best candidate of every observation that has one, in order.
std::vector<RecognizedText> reduceToLines(const std::vector<TextObservation>& observations);

// Three decimals, halfway cases away from zero (62.5 thousandths -> 63).
double roundToThousandths(double value);

}  // namespace mivo::ocr
