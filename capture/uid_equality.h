// Device UIDs are compared as text: canonically equivalent Unicode strings
// (precomposed or decomposed accents) are the same UID.
#pragma once

#include <string_view>

namespace mivo::capture {

bool sameUID(std::string_view a, std::string_view b);

}  // namespace mivo::capture
