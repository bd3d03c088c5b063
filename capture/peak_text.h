// Decimal text of a 32-bit float for the log: the shortest that reads back
// as the same value, with at least one digit after the point ("0.0", "1.0",
// "0.25"); magnitudes below 0.0001 in exponent form ("1.5e-07").
#pragma once

#include <string>

namespace mivo::capture {

std::string peakText(float value);

}  // namespace mivo::capture
