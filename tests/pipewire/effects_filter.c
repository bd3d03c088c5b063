/* An effects application's filter for the capture tests, the way desktop
 * equalisers work: one node, named NAME, with input ports input_FL and
 * input_FR passed on unchanged to output_FL and output_FR, and no link
 * group. It links nothing itself; the test links a sink's monitor into it
 * and its outputs into a device. Runs until SIGTERM.
 *   effects_filter NAME */
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>

enum { kChannels = 2 };

struct effects {
  struct pw_main_loop* loop;
  struct pw_filter* filter;
  void* inputs[kChannels];
  void* outputs[kChannels];
};

static void on_process(void* data, struct spa_io_position* position) {
  struct effects* effects = data;
  uint32_t frames = (uint32_t)position->clock.duration;
  for (int c = 0; c < kChannels; c++) {
    const float* in = pw_filter_get_dsp_buffer(effects->inputs[c], frames);
    float* out = pw_filter_get_dsp_buffer(effects->outputs[c], frames);
    if (out == NULL) continue;
    if (in != NULL)
      memcpy(out, in, frames * sizeof(float));
    else
      memset(out, 0, frames * sizeof(float));
  }
}

static const struct pw_filter_events filter_events = {
    PW_VERSION_FILTER_EVENTS,
    .process = on_process,
};

static void* add_port(struct effects* effects, enum pw_direction direction, const char* name,
                      const char* channel) {
  return pw_filter_add_port(
      effects->filter, direction, PW_FILTER_PORT_FLAG_MAP_BUFFERS, sizeof(float*),
      pw_properties_new(PW_KEY_FORMAT_DSP, "32 bit float mono audio", PW_KEY_PORT_NAME, name,
                        PW_KEY_AUDIO_CHANNEL, channel, NULL),
      NULL, 0);
}

static void on_signal(void* data, int signal_number) {
  (void)signal_number;
  pw_main_loop_quit(((struct effects*)data)->loop);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s NAME\n", argv[0]);
    return 2;
  }
  pw_init(&argc, &argv);
  struct effects effects = {0};
  effects.loop = pw_main_loop_new(NULL);
  pw_loop_add_signal(pw_main_loop_get_loop(effects.loop), SIGTERM, on_signal, &effects);
  pw_loop_add_signal(pw_main_loop_get_loop(effects.loop), SIGINT, on_signal, &effects);
  effects.filter = pw_filter_new_simple(
      pw_main_loop_get_loop(effects.loop), argv[1],
      pw_properties_new(PW_KEY_NODE_NAME, argv[1], PW_KEY_MEDIA_TYPE, "Audio",
                        PW_KEY_MEDIA_CATEGORY, "Filter", PW_KEY_MEDIA_ROLE, "DSP", NULL),
      &filter_events, &effects);
  const char* channels[kChannels] = {"FL", "FR"};
  for (int c = 0; c < kChannels; c++) {
    char name[32];
    snprintf(name, sizeof name, "input_%s", channels[c]);
    effects.inputs[c] = add_port(&effects, PW_DIRECTION_INPUT, name, channels[c]);
    snprintf(name, sizeof name, "output_%s", channels[c]);
    effects.outputs[c] = add_port(&effects, PW_DIRECTION_OUTPUT, name, channels[c]);
  }
  if (pw_filter_connect(effects.filter, PW_FILTER_FLAG_RT_PROCESS, NULL, 0) < 0) {
    fprintf(stderr, "effects_filter: no sound server\n");
    return 1;
  }
  pw_main_loop_run(effects.loop);
  pw_filter_destroy(effects.filter);
  pw_main_loop_destroy(effects.loop);
  pw_deinit();
  return 0;
}
