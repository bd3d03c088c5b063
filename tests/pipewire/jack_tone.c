/* A JACK client for the capture tests: one output port playing a sine tone
 * of amplitude 0.5, connected to every input port whose name matches the
 * pattern (a regular expression), until SIGTERM.
 *   jack_tone FREQUENCY PATTERN      (run under pw-jack) */
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <jack/jack.h>

static jack_port_t* output;
static double phase, step;
static volatile sig_atomic_t stop_requested = 0;

static void on_signal(int signal_number) {
  (void)signal_number;
  stop_requested = 1;
}

static int process(jack_nframes_t frames, void* arg) {
  (void)arg;
  float* out = jack_port_get_buffer(output, frames);
  for (jack_nframes_t i = 0; i < frames; i++) {
    out[i] = 0.5f * (float)sin(phase);
    phase = fmod(phase + step, 2 * M_PI);
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s FREQUENCY PATTERN\n", argv[0]);
    return 2;
  }
  struct sigaction action = {0};
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGINT, &action, NULL);
  jack_client_t* client = jack_client_open("mivo-jack-tone", JackNoStartServer, NULL);
  if (client == NULL) {
    fprintf(stderr, "jack_tone: no server\n");
    return 1;
  }
  step = 2 * M_PI * atof(argv[1]) / jack_get_sample_rate(client);
  output = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (output == NULL || jack_set_process_callback(client, process, NULL) != 0 ||
      jack_activate(client) != 0) {
    fprintf(stderr, "jack_tone: could not start\n");
    return 1;
  }
  const char** ports = jack_get_ports(client, argv[2], JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
  for (int i = 0; ports != NULL && ports[i] != NULL; i++)
    if (jack_connect(client, jack_port_name(output), ports[i]) != 0)
      fprintf(stderr, "jack_tone: could not connect to %s\n", ports[i]);
  jack_free(ports);
  while (!stop_requested) usleep(10000);
  jack_client_close(client);
  return 0;
}
