#include "recognition/tesseract_recognizer.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include "recognition/layout/layout_order.h"
#include "recognition/layout/median.h"
#include "recognition/layout_line_height.h"
#include "recognition/leptonica_handles.h"
#include "recognition/line_joining.h"
#include "recognition/mean_confidence.h"
#include "recognition/noise_filter.h"
#include "recognition/openmp_thread_cap.h"
#include "recognition/page_language.h"
#include "recognition/pane_edges.h"
#include "recognition/second_look_merge.h"
#include "recognition/settled_words.h"
#include "recognition/text_contrast.h"
#include "recognition/text_scale.h"
#include "recognition/uncovered_regions.h"

namespace mivo::ocr {
namespace {

std::string takeText(char* text) {
  const std::unique_ptr<char[]> owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

RecognizedWord currentWord(const tesseract::ResultIterator& iterator, std::string text) {
  RecognizedWord word{std::move(text), iterator.Confidence(tesseract::RIL_WORD), {}, 0};
  PixelBox& box = word.box;
  iterator.BoundingBox(tesseract::RIL_WORD, &box.left, &box.top, &box.right, &box.bottom);
  int x1 = 0;
  int y1 = box.bottom;
  int x2 = 0;
  int y2 = box.bottom;
  iterator.Baseline(tesseract::RIL_WORD, &x1, &y1, &x2, &y2);
  word.baseline = (y1 + y2) / 2;
  float lineHeight = 0.0F;
  float descenders = 0.0F;
  float ascenders = 0.0F;
  iterator.RowAttributes(&lineHeight, &descenders, &ascenders);
  word.lineHeight = static_cast<int>(std::lround(lineHeight));
  return word;
}

bool hasVisibleCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return std::isspace(static_cast<unsigned char>(c)) == 0; });
}

std::string joinWords(const TextLine& line) {
  std::string text;
  for (const RecognizedWord& word : line.words) {
    if (!text.empty()) {
      text += ' ';
    }
    text += word.text;
  }
  return text;
}

// On the evened page: a quarter of the way from the ground to the darkest
// text.
constexpr l_int32 kFaintInkLevel = 128;

std::vector<PixelBox> wordBoxes(const std::vector<TextLine>& lines) {
  std::vector<PixelBox> boxes;
  for (const TextLine& line : lines) {
    for (const RecognizedWord& word : line.words) {
      boxes.push_back(word.box);
    }
  }
  return boxes;
}

int medianHeight(const std::vector<PixelBox>& boxes) {
  std::vector<int> heights;
  for (const PixelBox& box : boxes) {
    heights.push_back(box.height());
  }
  return median(heights);
}

// The region, upright: light text on a dark ground is inverted. Loose
// glyphs get a margin of half a line of paper; a band is read without the
// paper around it, which would give the engine a third grey level to split.
Image regionImage(Pix* page, const UncoveredRegion& region, int textHeight, PixelBox& placed) {
  const int margin = region.band ? 0 : textHeight / 2;
  placed = PixelBox{std::max(0, region.box.left - margin), std::max(0, region.box.top - margin),
                    std::min(pixGetWidth(page), region.box.right + margin),
                    std::min(pixGetHeight(page), region.box.bottom + margin)};
  const BoxHandle box{boxCreate(placed.left, placed.top, placed.width(), placed.height())};
  Image image{pixClipRectangle(page, box.get(), nullptr)};
  if (image && region.lightOnDark) {
    pixInvert(image.get(), image.get());
  }
  return image;
}

// Lines are split and joined by the layout step, so a line's confidence is
// that of its words.
TextObservation toObservation(const TextLine& line) {
  const double confidence = meanConfidence(line.words, &RecognizedWord::confidence) / 100.0;
  return TextObservation{RecognizedText{joinWords(line), static_cast<float>(confidence)}};
}

}  // namespace

TesseractRecognizer::TesseractRecognizer(LanguageChoice languages)
    : api_(std::make_unique<tesseract::TessBaseAPI>()), languages_(std::move(languages)) {
  runParallelRegionsSingleThreaded();
}

TesseractRecognizer::~TesseractRecognizer() = default;

bool TesseractRecognizer::loadModels(const std::string& models) {
  if (loadedModels_ == models) {
    return true;
  }
  // The engine's diagnostics go to this file instead of standard error.
  api_->SetVariable("debug_file", "/dev/null");
  const bool loaded = api_->Init(nullptr, models.c_str(), tesseract::OEM_LSTM_ONLY) == 0;
  loadedModels_ = loaded ? models : std::string();
  return loaded;
}

std::vector<TextLine> TesseractRecognizer::readLines() {
  std::vector<TextLine> lines;
  const std::unique_ptr<tesseract::ResultIterator> iterator(api_->GetIterator());
  if (!iterator) {
    return lines;
  }
  int block = 0;
  do {
    if (iterator->IsAtBeginningOf(tesseract::RIL_BLOCK)) {
      ++block;
    }
    if (iterator->IsAtBeginningOf(tesseract::RIL_TEXTLINE) || lines.empty()) {
      lines.push_back(TextLine{{}, block});
    }
    std::string text = takeText(iterator->GetUTF8Text(tesseract::RIL_WORD));
    if (hasVisibleCharacter(text)) {
      lines.back().words.push_back(currentWord(*iterator, std::move(text)));
    }
  } while (iterator->Next(tesseract::RIL_WORD));
  std::erase_if(lines, [](const TextLine& line) { return line.words.empty(); });
  return lines;
}

// A second look where the page layout read nothing although there is ink:
// each such region alone, upright, without the words already settled: a
// group of glyphs as one block of text, a band as a page of its own, since
// a banner may hold columns.
void TesseractRecognizer::readUncoveredRegions(Pix* page, std::vector<TextLine>& lines) {
  const std::vector<PixelBox> read = wordBoxes(lines);
  const int textHeight = read.empty() ? medianPrintGlyphHeight(page) : medianHeight(read);
  const Image ink{api_->GetThresholdedImage()};
  if (!ink || pixGetWidth(ink.get()) != pixGetWidth(page) ||
      pixGetHeight(ink.get()) != pixGetHeight(page)) {
    return;
  }
  // Faint text that the engine's threshold dropped is ink too, and is read
  // where its contrast was evened out.
  const Image evened = evenTextContrast(page);
  const Image faint{evened ? pixThresholdToBinary(evened.get(), kFaintInkLevel) : nullptr};
  if (faint) {
    pixOr(ink.get(), ink.get(), faint.get());
  }
  for (const UncoveredRegion& region : findUncoveredRegions(ink.get(), page, read, textHeight)) {
    PixelBox placed;
    Pix* source = evened && !region.band ? evened.get() : page;
    const Image regionPix = regionImage(source, region, textHeight, placed);
    if (!regionPix) {
      continue;
    }
    blankSettledWords(regionPix.get(), placed, lines, textHeight);
    api_->SetPageSegMode(region.band ? tesseract::PSM_AUTO : tesseract::PSM_SINGLE_BLOCK);
    api_->SetImage(regionPix.get());
    if (api_->Recognize(nullptr) == 0) {
      mergeSecondLook(readLines(), placed, lines);
    }
  }
}

// Automatic page segmentation: screens mix columns, blocks and tables.
// The engine holds PAGE already, laid out or not.
std::optional<std::vector<TextLine>> TesseractRecognizer::readHeldPage(Pix* page) {
  api_->SetPageSegMode(tesseract::PSM_AUTO);
  if (api_->Recognize(nullptr) != 0) {
    return std::nullopt;
  }
  std::vector<TextLine> lines = readLines();
  readUncoveredRegions(page, lines);
  return lines;
}

// The page at the size the engine reads best, handed to the engine. Only a
// page whose blobs are small has its lines measured by the engine's layout;
// when that page is read as it is, its layout is not made twice.
Image TesseractRecognizer::pageAtReadingSize(const Image& image) {
  Image page = lightGroundGrey(image);
  if (!page) {
    page = Image{pixClone(image.get())};
  }
  if (!mayHoldSmallText(page.get())) {
    api_->SetImage(page.get());
    return page;
  }
  // Text too small for the engine's layout to find is measured by its blobs.
  int lineHeight = medianLayoutLineHeight(*api_, page.get());
  if (lineHeight == 0) {
    lineHeight = lineHeightFromGlyphs(page.get());
  }
  const double factor = enlargementFor(lineHeight, page.get());
  Image enlarged{factor > 1.0 ? pixScaleGrayLI(page.get(), static_cast<l_float32>(factor),
                                               static_cast<l_float32>(factor))
                              : nullptr};
  if (enlarged) {
    api_->SetImage(enlarged.get());
    return enlarged;
  }
  return page;
}

// A page in another language is read again with that language's model
// first; English stays loaded for the English words such pages hold. When
// the model is not installed, the first reading stands.
void TesseractRecognizer::followPageLanguage(Pix* page, std::vector<TextLine>& lines) {
  const std::optional<std::string> model = pageLanguageModel(joinLines(lines, joinWords));
  if (!model || !loadModels(*model + "+" + languages_.models)) {
    return;
  }
  api_->SetImage(page);
  if (std::optional<std::vector<TextLine>> again = readHeldPage(page)) {
    lines = std::move(*again);
  }
}

// The stages of recognition, in order; each takes what the one before gives.
// A new rule belongs to the stage whose question it answers.
RecognitionOutcome TesseractRecognizer::recognize(const Image& image) {
  if (!loadModels(languages_.models)) {
    return RecognitionFailure{"The text-recognition models " + languages_.models +
                              " could not be loaded."};
  }
  // 1. Picture -> grey page with a light ground, its text enlarged to the
  //    line height the engine reads best (text_scale, layout_line_height).
  const Image page = pageAtReadingSize(image);
  // 2. Page -> lines: the engine's own layout and reading, then a second look
  //    at each region with ink it left unread (uncovered_regions,
  //    second_look_merge).
  std::optional<std::vector<TextLine>> lines = readHeldPage(page.get());
  if (!lines) {
    return RecognitionFailure{"Text recognition could not run on this image."};
  }
  // 3. Lines -> lines read again with the model of the page's language, when
  //    it is not English (page_language).
  if (languages_.followPageLanguage) {
    followPageLanguage(page.get(), *lines);
  }
  // 4. Lines -> the pane borders of a screen, from the page and its text
  //    height (pane_edges).
  const int textHeight = lines->empty() ? 0 : medianHeight(wordBoxes(*lines));
  const std::vector<PaneEdge> paneEdges = findPaneEdges(page.get(), textHeight);
  // 5. Lines -> lines without what is not text: bullets, icons, rules,
  //    leaders (noise_filter).
  // 6. Lines and pane borders -> lines in reading order along the page's
  //    tilt: rows, tables, panes
  //    (layout/).
  // 7. Lines -> one observation each, with the mean confidence of its words.
  std::vector<TextObservation> observations;
  for (const TextLine& line : orderByLayout(removeNoise(std::move(*lines)), paneEdges)) {
    observations.push_back(toObservation(line));
  }
  return RecognitionResults{std::move(observations)};
}

}  // namespace mivo::ocr
