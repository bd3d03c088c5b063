// The process-wide last-error slot behind mivo_capture_last_error().
#pragma once

namespace mivo::capture {

// Replaces the slot's text with a copy of text; the old text is freed.
void setLastError(const char* text);
// The slot's own text (not a copy), or nullptr before the first failure.
const char* lastError();

}  // namespace mivo::capture
