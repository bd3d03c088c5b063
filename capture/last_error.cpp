#include "last_error.h"

#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

namespace mivo::capture {
namespace {

using Text = std::shared_ptr<const std::string>;

// Function-local statics: created on first use, thread-safely.
std::mutex& errorLock() {
  static std::mutex lock;
  return lock;
}

// Never destroyed: a capture's control queue may record a failure during
// exit, after static destructors have run.
Text& lastErrorStorage() {
  static Text& storage = *new Text;
  return storage;
}

// The text handed out last on this thread. Holding it here, not in the slot,
// keeps it alive while the host reads it, even when a rebuild on the control
// queue records a newer failure at that moment.
thread_local Text textHandedToThisThread;

}  // namespace

void setLastError(const char* text) noexcept {
  Text fresh;
  try {
    fresh = std::make_shared<const std::string>(text);
  } catch (const std::bad_alloc&) {
    return;  // keep the previous text
  }
  {
    std::lock_guard guard(errorLock());
    std::swap(lastErrorStorage(), fresh);
  }
  // fresh now holds the old text; it goes here, outside the lock.
}

const char* lastError() noexcept {
  Text current;
  {
    std::lock_guard guard(errorLock());
    current = lastErrorStorage();
  }
  textHandedToThisThread = std::move(current);
  return textHandedToThisThread ? textHandedToThisThread->c_str() : nullptr;
}

}  // namespace mivo::capture
