#include "platform/system_log.h"

#include <paths.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace mivo::platform {
namespace {

constexpr std::string_view kPrefix = "[mivo-tap] ";

std::mutex& observerMutex() {
  static std::mutex mutex;
  return mutex;
}

LogObserver& observer() {
  static LogObserver instance;
  return instance;
}

int syslogPriority(LogPriority priority) {
  switch (priority) {
    case LogPriority::warning:
      return LOG_WARNING;
    case LogPriority::failure:
      return LOG_ERR;
    case LogPriority::routine:
      break;
  }
  return LOG_INFO;
}

// syslog() drops lines silently when nothing listens on its socket.
bool syslogSocketReachable() {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, _PATH_LOG, sizeof address.sun_path - 1);
  const bool reachable =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return reachable;
}

// Decided once, at the first line of the process.
bool alsoToStandardError() {
  static const bool decided = [] {
    const char* setting = std::getenv("MIVO_CAPTURE_LOG");
    return (setting != nullptr && std::string_view(setting) == "stderr") ||
           !syslogSocketReachable();
  }();
  return decided;
}

// One write per line, so that lines of concurrent writers do not interleave.
void writeToStandardError(std::string_view message) {
  iovec parts[] = {{const_cast<char*>(kPrefix.data()), kPrefix.size()},
                   {const_cast<char*>(message.data()), message.size()},
                   {const_cast<char*>("\n"), 1}};
  [[maybe_unused]] const ssize_t written = writev(STDERR_FILENO, parts, 3);
}

}  // namespace

void logLine(std::string_view message, LogPriority priority) {
  // The message is an argument, never part of the format: device names may
  // hold '%'. No std::string here: the IO path logs without touching the heap.
  syslog(syslogPriority(priority), "%.*s%.*s", static_cast<int>(kPrefix.size()), kPrefix.data(),
         static_cast<int>(message.size()), message.data());
  if (alsoToStandardError()) writeToStandardError(message);
  std::lock_guard lock(observerMutex());
  if (observer()) observer()(std::string(kPrefix) + std::string(message));
}

void setLogObserver(LogObserver newObserver) {
  std::lock_guard lock(observerMutex());
  observer() = std::move(newObserver);
}

}  // namespace mivo::platform
