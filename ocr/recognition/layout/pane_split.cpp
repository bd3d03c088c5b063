#include "recognition/layout/pane_split.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <numeric>

#include "recognition/layout/layout_geometry.h"
#include "recognition/layout/line_segments.h"

namespace mivo::ocr {
namespace {

enum Side { kAbove, kLeft, kRight, kBelow, kSides };

Side sideOf(const PixelBox& box, const PaneEdge& edge) {
  const double y = centreY(box);
  if (y < edge.top) {
    return kAbove;
  }
  if (y >= edge.bottom) {
    return kBelow;
  }
  return centreX(box) < edge.x ? kLeft : kRight;
}

bool crossedByText(const std::vector<TextLine>& lines, const PaneEdge& edge) {
  return std::any_of(lines.begin(), lines.end(), [&](const TextLine& line) {
    return std::any_of(line.words.begin(), line.words.end(), [&](const RecognizedWord& word) {
      const double y = centreY(word.box);
      return word.box.left < edge.x && word.box.right > edge.x && y >= edge.top && y < edge.bottom;
    });
  });
}

// Two pieces stand on one row when their baselines are this close, in
// heights of the smaller; a side bar's items next to an editor's lines are
// off by a good part of a line.
constexpr double kRowBaselineTolerance = 0.2;
// The cells of a table's two columns line up row by row, a few empty cells
// aside; the rows of two panes meet only where their spacings happen to
// agree, and a short list beside a long text meets only some of its rows.
constexpr double kLineForLineShare = 2.0 / 3.0;

struct RowPiece {
  double baseline;
  int height;
};

// The words of each line on one side of the border, within its stretch.
std::vector<RowPiece> rowPieces(const std::vector<TextLine>& lines, const PaneEdge& edge,
                                Side side) {
  std::vector<RowPiece> pieces;
  for (const TextLine& line : lines) {
    std::vector<RecognizedWord> words;
    std::copy_if(line.words.begin(), line.words.end(), std::back_inserter(words),
                 [&](const RecognizedWord& word) { return sideOf(word.box, edge) == side; });
    if (!words.empty()) {
      const PixelBox box = std::accumulate(
          words.begin(), words.end(), words.front().box,
          [](const PixelBox& sum, const RecognizedWord& word) { return unite(sum, word.box); });
      pieces.push_back(RowPiece{medianBaseline(words), box.height()});
    }
  }
  return pieces;
}

double shareWithPartner(const std::vector<RowPiece>& pieces, const std::vector<RowPiece>& others) {
  const auto paired = std::count_if(pieces.begin(), pieces.end(), [&](const RowPiece& piece) {
    return std::any_of(others.begin(), others.end(), [&](const RowPiece& other) {
      return std::abs(piece.baseline - other.baseline) <=
             kRowBaselineTolerance * std::min(piece.height, other.height);
    });
  });
  return static_cast<double>(paired) / static_cast<double>(pieces.size());
}

// A tinted first column of a table changes the ground down the table as a
// side bar does; its rows, unlike a pane's, line up with those beside it.
bool rowsLineUp(const std::vector<TextLine>& lines, const PaneEdge& edge) {
  const std::vector<RowPiece> left = rowPieces(lines, edge, kLeft);
  const std::vector<RowPiece> right = rowPieces(lines, edge, kRight);
  return !left.empty() && !right.empty() && shareWithPartner(left, right) >= kLineForLineShare &&
         shareWithPartner(right, left) >= kLineForLineShare;
}

void split(const std::vector<TextLine>& lines, std::vector<PaneEdge> edges,
           std::vector<std::vector<TextLine>>& panes) {
  const auto edge = std::find_if(edges.begin(), edges.end(), [&](const PaneEdge& candidate) {
    return !crossedByText(lines, candidate) && !rowsLineUp(lines, candidate);
  });
  if (edge == edges.end()) {
    panes.push_back(lines);
    return;
  }
  const PaneEdge chosen = *edge;
  edges.erase(edge);
  std::array<std::vector<TextLine>, kSides> parts;
  for (const TextLine& line : lines) {
    std::array<TextLine, kSides> pieces;
    for (const RecognizedWord& word : line.words) {
      pieces[sideOf(word.box, chosen)].words.push_back(word);
    }
    for (int side = 0; side < kSides; ++side) {
      if (!pieces[side].words.empty()) {
        pieces[side].block = line.block;
        parts[side].push_back(std::move(pieces[side]));
      }
    }
  }
  for (const std::vector<TextLine>& part : parts) {
    if (!part.empty()) {
      split(part, edges, panes);
    }
  }
}

}  // namespace

std::vector<std::vector<TextLine>> splitIntoPanes(const std::vector<TextLine>& lines,
                                                  std::vector<PaneEdge> edges) {
  // The longest border first: it divides the screen's main panes.
  std::stable_sort(edges.begin(), edges.end(),
                   [](const PaneEdge& a, const PaneEdge& b) { return a.length() > b.length(); });
  std::vector<std::vector<TextLine>> panes;
  split(lines, std::move(edges), panes);
  return panes;
}

}  // namespace mivo::ocr
