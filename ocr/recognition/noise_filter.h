#pragma once

#include <vector>

#include "recognition/text_line.h"

namespace mivo::ocr {

// Removes what the engine read from things that are not text: bullets,
// checkboxes and icons at the start of a line (read as "e", "*", "(C"), tall
// thin strips such as a column of icons read as one word, flat wide rules
// such as a chart's connector lines, and dotted leaders. Lines left without
// words are dropped.
std::vector<TextLine> removeNoise(std::vector<TextLine> lines);

}  // namespace mivo::ocr
