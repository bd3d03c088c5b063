#include "audio/pipewire/capture_stream.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

namespace mivo::audio::pipewire {

namespace {

constexpr std::uint32_t kChannels = 2;
// No class the session manager manages (Stream/*, Audio/*, Video/*): it
// neither configures nor links the node, and a restart of it leaves the
// node as it is.
constexpr const char* kMediaClass = "Mivo/Capture";

std::string portConfig(std::uint32_t rate, bool surround) {
  std::string positions;
  for (const std::string& channel : captureInputChannels(surround)) positions += channel + " ";
  return "{ direction = Input mode = dsp monitor = false control = false format = { "
         "mediaType = audio mediaSubtype = raw format = F32P rate = " +
         std::to_string(rate) +
         " channels = " + std::to_string(captureInputChannels(surround).size()) + " position = [ " +
         positions + "] } }";
}

// No latency of its own (node.latency): the node runs at the quantum of the
// graph it joins. A quantum it asked for would change the quantum of every
// stream it links, and again at each rebuild; a stream that the session
// manager moves to the new output meanwhile is then reconfigured twice at
// once, which crashes players that convert their format (seen: pw-play of a
// 16-bit file, in the converter of its data thread, on 8 of 10 runs of six
// switches).
pw_properties* streamProperties(const std::string& nodeName, const std::string& description,
                                std::uint32_t rate, bool surround) {
  return pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                           PW_KEY_MEDIA_CLASS, kMediaClass, PW_KEY_NODE_NAME, nodeName.c_str(),
                           PW_KEY_NODE_DESCRIPTION, description.c_str(), "node.always-process",
                           "true", PW_KEY_NODE_WANT_DRIVER, "true", "node.param.PortConfig",
                           portConfig(rate, surround).c_str(),
                           // The converter's mix of the input ports down to stereo: the standard
                           // matrix, unscaled, without the LFE and without inventing channels.
                           "channelmix.normalize", "false", "channelmix.mix-lfe", "false",
                           "channelmix.upmix", "false", nullptr);
}

}  // namespace

const std::vector<std::string>& captureInputChannels(bool surround) {
  static const std::vector<std::string> sevenOne{"FL", "FR", "FC", "LFE", "RL", "RR", "SL", "SR"};
  static const std::vector<std::string> stereo{"FL", "FR"};
  return surround ? sevenOne : stereo;
}

CaptureStream::CaptureStream(pw_core* core, const std::string& nodeName,
                             const std::string& description, std::uint32_t rate, bool surround,
                             std::function<void()> changed)
    : listener_(std::make_unique<spa_hook>()), changed_(std::move(changed)), channels_(kChannels) {
  static const pw_stream_events events = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.process = &CaptureStream::onProcess;
    e.param_changed = &CaptureStream::onParamChanged;
    e.state_changed = [](void* data, pw_stream_state old, pw_stream_state state,
                         const char* error) {
      CaptureStream::onStateChanged(data, old, state, error);
    };
    return e;
  }();
  stream_ = pw_stream_new(core, description.c_str(),
                          streamProperties(nodeName, description, rate, surround));
  if (stream_ == nullptr) throw std::runtime_error("pw_stream_new failed");
  pw_stream_add_listener(stream_, listener_.get(), &events, this);

  spa_audio_info_raw wanted{};
  wanted.format = SPA_AUDIO_FORMAT_F32;
  wanted.rate = rate;
  wanted.channels = kChannels;
  wanted.position[0] = SPA_AUDIO_CHANNEL_FL;
  wanted.position[1] = SPA_AUDIO_CHANNEL_FR;
  std::uint8_t podBuffer[1024];
  spa_pod_builder builder{};
  spa_pod_builder_init(&builder, podBuffer, sizeof podBuffer);
  const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &wanted)};
  // No autoconnect: the session manager would link us to a source. The
  // process tap makes our links; processing runs on PipeWire's data thread.
  auto flags = pw_stream_flags(PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
  if (pw_stream_connect(stream_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) < 0) {
    destroyStream();
    throw std::runtime_error("pw_stream_connect failed");
  }
}

CaptureStream::~CaptureStream() { destroyStream(); }

// onProcess runs on the data thread, and removing the hook that carries it
// also clears the stream's real-time callback pair, unsynchronised with that
// thread. Disconnecting first takes the node off the data loop and waits for
// it there, so no cycle is running or can start once the hook goes.
void CaptureStream::destroyStream() {
  pw_stream_disconnect(stream_);
  spa_hook_remove(listener_.get());
  pw_stream_destroy(stream_);
  stream_ = nullptr;
}

bool CaptureStream::requestRemoval(pw_registry* registry) {
  std::uint32_t id = nodeId();
  if (failed_ || id == 0 || registry == nullptr) return false;
  pw_registry_destroy(registry, id);
  return true;
}

std::uint32_t CaptureStream::nodeId() const {
  std::uint32_t id = pw_stream_get_node_id(stream_);
  return id == SPA_ID_INVALID ? 0 : id;
}

void CaptureStream::onProcess(void* data) {
  auto* self = static_cast<CaptureStream*>(data);
  pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream_);
  if (buffer == nullptr) return;
  const spa_data& block = buffer->buffer->datas[0];
  std::uint32_t channels = self->channels_.load(std::memory_order_relaxed);
  if (block.data != nullptr && block.chunk != nullptr && channels > 0) {
    std::uint32_t offset = std::min(block.chunk->offset, block.maxsize);
    std::uint32_t size = std::min(block.chunk->size, block.maxsize - offset);
    std::uint32_t frames = size / (channels * std::uint32_t(sizeof(float)));
    if (frames > 0)
      self->delivery_.deliver(
          reinterpret_cast<const float*>(static_cast<const std::uint8_t*>(block.data) + offset),
          frames, channels);
  }
  pw_stream_queue_buffer(self->stream_, buffer);
}

void CaptureStream::onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
  if (id != SPA_PARAM_Format) return;
  auto* self = static_cast<CaptureStream*>(data);
  spa_audio_info_raw raw{};
  if (param == nullptr || spa_format_audio_raw_parse(param, &raw) < 0 || raw.channels == 0) {
    self->format_.reset();
  } else {
    self->format_ = NegotiatedFormat{raw.rate, raw.channels, raw.format == SPA_AUDIO_FORMAT_F32};
    self->channels_.store(raw.channels, std::memory_order_relaxed);
  }
  self->changed_();
}

void CaptureStream::onStateChanged(void* data, int, int state, const char*) {
  auto* self = static_cast<CaptureStream*>(data);
  if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) self->failed_ = true;
  self->changed_();
}

}  // namespace mivo::audio::pipewire
