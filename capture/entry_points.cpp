// The library's C boundary: the registry of the one running capture and the
// three exported functions. No C++ exception crosses this boundary.
#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "last_error.h"
#include "mivo_capture.h"
#include "tap_capture.h"

#define MIVO_EXPORT __attribute__((visibility("default")))

namespace {

using mivo::capture::setLastError;
using mivo::capture::TapCapture;

std::mutex& tapStateLock() {
  static std::mutex lock;
  return lock;
}

// Never destroyed: a capture the host leaves running at exit must not be
// torn down by a static destructor after the audio backend is gone.
std::shared_ptr<TapCapture>& currentTap = *new std::shared_ptr<TapCapture>;
// Captures whose stop is under way: a stop that finds no registered capture
// waits for these, since the host may free their ctx once it returns. A
// start during a stop is free to register a new capture meanwhile.
std::vector<std::shared_ptr<TapCapture>>& stoppingTaps =
    *new std::vector<std::shared_ptr<TapCapture>>;

bool isCurrent(const std::shared_ptr<TapCapture>& capture) {
  std::lock_guard guard(tapStateLock());
  return currentTap == capture;
}

void unregisterIfCurrent(const std::shared_ptr<TapCapture>& capture) {
  std::lock_guard guard(tapStateLock());
  if (currentTap == capture) currentTap.reset();
}

// The text of the exception being handled; only inside a catch block.
std::string currentExceptionText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "unknown exception";
  }
}

void recordStartException() {
  setLastError(("could not start capture: " + currentExceptionText()).c_str());
}

// Registers a new capture unless one is registered; null when refused.
std::shared_ptr<TapCapture> registerNewCapture(void* ctx, mivo_frame_callback onFrame,
                                               mivo_stopped_callback onStopped) {
  std::lock_guard guard(tapStateLock());
  if (currentTap) return nullptr;
  currentTap =
      std::make_shared<TapCapture>(mivo::audio::systemAudioHardware(), ctx, onFrame, onStopped);
  return currentTap;
}

// Starts a registered capture; one that throws (thread or memory
// exhaustion, or anything else from below) is stopped and unregistered like
// a failed build.
std::int32_t startRegistered(const std::shared_ptr<TapCapture>& capture) {
  try {
    return capture->start();
  } catch (...) {
    recordStartException();
    capture->stop();
    return MIVO_TAP_TAP_FAILED;
  }
}

std::int32_t startCapture(void* ctx, mivo_frame_callback onFrame, mivo_stopped_callback onStopped) {
  const std::shared_ptr<TapCapture> capture = registerNewCapture(ctx, onFrame, onStopped);
  if (!capture) {
    setLastError("already capturing");
    return MIVO_TAP_ALREADY_CAPTURING;
  }
  const std::int32_t rc = startRegistered(capture);
  // A concurrent stop makes a build that waits for the server give up: its
  // failure is the stop's doing, and is reported as such.
  if (rc != MIVO_TAP_OK && isCurrent(capture)) {
    unregisterIfCurrent(capture);
    return rc;
  }
  if (isCurrent(capture)) return MIVO_TAP_OK;
  capture->stop();
  setLastError("start superseded by a concurrent stop");
  return MIVO_TAP_SUPERSEDED;
}

// Stops the registered capture, listed as stopping meanwhile. With none
// registered, waits for every stop under way: the host may free their ctx
// once this returns.
void stopCapture() {
  std::vector<std::shared_ptr<TapCapture>> captures;
  std::shared_ptr<TapCapture> registered;
  {
    std::lock_guard guard(tapStateLock());
    registered.swap(currentTap);
    if (registered)
      stoppingTaps.push_back(registered);
    else
      captures = stoppingTaps;
  }
  if (!registered) {
    for (const auto& capture : captures) capture->stop();
    return;
  }
  struct Unlist {
    const std::shared_ptr<TapCapture>& capture;
    ~Unlist() {
      std::lock_guard guard(tapStateLock());
      stoppingTaps.erase(std::ranges::find(stoppingTaps, capture));
    }
  } unlist{registered};
  registered->stop();
}

}  // namespace

extern "C" {

MIVO_EXPORT int32_t mivo_tap_start(void* ctx, mivo_frame_callback onFrame,
                                   mivo_stopped_callback onStopped) {
  try {
    return startCapture(ctx, onFrame, onStopped);
  } catch (...) {
    // Out of memory or threads; reported like a tap that could not be made.
    recordStartException();
    return MIVO_TAP_TAP_FAILED;
  }
}

MIVO_EXPORT int32_t mivo_tap_stop(void) {
  try {
    stopCapture();
  } catch (...) {
    // Only thread or memory exhaustion can throw here; the chain is already
    // released by then and stop has nothing to report.
  }
  return 0;
}

MIVO_EXPORT const char* mivo_capture_last_error(void) { return mivo::capture::lastError(); }

}  // extern "C"
