// The capture node behind an aggregate device: a stream of the library's own
// that nothing links automatically and that keeps processing when no link
// feeds it (node.always-process), so cycles run, with silence, even when
// nothing plays. Each cycle goes to the IO delivery.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/pipewire/io_delivery.h"

struct pw_core;
struct pw_stream;
struct spa_hook;
struct spa_pod;

namespace mivo::audio::pipewire {

struct NegotiatedFormat {
  std::uint32_t rate = 0;
  std::uint32_t channels = 0;
  bool isFloat32 = false;
};

class CaptureStream {
 public:
  // Asks for interleaved stereo float32 at the given rate. Throws only when
  // the stream cannot be made at all; the node id, the format and failure
  // arrive later on the loop thread, each followed by a call of changed.
  CaptureStream(pw_core* core, const std::string& nodeName, const std::string& description,
                std::uint32_t rate, std::function<void()> changed);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  // The node's id in the graph, once the server has made it; 0 before.
  std::uint32_t nodeId() const;
  const std::optional<NegotiatedFormat>& format() const { return format_; }
  bool hasFailed() const { return failed_; }
  IoDelivery& delivery() { return delivery_; }

 private:
  static void onProcess(void* data);
  static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param);
  static void onStateChanged(void* data, int old, int state, const char* error);
  void destroyStream();

  pw_stream* stream_ = nullptr;
  std::unique_ptr<spa_hook> listener_;
  std::function<void()> changed_;
  std::optional<NegotiatedFormat> format_;
  // The processing thread reads this one; format_ is the loop thread's.
  std::atomic<std::uint32_t> channels_;
  bool failed_ = false;
  IoDelivery delivery_;
};

}  // namespace mivo::audio::pipewire
