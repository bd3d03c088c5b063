// The library's diagnostic log: one line per event, each with the prefix
// "[mivo-tap] ", sent to the system log (syslog) with a priority, so that
// failures can be told from routine lines. The lines also go to standard
// error when MIVO_CAPTURE_LOG=stderr is set, or when no syslog socket can be
// reached (containers, some CI machines), so that they are never lost.
#pragma once

#include <functional>
#include <string_view>

namespace mivo::platform {

enum class LogPriority {
  routine,  // LOG_INFO
  warning,  // LOG_WARNING: the capture goes on, degraded
  failure,  // LOG_ERR: a step of the capture failed
};

void logLine(std::string_view message, LogPriority priority = LogPriority::routine);

// Every line, prefix included, is also handed to the observer while one is
// set. Tests read the log through it; nothing is kept otherwise.
using LogObserver = std::function<void(std::string_view line)>;
void setLogObserver(LogObserver observer);

}  // namespace mivo::platform
