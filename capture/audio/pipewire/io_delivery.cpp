#include "audio/pipewire/io_delivery.h"

#include <algorithm>
#include <chrono>

#include "platform/serial_queue.h"

namespace mivo::audio::pipewire {

namespace {

std::uint64_t monotonicNanoseconds() {
  return std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
}

}  // namespace

void IoDelivery::add(std::uint32_t procId, platform::SerialQueue& queue, IOBlock block) {
  std::lock_guard lock(mutex_);
  procs_.push_back({procId, &queue, std::make_shared<const IOBlock>(std::move(block)), false});
}

bool IoDelivery::setRunning(std::uint32_t procId, bool running) {
  std::lock_guard lock(mutex_);
  auto proc = std::ranges::find(procs_, procId, &Proc::id);
  if (proc == procs_.end()) return false;
  proc->running = running;
  return true;
}

bool IoDelivery::remove(std::uint32_t procId) {
  std::lock_guard lock(mutex_);
  return std::erase_if(procs_, [&](const Proc& proc) { return proc.id == procId; }) > 0;
}

void IoDelivery::deliver(const float* interleaved, std::uint32_t frameCount,
                         std::uint32_t channels) {
  AudioTimeStamp now;
  now.mHostTime = monotonicNanoseconds();
  std::lock_guard lock(mutex_);
  now.mSampleTime = sampleTime_;
  sampleTime_ += frameCount;
  std::shared_ptr<const std::vector<float>> samples;
  for (const Proc& proc : procs_) {
    if (!proc.running) continue;
    if (!samples)
      samples = std::make_shared<const std::vector<float>>(
          interleaved, interleaved + std::size_t(frameCount) * channels);
    proc.queue->async([block = proc.block, samples, channels, now] {
      AudioBuffer buffer;
      buffer.mNumberChannels = channels;
      buffer.mDataByteSize = std::uint32_t(samples->size() * sizeof(float));
      buffer.mData = const_cast<float*>(samples->data());
      AudioBufferList input{1, &buffer};
      AudioBufferList output{};
      (*block)(&now, &input, &now, &output, &now);
    });
  }
}

}  // namespace mivo::audio::pipewire
