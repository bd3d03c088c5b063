// Renders an audio status for messages: its four bytes as characters when
// all are printable, else the signed decimal number.
#pragma once

#include <cstdint>
#include <string>

namespace mivo::capture {

std::string fourCC(std::int32_t status);

}  // namespace mivo::capture
