#include "recognition/layout/pane_split.h"

#include <algorithm>
#include <array>

#include "recognition/layout/layout_geometry.h"

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

void split(const std::vector<TextLine>& lines, std::vector<PaneEdge> edges,
           std::vector<std::vector<TextLine>>& panes) {
  const auto edge = std::find_if(edges.begin(), edges.end(), [&](const PaneEdge& candidate) {
    return !crossedByText(lines, candidate);
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
