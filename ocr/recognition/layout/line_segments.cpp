#include "recognition/layout/line_segments.h"

#include <cmath>

namespace mivo::ocr {
namespace {

// Word spaces are about a third of the text height; gaps wider than twice
// the height separate columns.
constexpr double kWideGapFactor = 2.0;
// Text on one row stands on one baseline, give or take rounding; a side
// panel's items next to running text are off by a good part of a line.
constexpr double kRowBaselineTolerance = 0.2;

Segment startSegment(const RecognizedWord& word) { return Segment{{word}, word.box, 0.0}; }

void extend(Segment& segment, const RecognizedWord& word) {
  segment.words.push_back(word);
  segment.box = unite(segment.box, word.box);
}

double medianWordHeight(const std::vector<RecognizedWord>& words) {
  std::vector<double> heights;
  for (const RecognizedWord& word : words) {
    heights.push_back(word.box.height());
  }
  return median(heights);
}

bool fitsRow(const std::vector<Segment>& row, const Segment& segment) {
  std::vector<double> baselines;
  int lowestHeight = segment.box.height();
  for (const Segment& member : row) {
    baselines.push_back(member.baseline);
    lowestHeight = std::min(lowestHeight, member.box.height());
  }
  return std::abs(segment.baseline - median(baselines)) <= kRowBaselineTolerance * lowestHeight;
}

}  // namespace

double medianBaseline(const std::vector<RecognizedWord>& words) {
  std::vector<double> baselines;
  for (const RecognizedWord& word : words) {
    baselines.push_back(word.baseline);
  }
  return median(baselines);
}

std::vector<Segment> splitAtWideGaps(const std::vector<TextLine>& lines) {
  std::vector<Segment> segments;
  for (const TextLine& line : lines) {
    std::vector<RecognizedWord> words = line.words;
    if (words.empty()) {
      continue;
    }
    std::sort(words.begin(), words.end(), [](const RecognizedWord& a, const RecognizedWord& b) {
      return a.box.left < b.box.left;
    });
    const double wideGap = kWideGapFactor * medianWordHeight(words);
    segments.push_back(startSegment(words.front()));
    for (std::size_t index = 1; index < words.size(); ++index) {
      if (words[index].box.left - segments.back().box.right > wideGap) {
        segments.push_back(startSegment(words[index]));
      } else {
        extend(segments.back(), words[index]);
      }
    }
  }
  for (Segment& segment : segments) {
    segment.baseline = medianBaseline(segment.words);
  }
  return segments;
}

std::vector<std::vector<Segment>> groupIntoRows(std::vector<Segment> segments) {
  std::sort(segments.begin(), segments.end(),
            [](const Segment& a, const Segment& b) { return a.baseline < b.baseline; });
  std::vector<std::vector<Segment>> rows;
  for (Segment& segment : segments) {
    if (!rows.empty() && fitsRow(rows.back(), segment)) {
      rows.back().push_back(std::move(segment));
    } else {
      rows.push_back({std::move(segment)});
    }
  }
  for (std::vector<Segment>& row : rows) {
    std::sort(row.begin(), row.end(),
              [](const Segment& a, const Segment& b) { return a.box.left < b.box.left; });
  }
  return rows;
}

}  // namespace mivo::ocr
