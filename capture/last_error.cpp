#include "last_error.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace mivo::capture {
namespace {

// Function-local statics: created on first use, thread-safely.
std::mutex& errorLock() {
  static std::mutex lock;
  return lock;
}

char* lastErrorStorage = nullptr;

}  // namespace

void setLastError(const char* text) {
  char* copy = strdup(text);
  if (copy == nullptr) return;  // out of memory: keep the previous text
  char* old = nullptr;
  {
    std::lock_guard guard(errorLock());
    old = lastErrorStorage;
    lastErrorStorage = copy;
  }
  std::free(old);
}

const char* lastError() {
  std::lock_guard guard(errorLock());
  return lastErrorStorage;
}

}  // namespace mivo::capture
