#pragma once

#include <string>

#include "mivo_capture.h"

namespace mivo::node {

// The capture library's three functions, found at run time the way an
// installed host finds them: by SONAME through the system's library path, or
// at a path the host names. Loaded once per process and never unloaded (the
// library's own threads outlive its last capture).
struct CaptureLibrary {
  decltype(&mivo_tap_start) start;
  decltype(&mivo_tap_stop) stop;
  decltype(&mivo_capture_last_error) lastError;
  std::string loadedFrom;
};

// The library at `path` (a SONAME or a file path). Throws std::runtime_error
// with the loader's reason when it cannot be loaded or lacks a function, or
// when another copy was loaded before.
const CaptureLibrary& loadCaptureLibrary(const std::string& path);

}  // namespace mivo::node
