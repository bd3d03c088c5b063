#pragma once

#include <cstddef>
#include <string_view>

namespace mivo::ocr {

// What the noise rules ask of a word's characters, in any script: the
// engine reads Cyrillic, Greek and accented Latin as well as ASCII.

// Whether the UTF-8 text holds a letter or a digit of any script.
bool hasLetterOrDigit(std::string_view utf8);

// Whether every character is a decimal digit (of any script); true for "".
bool isNumber(std::string_view utf8);

// The number of characters (code points) in UTF-8 text.
std::size_t characterCount(std::string_view utf8);

}  // namespace mivo::ocr
