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
  // The message is an argument, never part of the format: device names may
  // hold '%'. No std::string here: the IO path logs without touching the heap.
  syslog(LOG_INFO, "[mivo-tap] %.*s", static_cast<int>(message.size()), message.data());
  std::lock_guard lock(observerMutex());
  if (observer()) observer()("[mivo-tap] " + std::string(message));
}

void setLogObserver(LogObserver newObserver) {
  std::lock_guard lock(observerMutex());
  observer() = std::move(newObserver);
}

}  // namespace mivo::platform
