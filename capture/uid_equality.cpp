#include "uid_equality.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace mivo::capture {
namespace {

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};
using NormalizedText = std::unique_ptr<utf8proc_uint8_t, FreeDeleter>;

// NFD form of text, or null when text is not valid UTF-8.
NormalizedText decomposed(std::string_view text) {
  utf8proc_uint8_t* result = nullptr;
  const auto length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &result,
                   static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_STABLE));
  if (length < 0) return nullptr;
  return NormalizedText(result);
}

}  // namespace

bool sameUID(std::string_view a, std::string_view b) {
  if (a == b) return true;
  const NormalizedText na = decomposed(a);
  const NormalizedText nb = decomposed(b);
  // Invalid UTF-8 has no canonical form: only identical bytes match then.
  if (!na || !nb) return false;
  return std::string_view(reinterpret_cast<const char*>(na.get())) ==
         std::string_view(reinterpret_cast<const char*>(nb.get()));
}

}  // namespace mivo::capture
