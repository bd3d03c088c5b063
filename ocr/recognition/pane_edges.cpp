#include "recognition/pane_edges.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <leptonica/allheaders.h>

namespace mivo::ocr {
namespace {

// Rendered grounds are flat to a level or two (lossy compression adds the
// second); neighbouring panes of one theme differ by a few levels.
constexpr int kFlatTolerance = 2;
constexpr int kMinGroundStep = 4;
// Each side is sampled this far from the edge, skipping the two columns
// where a border line or anti-aliasing sits.
constexpr int kSideWidth = 3;
constexpr int kSkip = 2;
// A pane border runs down a good part of the screen; buttons, bubbles and
// code blocks have short ones.
constexpr double kMinShareOfHeight = 0.4;
constexpr int kMinLinesTall = 8;
// A pane holds lines of words; a strip narrower than this many text heights
// holds line numbers, row headers or icons that belong to the rows beside it.
constexpr int kMinPaneWidthInLines = 8;
// Edges this close are one border seen from its two sides.
constexpr int kMergeDistance = 6;

class GreyRows {
 public:
  explicit GreyRows(Pix* page)
      : data_(pixGetData(page)),
        wordsPerLine_(pixGetWpl(page)),
        width_(pixGetWidth(page)),
        height_(pixGetHeight(page)) {}

  [[nodiscard]] int width() const { return width_; }
  [[nodiscard]] int height() const { return height_; }
  [[nodiscard]] int at(int x, int y) const {
    return static_cast<int>(
        GET_DATA_BYTE(data_ + static_cast<std::ptrdiff_t>(y) * wordsPerLine_, x));
  }

 private:
  l_uint32* data_;
  int wordsPerLine_;
  int width_;
  int height_;
};

// Per row, the level of the flat run of pixels starting at each x, or -1
// where the run is not flat. ROW holds the row's grey levels. This runs for
// every pixel of an enlarged page, hence plain loops of a fixed length.
void flatLevels(const std::vector<int>& row, std::vector<int>& levels) {
  const auto width = static_cast<int>(row.size());
  for (int x = 0; x + kSideWidth <= width; ++x) {
    const int* run = row.data() + x;
    int low = run[0];
    int high = low;
    int sum = low;
    for (int step = 1; step < kSideWidth; ++step) {
      const int level = run[step];
      low = std::min(low, level);
      high = std::max(high, level);
      sum += level;
    }
    levels[static_cast<std::size_t>(x)] = high - low <= kFlatTolerance ? sum / kSideWidth : -1;
  }
}

// The stretch of rows down which the ground changes at one column, grown
// row by row. Breaks up to a line of text long are bridged: a highlighted
// row or a word that reaches the border interrupts it for that long.
struct RunTracker {
  int start = -1;
  int last = -1;
  PaneEdge longest;

  void hit(int x, int y, int maxBreak) {
    if (start < 0 || y - last > maxBreak) {
      start = y;
    }
    last = y;
    if (last + 1 - start > longest.length()) {
      longest = PaneEdge{x, start, last + 1};
    }
  }
};

// For every column, the longest stretch down which the flat ground on its
// left differs from the flat ground on its right.
std::vector<RunTracker> trackGroundChanges(const GreyRows& rows, int maxBreak) {
  std::vector<RunTracker> columns(static_cast<std::size_t>(rows.width()));
  std::vector<int> levels(static_cast<std::size_t>(rows.width()), -1);
  std::vector<int> row(static_cast<std::size_t>(rows.width()));
  for (int y = 0; y < rows.height(); ++y) {
    for (int x = 0; x < rows.width(); ++x) {
      row[static_cast<std::size_t>(x)] = rows.at(x, y);
    }
    flatLevels(row, levels);
    for (int x = kSkip + kSideWidth; x + kSkip + kSideWidth <= rows.width(); ++x) {
      const int left = levels[static_cast<std::size_t>(x - kSkip - kSideWidth)];
      const int right = levels[static_cast<std::size_t>(x + kSkip)];
      if (left >= 0 && right >= 0 && std::abs(left - right) >= kMinGroundStep) {
        columns[static_cast<std::size_t>(x)].hit(x, y, maxBreak);
      }
    }
  }
  return columns;
}

// Of the columns along one border, the one with the longest stretch.
std::vector<PaneEdge> mergeNeighbours(const std::vector<PaneEdge>& candidates) {
  std::vector<PaneEdge> merged;
  for (const PaneEdge& edge : candidates) {
    if (!merged.empty() && edge.x - merged.back().x <= kMergeDistance) {
      if (edge.length() > merged.back().length()) {
        merged.back() = edge;
      }
    } else {
      merged.push_back(edge);
    }
  }
  return merged;
}

std::vector<PaneEdge> withoutNarrowPanes(const std::vector<PaneEdge>& edges, int width,
                                         int textHeight) {
  const int minWidth = kMinPaneWidthInLines * textHeight;
  std::vector<PaneEdge> kept;
  for (std::size_t index = 0; index < edges.size(); ++index) {
    const int left = index == 0 ? 0 : edges[index - 1].x;
    const int right = index + 1 == edges.size() ? width : edges[index + 1].x;
    if (edges[index].x - left >= minWidth && right - edges[index].x >= minWidth) {
      kept.push_back(edges[index]);
    }
  }
  return kept;
}

}  // namespace

std::vector<PaneEdge> findPaneEdges(Pix* page, int textHeight) {
  if (page == nullptr || pixGetDepth(page) != 8 || textHeight <= 0) {
    return {};
  }
  const GreyRows rows(page);
  const int minLength =
      std::max(kMinLinesTall * textHeight, static_cast<int>(kMinShareOfHeight * rows.height()));
  std::vector<PaneEdge> candidates;
  for (const RunTracker& column : trackGroundChanges(rows, textHeight)) {
    if (column.longest.length() >= minLength) {
      candidates.push_back(column.longest);
    }
  }
  return withoutNarrowPanes(mergeNeighbours(candidates), rows.width(), textHeight);
}

}  // namespace mivo::ocr
