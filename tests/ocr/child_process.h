#pragma once

#include <string>
#include <vector>

namespace mivo::ocr::testing {

struct ProcessResult {
  int exitStatus = -1;  // -1 when the process did not exit normally
  std::string standardOutput;
  std::string standardError;
  long peakMemoryKiB = 0;  // largest resident set
};

// Runs a program with exactly these arguments (argument 0 included), in this
// process's environment plus `extraEnvironment` ("NAME=value" entries), and
// collects everything it writes.
ProcessResult runProcess(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& extraEnvironment = {});

}  // namespace mivo::ocr::testing
