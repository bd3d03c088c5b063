#include "layout_order.h"

#include "line_segments.h"
#include "reading_order.h"
#include "table_detection.h"

namespace mivo::ocr {
namespace {

TextLine joinRow(const std::vector<Segment>& row) {
  TextLine line;
  line.box = row.front().box;
  float confidenceSum = 0.0F;
  for (const Segment& segment : row) {
    line.box = unite(line.box, segment.box);
    for (const RecognizedWord& word : segment.words) {
      line.words.push_back(word);
      confidenceSum += word.confidence;
    }
  }
  line.confidence = confidenceSum / static_cast<float>(line.words.size());
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
