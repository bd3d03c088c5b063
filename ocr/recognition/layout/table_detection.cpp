#include "recognition/layout/table_detection.h"

#include <cmath>
#include <span>

namespace mivo::ocr {
namespace {

constexpr std::size_t kMinTableRows = 3;
constexpr std::size_t kMinAlignedCells = 2;
// Table text is of one size; metric cards put small labels over big values.
constexpr double kMaxRowHeightRatio = 1.5;
// Side-by-side columns of running text also line up row by row, but most of
// their cells are long runs of words; table cells mostly are not.

double medianHeight(const std::vector<Segment>& row) {
  std::vector<double> heights;
  for (const Segment& segment : row) {
    heights.push_back(segment.box.height());
  }
  return median(heights);
}

// Cells of one column share their left edge, right edge or centre.
bool sameColumn(const PixelBox& a, const PixelBox& b, double tolerance) {
  return std::abs(a.left - b.left) < tolerance || std::abs(a.right - b.right) < tolerance ||
         std::abs(centreX(a) - centreX(b)) < tolerance;
}

bool continuesTable(const std::vector<Segment>& previous, const std::vector<Segment>& row) {
  if (previous.size() < kMinAlignedCells || row.size() < kMinAlignedCells) {
    return false;
  }
  const double previousHeight = medianHeight(previous);
  const double rowHeight = medianHeight(row);
  if (std::max(previousHeight, rowHeight) >
      kMaxRowHeightRatio * std::min(previousHeight, rowHeight)) {
    return false;
  }
  const double tolerance = std::min(previousHeight, rowHeight);
  std::size_t aligned = 0;
  for (const Segment& cell : row) {
    for (const Segment& above : previous) {
      if (sameColumn(cell.box, above.box, tolerance)) {
        ++aligned;
        break;
      }
    }
  }
  return aligned >= kMinAlignedCells;
}

// Receipts and invoices put an item's description on a line of its own
// between the rows of figures.
bool isSpanningRow(const std::vector<Segment>& row) { return row.size() == 1; }

bool isProse(std::span<const std::vector<Segment>> rows) {
  std::size_t cells = 0;
  std::size_t proseCells = 0;
  for (const std::vector<Segment>& row : rows) {
    for (const Segment& cell : row) {
      ++cells;
      proseCells += cell.words.size() >= kRunningTextWords ? 1 : 0;
    }
  }
  return 2 * proseCells >= cells;
}

PixelBox boxOfRows(const std::vector<std::vector<Segment>>& rows) {
  PixelBox box = rows.front().front().box;
  for (const std::vector<Segment>& row : rows) {
    for (const Segment& segment : row) {
      box = unite(box, segment.box);
    }
  }
  return box;
}

}  // namespace

std::vector<LayoutUnit> findTables(const std::vector<std::vector<Segment>>& rows) {
  std::vector<LayoutUnit> units;
  std::size_t first = 0;
  while (first < rows.size()) {
    std::size_t last = first;
    std::size_t lastAligned = first;
    while (last + 1 < rows.size()) {
      if (continuesTable(rows[lastAligned], rows[last + 1])) {
        lastAligned = ++last;
      } else if (isSpanningRow(rows[last + 1]) && last + 2 < rows.size() &&
                 continuesTable(rows[lastAligned], rows[last + 2])) {
        last += 2;
        lastAligned = last;
      } else {
        break;
      }
    }
    const std::span<const std::vector<Segment>> run(rows.data() + first, last - first + 1);
    if (run.size() >= kMinTableRows && !isProse(run)) {
      std::vector<std::vector<Segment>> table(run.begin(), run.end());
      const PixelBox box = boxOfRows(table);
      units.push_back(LayoutUnit{std::move(table), box});
      first = last + 1;
      continue;
    }
    for (const Segment& segment : rows[first]) {
      units.push_back(LayoutUnit{{{segment}}, segment.box});
    }
    ++first;
  }
  return units;
}

}  // namespace mivo::ocr
