#pragma once

namespace mivo::ocr {

// A vertical line down which the ground of a screen changes: the border
// between a side bar and an editor, a channel list and a conversation.
// Rows from TOP to BOTTOM (exclusive) have one pane left of X and another
// from X on.
struct PaneEdge {
  int x = 0;
  int top = 0;
  int bottom = 0;

  [[nodiscard]] int length() const { return bottom - top; }
};

}  // namespace mivo::ocr
