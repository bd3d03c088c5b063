#include "recognition/layout/layout_order.h"

#include "recognition/layout/line_segments.h"
#include "recognition/layout/reading_order.h"
#include "recognition/layout/table_detection.h"

namespace mivo::ocr {
namespace {

TextLine joinRow(const std::vector<Segment>& row) {
  TextLine line;
  for (const Segment& segment : row) {
    line.words.insert(line.words.end(), segment.words.begin(), segment.words.end());
  }
  return line;
}

}  // namespace

std::vector<TextLine> orderByLayout(const std::vector<TextLine>& lines) {
  std::vector<TextLine> ordered;
  for (const LayoutUnit& unit :
       orderForReading(findTables(groupIntoRows(splitAtWideGaps(lines))))) {
    for (const std::vector<Segment>& row : unit.rows) {
      ordered.push_back(joinRow(row));
    }
  }
  return ordered;
}

}  // namespace mivo::ocr
