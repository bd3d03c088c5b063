#include "tone_stream.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <pipewire/pipewire.h>
#include <spa/debug/types.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/audio/raw.h>
#include <spa/param/audio/type-info.h>

enum { kRate = 48000, kBurstFrames = kRate / 50, kMaxChannels = 8 };

struct tone_stream {
  struct pw_thread_loop* loop;
  struct pw_stream* stream;
  struct spa_hook listener;
  double phase;
  double step;
  float amplitude;
  /* click mode: frames until the next burst starts, frames left in a burst */
  int period_frames;
  int until_burst;
  int burst_left;
  tone_onset_callback on_onset;
  void* user;
  /* layout: channel positions, and which of them carry the tone */
  int channels;
  uint32_t position[kMaxChannels];
  int carries[kMaxChannels];
  /* ramp mode: a sawtooth that rises one step per frame over a second */
  int ramp;
  uint32_t frame;
};

static uint64_t monotonic_ns(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint64_t)now.tv_sec * 1000000000u + (uint64_t)now.tv_nsec;
}

static float next_sample(struct tone_stream* tone) {
  if (tone->ramp) {
    float value = tone->amplitude * (float)(tone->frame % kRate) / (float)kRate;
    tone->frame++;
    return value;
  }
  float value = tone->amplitude * (float)sin(tone->phase);
  tone->phase += tone->step;
  if (tone->phase > 2 * M_PI) tone->phase -= 2 * M_PI;
  return value;
}

/* In click mode a burst always starts a buffer, so the buffer's hand-over
 * time is the burst's. */
static int fill(struct tone_stream* tone, float* out, int frames) {
  int onset = 0;
  if (tone->period_frames > 0 && tone->until_burst <= 0) {
    tone->until_burst = tone->period_frames;
    tone->burst_left = kBurstFrames;
    tone->phase = 0;
    onset = 1;
  }
  for (int i = 0; i < frames; i++) {
    float value = 0;
    if (tone->period_frames == 0 || tone->burst_left > 0) {
      value = next_sample(tone);
      if (tone->burst_left > 0) tone->burst_left--;
    }
    for (int c = 0; c < tone->channels; c++)
      out[i * tone->channels + c] = tone->carries[c] ? value : 0.0f;
  }
  tone->until_burst -= frames;
  return onset;
}

static void on_process(void* data) {
  struct tone_stream* tone = data;
  struct pw_buffer* buffer = pw_stream_dequeue_buffer(tone->stream);
  if (buffer == NULL) return;
  struct spa_data* block = &buffer->buffer->datas[0];
  if (block->data == NULL) {
    pw_stream_queue_buffer(tone->stream, buffer);
    return;
  }
  int stride = (int)sizeof(float) * tone->channels;
  int frames = (int)(block->maxsize / (uint32_t)stride);
  if (buffer->requested > 0 && buffer->requested < (uint64_t)frames)
    frames = (int)buffer->requested;
  int onset = fill(tone, block->data, frames);
  block->chunk->offset = 0;
  block->chunk->stride = stride;
  block->chunk->size = (uint32_t)(frames * stride);
  pw_stream_queue_buffer(tone->stream, buffer);
  if (onset && tone->on_onset != NULL) tone->on_onset(tone->user, monotonic_ns());
}

static const struct pw_stream_events stream_events = {
    .version = PW_VERSION_STREAM_EVENTS,
    .process = on_process,
};

static uint32_t channel_by_name(const char* name) {
  for (const struct spa_type_info* info = spa_type_audio_channel; info->name != NULL; info++)
    if (strcmp(spa_debug_type_short_name(info->name), name) == 0) return info->type;
  return SPA_AUDIO_CHANNEL_UNKNOWN;
}

/* "FL,FR,FC" into positions; the tone on the listed ones (NULL: all). */
static int set_layout(struct tone_stream* tone, const char* layout, const char* tone_channels) {
  char names[256];
  snprintf(names, sizeof names, "%s", layout != NULL ? layout : "FL,FR");
  tone->channels = 0;
  for (char *save = NULL, *name = strtok_r(names, ",", &save); name != NULL;
       name = strtok_r(NULL, ",", &save)) {
    if (tone->channels == kMaxChannels) return -1;
    tone->position[tone->channels] = channel_by_name(name);
    tone->carries[tone->channels] = 1;
    if (tone_channels != NULL) {
      char wanted[256];
      snprintf(wanted, sizeof wanted, ",%s,", tone_channels);
      char key[32];
      snprintf(key, sizeof key, ",%s,", name);
      tone->carries[tone->channels] = strstr(wanted, key) != NULL;
    }
    tone->channels++;
  }
  return tone->channels > 0 ? 0 : -1;
}

static struct tone_stream* start(double frequency, float amplitude, int period_ms,
                                 tone_onset_callback on_onset, void* user, const char* layout,
                                 const char* tone_channels) {
  pw_init(NULL, NULL);
  struct tone_stream* tone = calloc(1, sizeof *tone);
  if (tone == NULL) return NULL;
  if (set_layout(tone, layout, tone_channels) < 0) {
    free(tone);
    return NULL;
  }
  tone->ramp = frequency <= 0;
  tone->step = 2 * M_PI * frequency / kRate;
  tone->amplitude = amplitude;
  tone->period_frames = period_ms * kRate / 1000;
  tone->on_onset = on_onset;
  tone->user = user;
  tone->loop = pw_thread_loop_new("tone", NULL);
  if (tone->loop == NULL) {
    free(tone);
    return NULL;
  }
  struct pw_properties* props = pw_properties_new(
      PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
      PW_KEY_NODE_NAME, "mivo-test-tone", PW_KEY_NODE_LATENCY, "256/48000", NULL);
  tone->stream = pw_stream_new_simple(pw_thread_loop_get_loop(tone->loop), "tone", props,
                                      &stream_events, tone);
  uint8_t pod_buffer[1024];
  struct spa_pod_builder builder = SPA_POD_BUILDER_INIT(pod_buffer, sizeof pod_buffer);
  struct spa_audio_info_raw info = {
      .format = SPA_AUDIO_FORMAT_F32, .rate = kRate, .channels = (uint32_t)tone->channels};
  memcpy(info.position, tone->position, sizeof tone->position);
  const struct spa_pod* params[] = {
      spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
  if (tone->stream == NULL ||
      pw_stream_connect(tone->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS, params, 1) < 0 ||
      pw_thread_loop_start(tone->loop) < 0) {
    tone_stream_stop(tone);
    return NULL;
  }
  return tone;
}

struct tone_stream* tone_stream_start(double frequency, float amplitude) {
  return start(frequency, amplitude, 0, NULL, NULL, NULL, NULL);
}

struct tone_stream* tone_stream_start_layout(double frequency, float amplitude, const char* layout,
                                             const char* tone_channels) {
  return start(frequency, amplitude, 0, NULL, NULL, layout, tone_channels);
}

struct tone_stream* tone_stream_start_clicks(double frequency, float amplitude, int period_ms,
                                             tone_onset_callback on_onset, void* user) {
  return start(frequency, amplitude, period_ms, on_onset, user, NULL, NULL);
}

void tone_stream_stop(struct tone_stream* tone) {
  if (tone == NULL) return;
  pw_thread_loop_stop(tone->loop);
  if (tone->stream != NULL) pw_stream_destroy(tone->stream);
  pw_thread_loop_destroy(tone->loop);
  free(tone);
}
