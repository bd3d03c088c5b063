// IO cycles: rendered from the world, posted to the started IO procs'
// queues, driven by deliverCycles() or by the real-time clock.
#include <algorithm>
#include <cmath>
#include <condition_variable>

#include "audio/simulated/simulated_audio_system.h"
#include "platform/serial_queue.h"

namespace mivo::audio {

// Counts posted cycles that have not run yet. Lets deliverCycles() wait
// without touching a queue, which may be gone once its proc is destroyed;
// a queue always runs what was posted before it ends.
struct SimulatedAudioSystem::CycleCountdown {
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t pending = 0;

  void add() {
    std::lock_guard lock(mutex);
    ++pending;
  }
  void done() {
    std::lock_guard lock(mutex);
    if (--pending == 0) finished.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return pending == 0; });
  }
};

void SimulatedAudioSystem::deliverCycles(std::uint32_t count) {
  const auto countdown = std::make_shared<CycleCountdown>();
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto cycle = renderNextCycle();
    if (!cycle) break;
    postCycle(cycle, countdown);
  }
  countdown->wait();
}

// Signals are test code: they run outside the mutex.
std::shared_ptr<const sim::RenderedCycle> SimulatedAudioSystem::renderNextCycle() {
  std::vector<sim::Signal> sources;
  sim::CycleLayout layout;
  std::optional<std::vector<sim::ExactBuffer>> exact;
  std::uint64_t firstFrame = 0;
  {
    std::lock_guard lock(mutex_);
    const bool anyStarted = std::any_of(procs_.begin(), procs_.end(), [&](const auto& entry) {
      return deliversLocked(entry.second);
    });
    if (!anyStarted) return nullptr;
    for (const auto& [id, signal] : sources_) sources.push_back(signal);
    layout = layout_;
    exact = exactBuffers_;
    firstFrame = framePosition_;
    framePosition_ += layout_.framesPerCycle;
  }
  return exact ? sim::RenderedCycle::exact(*exact, firstFrame)
               : sim::RenderedCycle::mix(layout, sources, firstFrame);
}

void SimulatedAudioSystem::postCycle(const std::shared_ptr<const sim::RenderedCycle>& cycle,
                                     const std::shared_ptr<CycleCountdown>& countdown) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, proc] : procs_) {
    if (!deliversLocked(proc)) continue;
    if (countdown) countdown->add();
    proc.queue->async([block = proc.block, cycle, countdown] {
      AudioBufferList output;  // the system's output: left empty
      const auto& time = cycle->time();
      (*block)(&time, &cycle->list(), &time, &output, &time);
      if (countdown) countdown->done();
    });
  }
}

void SimulatedAudioSystem::startClock() {
  std::lock_guard lock(clockMutex_);
  if (!clock_) clock_ = std::make_unique<sim::RealtimeClock>([this] { return clockTick(); });
}

void SimulatedAudioSystem::stopClock() {
  std::unique_ptr<sim::RealtimeClock> ending;
  {
    std::lock_guard lock(clockMutex_);
    ending = std::move(clock_);
  }
  ending.reset();  // joins outside clockMutex_, so a concurrent start is not blocked
}

// Rates outside what hardware runs at would make the clock spin or crawl.
std::chrono::nanoseconds SimulatedAudioSystem::clockTick() {
  if (const auto cycle = renderNextCycle()) postCycle(cycle, nullptr);
  std::lock_guard lock(mutex_);
  double rate = 48000;
  if (const auto output = devices_.find(defaultOutput_);
      output != devices_.end() && std::isfinite(output->second.nominalRate) &&
      output->second.nominalRate > 0)
    rate = std::clamp(output->second.nominalRate, 8000.0, 384000.0);
  const double frames = std::max<std::uint32_t>(layout_.framesPerCycle, 1);
  return std::chrono::nanoseconds(std::int64_t(frames / rate * 1e9));
}

}  // namespace mivo::audio
