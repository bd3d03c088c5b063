#include "recognition/page_language.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <vector>

namespace mivo::ocr {
namespace {

struct CommonWords {
  const char* model;
  std::vector<std::string_view> words;
};

// Words of each language that are common in any of its texts and rare in
// English text, names and abbreviations ("Del Rio", "OS", "per cent"). The
// first, English, is the yardstick: a page must use another language's
// words more often than English ones.
const std::array<CommonWords, 7>& commonWords() {
  static const std::array<CommonWords, 7> languages{{
      {"eng",
       {"the", "and", "of", "to", "is", "that", "for", "with", "are", "this", "from", "by", "was",
        "you", "your", "it"}},
      {"fra", {"le",  "les", "des", "est", "et",   "une",  "du",    "pour", "dans", "qui",
               "pas", "sur", "au",  "aux", "avec", "sont", "cette", "nous", "vous", "la"}},
      {"deu",
       {"der", "die", "das", "und", "ist", "nicht", "mit", "ein", "eine", "den", "dem", "von", "zu",
        "auf", "sich", "auch", "werden", "wird", "sind"}},
      {"nld",
       {"het", "een", "van", "en", "niet", "zijn", "op", "voor", "dat", "ook", "wordt", "naar",
        "bij", "aan", "maar"}},
      {"spa", {"el", "los", "las", "es", "una", "por", "para", "su", "como", "pero", "lo", "que"}},
      {"ita",
       {"il", "gli", "della", "che", "di", "una", "sono", "alla", "nel", "questo", "delle",
        "degli"}},
      {"por", {"da", "das", "uma", "ao", "aos", "pelo", "pela", "foi", "seu", "sua", "mais"}},
  }};
  return languages;
}

// Too few words say nothing about a language; a language must account for
// this share of a page's words.
constexpr std::size_t kMinWords = 12;
constexpr std::size_t kMinHits = 3;
constexpr double kMinShare = 0.08;

// Words of two letters or more between spaces, lower-cased, without the
// punctuation around them; single letters are mostly speckle and labels.
// A token with anything but ASCII letters inside is no word here: an
// address ("peter@test.com") or an accented word the English model misread.
std::vector<std::string> wordsOf(std::string_view text) {
  const auto isLetter = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x80 && std::isalpha(byte) != 0;
  };
  const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  const auto isMark = [](char c) { return std::ispunct(static_cast<unsigned char>(c)) != 0; };
  std::vector<std::string> words;
  auto start = text.begin();
  while (start != text.end()) {
    const auto end = std::find_if(start, text.end(), isSpace);
    const auto first = std::find_if(start, end, isLetter);
    const auto last =
        std::find_if(std::make_reverse_iterator(end), std::make_reverse_iterator(first), isLetter)
            .base();
    const bool word = last - first >= 2 && std::all_of(first, last, isLetter) &&
                      std::all_of(start, first, isMark) && std::all_of(last, end, isMark);
    if (word) {
      std::string lower;
      std::transform(first, last, std::back_inserter(lower), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      });
      words.push_back(std::move(lower));
    }
    start = std::find_if_not(end, text.end(), isSpace);
  }
  return words;
}

std::size_t hitsOf(const CommonWords& language, const std::vector<std::string>& words) {
  const auto listed = [&language](const std::string& word) {
    return std::find(language.words.begin(), language.words.end(), word) != language.words.end();
  };
  return static_cast<std::size_t>(std::count_if(words.begin(), words.end(), listed));
}

}  // namespace

std::optional<std::string> pageLanguageModel(std::string_view text) {
  const std::vector<std::string> words = wordsOf(text);
  if (words.size() < kMinWords) {
    return std::nullopt;
  }
  const CommonWords* best = nullptr;
  std::size_t bestHits = 0;
  std::size_t runnerUpHits = 0;
  for (const CommonWords& language : commonWords()) {
    const std::size_t hits = hitsOf(language, words);
    if (hits > bestHits) {
      runnerUpHits = bestHits;
      bestHits = hits;
      best = &language;
    } else {
      runnerUpHits = std::max(runnerUpHits, hits);
    }
  }
  const bool clear = bestHits >= kMinHits && bestHits > runnerUpHits &&
                     static_cast<double>(bestHits) >= kMinShare * static_cast<double>(words.size());
  if (!clear || best == &commonWords().front()) {
    return std::nullopt;
  }
  return std::string(best->model);
}

}  // namespace mivo::ocr
