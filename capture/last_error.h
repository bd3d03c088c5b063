// The process-wide last-error slot behind mivo_capture_last_error().
#pragma once

namespace mivo::capture {

// Replaces the slot's text with a copy of text. Out of memory, the previous
// text stays.
void setLastError(const char* text) noexcept;
// The slot's text as this thread last saw it, or nullptr before the first
// failure. It stays valid until this thread calls again (or ends), however
// many failures other threads record meanwhile.
const char* lastError() noexcept;

}  // namespace mivo::capture
