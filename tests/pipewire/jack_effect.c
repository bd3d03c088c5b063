/* A JACK effect for the capture tests: one input port passed on unchanged
 * to one output port, which is connected to every input port whose name
 * matches the pattern (a regular expression), until SIGTERM. Its ports are
 * NAME:in and NAME:out.
 *   jack_effect NAME PATTERN      (run under pw-jack) */
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <jack/jack.h>

static jack_port_t *input, *output;
static volatile sig_atomic_t stop_requested = 0;

static void on_signal(int signal_number) {
  (void)signal_number;
  stop_requested = 1;
}

static int process(jack_nframes_t frames, void* arg) {
  (void)arg;
  memcpy(jack_port_get_buffer(output, frames), jack_port_get_buffer(input, frames),
         frames * sizeof(jack_default_audio_sample_t));
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s NAME PATTERN\n", argv[0]);
    return 2;
  }
  struct sigaction action = {0};
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGINT, &action, NULL);
  jack_client_t* client = jack_client_open(argv[1], JackNoStartServer | JackUseExactName, NULL);
  if (client == NULL) {
    fprintf(stderr, "jack_effect: no server\n");
    return 1;
  }
  input = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  output = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (input == NULL || output == NULL || jack_set_process_callback(client, process, NULL) != 0 ||
      jack_activate(client) != 0) {
    fprintf(stderr, "jack_effect: could not start\n");
    return 1;
  }
  const char** ports = jack_get_ports(client, argv[2], JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
  for (int i = 0; ports != NULL && ports[i] != NULL; i++)
    if (jack_connect(client, jack_port_name(output), ports[i]) != 0)
      fprintf(stderr, "jack_effect: could not connect to %s\n", ports[i]);
  jack_free(ports);
  while (!stop_requested) usleep(10000);
  jack_client_close(client);
  return 0;
}
