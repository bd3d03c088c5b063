// The capture node behind an aggregate device: a stream of the library's own.
//
// Its input ports are set up by the library itself (not by the session
// manager, which leaves the node alone: its media class is none that
// WirePlumber manages): one mono port per channel of a 7.1 layout, so that a
// playback stream on a surround output can be linked channel by channel.
// (Stereo ports alone when no output has more channels.)
// PipeWire's own converter inside the stream mixes those ports down to the
// stereo the library reads, with the standard downmix (centre and surrounds
// at -3 dB, LFE dropped, no normalisation). Nothing links the node
// automatically, and it keeps processing when no link feeds it
// (node.always-process), so cycles run, with silence, even when nothing
// plays. Each cycle goes to the IO delivery.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/pipewire/io_delivery.h"

struct pw_core;
struct pw_registry;
struct pw_stream;
struct spa_hook;
struct spa_pod;

namespace mivo::audio::pipewire {

struct NegotiatedFormat {
  std::uint32_t rate = 0;
  std::uint32_t channels = 0;
  bool isFloat32 = false;
};

// The channels of the capture node's input ports, in port order: a 7.1
// layout when some output has more than two channels, else stereo (whose
// converter then only copies).
const std::vector<std::string>& captureInputChannels(bool surround);

class CaptureStream {
 public:
  // Asks for interleaved stereo float32 at the given rate. Throws only when
  // the stream cannot be made at all; the node id, the format and failure
  // arrive later on the loop thread, each followed by a call of changed.
  CaptureStream(pw_core* core, const std::string& nodeName, const std::string& description,
                std::uint32_t rate, bool surround, std::function<void()> changed);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  // The node's id in the graph, once the server has made it; 0 before.
  std::uint32_t nodeId() const;
  const std::optional<NegotiatedFormat>& format() const { return format_; }
  bool hasFailed() const { return failed_; }
  IoDelivery& delivery() { return delivery_; }

  // Asks the server to destroy the node, before the stream is destroyed
  // here. A node the client destroys itself turns into a zombie proxy at
  // once, and libpipewire 0.3.65 drops the messages that still arrive for a
  // zombie without closing the descriptors they carry: the server's
  // set_activation for a new driver or peer (an eventfd) leaked about 1.6
  // descriptors per default-output switch while streams played. Removed by
  // the server, the node takes those messages while it is still alive and
  // closes their descriptors when it is cleaned up. False when there is
  // nothing to wait for (no node yet, or already gone); otherwise hasFailed()
  // turns true once the server has removed it.
  bool requestRemoval(pw_registry* registry);

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
