// A single-producer/single-consumer ring of cycle buffers between PipeWire's
// processing thread and a queue of the host's. All its memory is made (and
// touched, so that no page faults in later) when it is constructed; the
// producer then neither allocates, locks nor waits: a cycle that does not
// fit whole is dropped and counted, so a consumer that falls behind costs
// cycles, never the graph's time.
//
// A cycle longer than a slot fills several slots (whole frames each), read
// back as pieces in order with their own sample times.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/audio_hardware.h"

namespace mivo::audio::pipewire {

class CycleRing {
 public:
  // 1024 stereo frames a slot, PipeWire's default quantum, so a cycle is
  // one slot; 128 slots hold 2.7 s of cycles at 48 kHz (0.7 s when another
  // client has the graph run 256-frame cycles), for a host whose callback
  // pauses now and then (1 MiB).
  static constexpr std::uint32_t kSlots = 128;
  static constexpr std::size_t kSlotSamples = 2048;

  struct Piece {
    const float* samples;
    std::size_t count;
    std::uint32_t channels;
    AudioTimeStamp time;
  };

  CycleRing() : samples_(kSlots * kSlotSamples) {}
  CycleRing(const CycleRing&) = delete;
  CycleRing& operator=(const CycleRing&) = delete;

  // Producer. False when the cycle was dropped (no room, or a frame wider
  // than a slot).
  bool push(const float* interleaved, std::uint32_t frames, std::uint32_t channels,
            const AudioTimeStamp& time) {
    const std::size_t framesPerSlot = channels == 0 ? 0 : kSlotSamples / channels;
    if (framesPerSlot == 0) return drop();
    const std::size_t pieces = (frames + framesPerSlot - 1) / framesPerSlot;
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    if (kSlots - (head - tail_.load(std::memory_order_acquire)) < pieces) return drop();
    for (std::size_t piece = 0; piece < pieces; ++piece) {
      const std::size_t first = piece * framesPerSlot;
      const std::size_t count = std::min<std::size_t>(framesPerSlot, frames - first) * channels;
      const std::size_t slot = (head + piece) % kSlots;
      std::copy_n(interleaved + first * channels, count, samples_.data() + slot * kSlotSamples);
      AudioTimeStamp pieceTime = time;
      pieceTime.mSampleTime += double(first);
      slots_[slot] = {count, channels, pieceTime, time.mSampleTime};
    }
    head_.store(head + pieces, std::memory_order_release);
    return true;
  }

  // Consumer. Hands the pieces of the oldest waiting cycle, if any, to use,
  // in order; a slot is free for the producer again once use has returned
  // (or thrown). True when more cycles wait.
  template <typename Use>
  bool consumeCycle(Use&& use) {
    const std::uint64_t head = head_.load(std::memory_order_acquire);
    std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == head) return false;
    const double cycle = slots_[tail % kSlots].cycleStart;
    for (; tail != head && slots_[tail % kSlots].cycleStart == cycle; ++tail) {
      const std::size_t slot = tail % kSlots;
      struct Release {
        std::atomic<std::uint64_t>& tail;
        std::uint64_t next;
        ~Release() { tail.store(next, std::memory_order_release); }
      } release{tail_, tail + 1};
      const Slot& s = slots_[slot];
      use(Piece{samples_.data() + slot * kSlotSamples, s.count, s.channels, s.time});
    }
    return tail != head;
  }

  // Cycles dropped so far; any thread.
  std::uint64_t droppedCycles() const { return dropped_.load(std::memory_order_relaxed); }

  // Consumer. Cycles pushed and not consumed yet (a long cycle's pieces
  // count once).
  std::uint64_t waitingCycles() const {
    const std::uint64_t head = head_.load(std::memory_order_acquire);
    std::uint64_t cycles = 0;
    for (std::uint64_t piece = tail_.load(std::memory_order_relaxed); piece != head; ++piece)
      if (slots_[piece % kSlots].time.mSampleTime == slots_[piece % kSlots].cycleStart) ++cycles;
    return cycles;
  }

 private:
  struct Slot {
    std::size_t count = 0;
    std::uint32_t channels = 0;
    AudioTimeStamp time;
    double cycleStart = 0;  // the sample time of the cycle's first piece
  };

  bool drop() {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }

  std::vector<float> samples_;  // slot i at i * kSlotSamples, zero-filled
  std::array<Slot, kSlots> slots_{};
  // Counts of pieces written and read; each written by one side only.
  alignas(64) std::atomic<std::uint64_t> head_{0};
  alignas(64) std::atomic<std::uint64_t> tail_{0};
  std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace mivo::audio::pipewire
