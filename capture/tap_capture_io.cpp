// One IO cycle: downmix to mono, count, log sparsely, hand to the host.
#include "downmix.h"
#include "log_line_buffer.h"
#include "peak_text.h"
#include "platform/system_log.h"
#include "tap_capture.h"

namespace mivo::capture {
namespace {
constexpr std::int64_t kLogEveryCycles = 1500;
}

audio::IOBlock TapCapture::makeIOBlock(std::uint32_t generation) {
  // Weak: a registered block never keeps the capture alive; the strong
  // reference taken here lasts exactly one cycle.
  return [weak = weak_from_this(), generation](
             const audio::AudioTimeStamp*, const audio::AudioBufferList* input,
             const audio::AudioTimeStamp*, audio::AudioBufferList*, const audio::AudioTimeStamp*) {
    if (auto self = weak.lock()) {
      self->noteCycleOfChain(generation);
      self->handleLocked(input);
    }
  };
}

void TapCapture::noteCycleOfChain(std::uint32_t generation) {
  // Frames flow again: a later loss is news to the host once more.
  if (silenceReported.load(std::memory_order_relaxed) &&
      generation == completedChain.load(std::memory_order_relaxed))
    silenceReported.store(false, std::memory_order_relaxed);
}

void TapCapture::handleLocked(const audio::AudioBufferList* input) {
  if (input == nullptr || !hostCallbacksEnabled.load(std::memory_order_acquire)) return;
  const std::optional<MonoCycle> cycle = downmixToMono(*input, monoSamples);
  if (!cycle) return;

  // Only this queue writes the count: a plain store, no locked increment.
  const std::int64_t count = callbackCount.load(std::memory_order_relaxed) + 1;
  callbackCount.store(count, std::memory_order_relaxed);
  const std::int32_t rate = cachedRate.load();
  if (!loggedFirstCallback) {
    loggedFirstCallback = true;
    LogLineBuffer line;
    line << "first callback: frames=" << cycle->frames << " peak=" << PeakText(cycle->peak).view()
         << " rate=" << rate;
    platform::logLine(line.view());
  } else if (count % kLogEveryCycles == 0) {
    LogLineBuffer line;
    line << "callbacks=" << count << " peak=" << PeakText(cycle->peak).view();
    platform::logLine(line.view());
  }
  if (onFrame != nullptr) onFrame(ctx, 0, monoSamples.data(), cycle->frames, rate);
}

}  // namespace mivo::capture
