#include "platform/system_log.h"

#include <syslog.h>

#include <mutex>
#include <string>

namespace mivo::platform {
namespace {

std::mutex& observerMutex() {
  static std::mutex mutex;
  return mutex;
}

LogObserver& observer() {
  static LogObserver instance;
  return instance;
}

}  // namespace

void logLine(std::string_view message) {
  std::string line = "[mivo-tap] ";
  line.append(message);
  // The line is an argument, never the format: device names may hold '%'.
  syslog(LOG_INFO, "%s", line.c_str());
  std::lock_guard lock(observerMutex());
  if (observer()) observer()(line);
}

void setLogObserver(LogObserver newObserver) {
  std::lock_guard lock(observerMutex());
  observer() = std::move(newObserver);
}

}  // namespace mivo::platform
