#pragma once

#include "recognition/text_line.h"

#include <vector>

namespace mivo::ocr {

// Rearranges the engine's lines into reading order for screens: lines split
// at wide gaps, table rows read whole, panels and cards one after another.
std::vector<TextLine> orderByLayout(const std::vector<TextLine>& lines);

}  // namespace mivo::ocr
