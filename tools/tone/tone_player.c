/* A foreign player for the demo, the capture tests and the benchmark:
 *   tone_player FREQUENCY SECONDS [PERIOD_MS [AMPLITUDE [LAYOUT [TONE_CHANNELS]]]]
 * A continuous tone, or with PERIOD_MS > 0 bursts of 20 ms at that period,
 * printing "onset <ns>" (CLOCK_MONOTONIC) for each. AMPLITUDE defaults to
 * 0.5. SECONDS 0 plays until SIGTERM or SIGINT. LAYOUT names the stream's
 * channels ("FL,FR,FC,LFE,RL,RR"; default "FL,FR"), TONE_CHANNELS those
 * that carry the tone (default: all). FREQUENCY 0 plays a ramp (see
 * tone_stream.h). */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tone_stream.h"

static volatile sig_atomic_t stop_requested = 0;

static void on_signal(int signal_number) {
  (void)signal_number;
  stop_requested = 1;
}

static void print_onset(void* user, uint64_t monotonic_ns) {
  (void)user;
  printf("onset %llu\n", (unsigned long long)monotonic_ns);
  fflush(stdout);
}

int main(int argc, char** argv) {
  if (argc < 3 || argc > 7) {
    fprintf(stderr,
            "usage: %s FREQUENCY SECONDS [PERIOD_MS [AMPLITUDE [LAYOUT [TONE_CHANNELS]]]]\n",
            argv[0]);
    return 2;
  }
  double frequency = atof(argv[1]);
  double seconds = atof(argv[2]);
  int period_ms = argc >= 4 ? atoi(argv[3]) : 0;
  float amplitude = argc >= 5 ? (float)atof(argv[4]) : 0.5f;
  const char* layout = argc >= 6 ? argv[5] : NULL;
  const char* tone_channels = argc >= 7 ? argv[6] : NULL;
  struct sigaction action = {0};
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGINT, &action, NULL);

  struct tone_stream* tone =
      period_ms > 0 ? tone_stream_start_clicks(frequency, amplitude, period_ms, print_onset, NULL)
                    : tone_stream_start_layout(frequency, amplitude, layout, tone_channels);
  if (tone == NULL) {
    fprintf(stderr, "tone_player: no sound server\n");
    return 1;
  }
  struct timespec tick = {0, 10 * 1000 * 1000};
  for (double waited = 0; !stop_requested && (seconds <= 0 || waited < seconds); waited += 0.01)
    nanosleep(&tick, NULL);
  tone_stream_stop(tone);
  return 0;
}
