#include "recognition/layout/layout_order.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "recognition/layout/line_segments.h"
#include "recognition/layout/page_tilt.h"
#include "recognition/layout/pane_split.h"
#include "recognition/layout/reading_order.h"
#include "recognition/layout/table_detection.h"

namespace mivo::ocr {
namespace {

// A block of running text: two lines or more in one column, most of them
// long runs of words without a wide gap. Table cells, menu items, receipt items and code
// fragments are short; a line across cards or table cells has wide gaps.
constexpr std::size_t kMinRunningTextLines = 2;

TextLine joinRow(const std::vector<Segment>& row) {
  TextLine line;
  for (const Segment& segment : row) {
    line.words.insert(line.words.end(), segment.words.begin(), segment.words.end());
  }
  return line;
}

PixelBox boxOf(const TextLine& line) {
  PixelBox box = line.words.front().box;
  for (const RecognizedWord& word : line.words) {
    box = unite(box, word.box);
  }
  return box;
}

// Lines of one column stand one under another.
bool isOneColumn(std::span<const TextLine> block) {
  for (std::size_t index = 1; index < block.size(); ++index) {
    if (boxOf(block[index]).top < centreY(boxOf(block[index - 1]))) {
      return false;
    }
  }
  return true;
}

bool isLongLine(const TextLine& line) {
  return line.words.size() >= kRunningTextWords && splitAtWideGaps({line}).size() == 1;
}

bool isRunningText(std::span<const TextLine> block) {
  const auto longLines = std::count_if(block.begin(), block.end(), isLongLine);
  return block.size() >= kMinRunningTextLines &&
         2 * static_cast<std::size_t>(longLines) >= block.size() && isOneColumn(block);
}

// The engine sometimes ends a paragraph's block one line early; that line
// stands right under the paragraph, at its left edge.
bool continuesParagraph(const TextLine& lastLine, std::span<const TextLine> block) {
  const PixelBox above = boxOf(lastLine);
  const PixelBox first = boxOf(block.front());
  return block.size() == 1 && isLongLine(block.front()) &&
         std::abs(first.left - above.left) <= above.height() && first.top >= centreY(above) &&
         first.top - above.bottom <= above.height();
}

// Line numbers and row labels stand beside nearly every line of the text
// they label, each on that line's baseline. Such a block is read row by row
// with its labels, not as running text; a note in the margin sits beside a
// few lines only.
constexpr double kLabelledShare = 2.0 / 3.0;
constexpr double kLabelBaselineTolerance = 0.2;  // of the line height

bool labels(const TextLine& label, const TextLine& line) {
  const PixelBox labelBox = boxOf(label);
  const PixelBox lineBox = boxOf(line);
  const bool beside = labelBox.right <= lineBox.left || labelBox.left >= lineBox.right;
  return beside && label.words.size() < kRunningTextWords &&
         std::abs(medianBaseline(label.words) - medianBaseline(line.words)) <=
             kLabelBaselineTolerance * std::min(labelBox.height(), lineBox.height());
}

bool hasRowLabels(std::span<const TextLine> block, const std::vector<TextLine>& lines) {
  const auto labelled = std::count_if(block.begin(), block.end(), [&](const TextLine& line) {
    return std::any_of(lines.begin(), lines.end(), [&](const TextLine& other) {
      return other.block != line.block && labels(other, line);
    });
  });
  return static_cast<double>(labelled) >= kLabelledShare * static_cast<double>(block.size());
}

void appendScreenOrder(const std::vector<TextLine>& lines, std::vector<TextLine>& ordered) {
  for (const LayoutUnit& unit :
       orderForReading(findTables(groupIntoRows(splitAtWideGaps(lines))))) {
    for (const std::vector<Segment>& row : unit.rows) {
      ordered.push_back(joinRow(row));
    }
  }
}

std::vector<TextLine> orderPane(const std::vector<TextLine>& lines) {
  std::vector<TextLine> ordered;
  std::vector<TextLine> screenRegion;
  auto blockStart = lines.begin();
  while (blockStart != lines.end()) {
    const auto blockEnd = std::find_if(blockStart, lines.end(), [&](const TextLine& line) {
      return line.block != blockStart->block;
    });
    const std::span<const TextLine> block(blockStart, blockEnd);
    const bool continues =
        !ordered.empty() && screenRegion.empty() && continuesParagraph(ordered.back(), block);
    if (continues || (isRunningText(block) && !hasRowLabels(block, lines))) {
      appendScreenOrder(screenRegion, ordered);
      screenRegion.clear();
      ordered.insert(ordered.end(), block.begin(), block.end());
    } else {
      screenRegion.insert(screenRegion.end(), block.begin(), block.end());
    }
    blockStart = blockEnd;
  }
  appendScreenOrder(screenRegion, ordered);
  return ordered;
}

}  // namespace

std::vector<TextLine> orderByLayout(const std::vector<TextLine>& lines,
                                    const std::vector<PaneEdge>& paneEdges) {
  const double tilt = pageTilt(lines);
  std::vector<TextLine> ordered;
  for (std::vector<TextLine>& pane : splitIntoPanes(lines, paneEdges)) {
    std::vector<TextLine> paneOrder = orderPane(levelled(std::move(pane), tilt));
    ordered.insert(ordered.end(), std::make_move_iterator(paneOrder.begin()),
                   std::make_move_iterator(paneOrder.end()));
  }
  return ordered;
}

}  // namespace mivo::ocr
