/* A JACK client for the capture tests: one output port, connected to every
 * input port whose name matches the pattern (a regular expression), playing
 * until SIGTERM a sine tone of amplitude 0.5, or, as an effect, what its
 * input port NAME:in receives, unchanged.
 *   jack_tone FREQUENCY PATTERN         (run under pw-jack)
 *   jack_tone --effect NAME PATTERN */
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <jack/jack.h>

static jack_port_t *input, *output;
static double phase, step;
static volatile sig_atomic_t stop_requested = 0;

static void on_signal(int signal_number) {
  (void)signal_number;
  stop_requested = 1;
}

static int process(jack_nframes_t frames, void* arg) {
  (void)arg;
  float* out = jack_port_get_buffer(output, frames);
  if (input != NULL) {
    memcpy(out, jack_port_get_buffer(input, frames), frames * sizeof(float));
    return 0;
  }
  for (jack_nframes_t i = 0; i < frames; i++) {
    out[i] = 0.5f * (float)sin(phase);
    phase = fmod(phase + step, 2 * M_PI);
  }
  return 0;
}

int main(int argc, char** argv) {
  const int effect = argc == 4 && strcmp(argv[1], "--effect") == 0;
  if (argc != 3 && !effect) {
    fprintf(stderr, "usage: %s FREQUENCY PATTERN | --effect NAME PATTERN\n", argv[0]);
    return 2;
  }
  const char* pattern = argv[argc - 1];
  struct sigaction action = {0};
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGINT, &action, NULL);
  jack_client_t* client =
      effect ? jack_client_open(argv[2], JackNoStartServer | JackUseExactName, NULL)
             : jack_client_open("mivo-jack-tone", JackNoStartServer, NULL);
  if (client == NULL) {
    fprintf(stderr, "jack_tone: no server\n");
    return 1;
  }
  if (effect)
    input = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  else
    step = 2 * M_PI * atof(argv[1]) / jack_get_sample_rate(client);
  output = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if ((effect && input == NULL) || output == NULL ||
      jack_set_process_callback(client, process, NULL) != 0 || jack_activate(client) != 0) {
    fprintf(stderr, "jack_tone: could not start\n");
    return 1;
  }
  const char** ports = jack_get_ports(client, pattern, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
  for (int i = 0; ports != NULL && ports[i] != NULL; i++)
    if (jack_connect(client, jack_port_name(output), ports[i]) != 0)
      fprintf(stderr, "jack_tone: could not connect to %s\n", ports[i]);
  jack_free(ports);
  while (!stop_requested) usleep(10000);
  jack_client_close(client);
  return 0;
}
