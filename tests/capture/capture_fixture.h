// Shared set-up of the capture library's scenario tests: a fresh simulated
// world, the library's log collected, a host that records its callbacks,
// and a check that nothing is left running at the end.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/simulated/simulated_audio_system.h"
#include "mivo_capture.h"
#include "platform/system_log.h"

namespace mivo::testing {

using audio::SimulatedAudioSystem;
using Operation = audio::sim::Operation;
using namespace std::chrono_literals;

inline std::string logged(const std::string& message) { return "[mivo-tap] " + message; }

// What the host sees through its two callbacks.
struct Host {
  std::mutex mutex;
  std::condition_variable changed;
  std::int64_t frames = 0;
  std::int64_t frameCalls = 0;
  std::int64_t stoppedCalls = 0;
  std::vector<std::int32_t> rates;
  std::vector<float> lastSamples;
  bool badFrame = false;                // wrong ctx, source or count
  std::function<void()> onFrameHook;    // runs inside the frame callback
  std::function<void()> onStoppedHook;  // runs inside the stopped callback

  static void frame(void* ctx, std::uint8_t source, const float* samples, std::int32_t count,
                    std::int32_t rate) {
    auto* host = static_cast<Host*>(ctx);
    {
      std::lock_guard lock(host->mutex);
      if (source != 0 || count < 1 || samples == nullptr) host->badFrame = true;
      host->frames += count;
      ++host->frameCalls;
      if (host->rates.empty() || host->rates.back() != rate) host->rates.push_back(rate);
      host->lastSamples.assign(samples, samples + std::max(count, 0));
    }
    host->changed.notify_all();
    if (host->onFrameHook) host->onFrameHook();
  }

  static void stopped(void* ctx) {
    auto* host = static_cast<Host*>(ctx);
    {
      std::lock_guard lock(host->mutex);
      ++host->stoppedCalls;
    }
    host->changed.notify_all();
    if (host->onStoppedHook) host->onStoppedHook();
  }

  std::int64_t frameCallCount() {
    std::lock_guard lock(mutex);
    return frameCalls;
  }
  std::int64_t stoppedCount() {
    std::lock_guard lock(mutex);
    return stoppedCalls;
  }
  bool waitForStopped(std::int64_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return stoppedCalls >= count; });
  }

  std::int32_t start() { return mivo_tap_start(this, &Host::frame, &Host::stopped); }
};

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim().reset();
    platform::setLogObserver([this](std::string_view line) {
      std::lock_guard lock(logMutex);
      logLines.emplace_back(line);
    });
  }

  void TearDown() override {
    mivo_tap_stop();
    sim().release();
    EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{})
        << "audio objects left behind";
    platform::setLogObserver(nullptr);
  }

  static SimulatedAudioSystem& sim() { return SimulatedAudioSystem::shared(); }

  // A float output device with a UID, made the default.
  audio::AudioObjectID addDefaultOutput(const std::string& uid, double rate = 48000) {
    const auto device = sim().addOutputDevice({uid, rate, true});
    sim().setDefaultOutput(device);
    return device;
  }

  std::vector<std::string> log() {
    std::lock_guard lock(logMutex);
    return logLines;
  }
  void clearLog() {
    std::lock_guard lock(logMutex);
    logLines.clear();
  }
  std::size_t countLogged(const std::string& message) {
    const auto lines = log();
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), logged(message)));
  }
  bool logContains(const std::string& message) { return countLogged(message) > 0; }
  std::size_t countLoggedStartingWith(const std::string& prefix) {
    const auto lines = log();
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
      return l.rfind(logged(prefix), 0) == 0;
    }));
  }

  // Polls: for calls made on another thread that the test cannot join.
  bool waitForJournal(const std::string& entry, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      const auto journal = sim().journal();
      if (std::find(journal.begin(), journal.end(), entry) != journal.end()) return true;
      std::this_thread::sleep_for(1ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

  std::string lastError() {
    const char* text = mivo_capture_last_error();
    return text ? text : "<null>";
  }

  std::mutex logMutex;
  std::vector<std::string> logLines;
};

}  // namespace mivo::testing
