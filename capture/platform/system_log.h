// The library's diagnostic log: one line per event, each with the prefix
// "[mivo-tap] ", sent to the system log (syslog).
#pragma once

#include <functional>
#include <string_view>

namespace mivo::platform {

void logLine(std::string_view message);

// Every line, prefix included, is also handed to the observer while one is
// set. Tests read the log through it; nothing is kept otherwise.
using LogObserver = std::function<void(std::string_view line)>;
void setLogObserver(LogObserver observer);

}  // namespace mivo::platform
