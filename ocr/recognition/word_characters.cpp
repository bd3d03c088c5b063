#include "recognition/word_characters.h"

#include <utf8proc.h>

namespace mivo::ocr {
namespace {

// Calls `visit` with the category of each character until it returns
// false; an invalid byte counts as a character of no category.
template <typename Visit>
bool everyCategory(std::string_view utf8, Visit visit) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
  auto left = static_cast<utf8proc_ssize_t>(utf8.size());
  while (left > 0) {
    utf8proc_int32_t codePoint = 0;
    const utf8proc_ssize_t length = utf8proc_iterate(bytes, left, &codePoint);
    const utf8proc_category_t category =
        length > 0 ? utf8proc_category(codePoint) : UTF8PROC_CATEGORY_CN;
    if (!visit(category)) {
      return false;
    }
    const utf8proc_ssize_t step = length > 0 ? length : 1;
    bytes += step;
    left -= step;
  }
  return true;
}

bool isLetterOrDigit(utf8proc_category_t category) {
  switch (category) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_ND:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool hasLetterOrDigit(std::string_view utf8) {
  return !everyCategory(utf8,
                        [](utf8proc_category_t category) { return !isLetterOrDigit(category); });
}

bool isNumber(std::string_view utf8) {
  return everyCategory(
      utf8, [](utf8proc_category_t category) { return category == UTF8PROC_CATEGORY_ND; });
}

std::size_t characterCount(std::string_view utf8) {
  std::size_t count = 0;
  everyCategory(utf8, [&count](utf8proc_category_t /*category*/) {
    ++count;
    return true;
  });
  return count;
}

}  // namespace mivo::ocr
