/*
 * mivo-recorder: records what this machine plays into a WAV file.
 *
 *   mivo-recorder [SECONDS] [FILE]     default: 5 seconds into capture.wav
 *
 * The file is mono 32-bit float at the capture's first sample rate: when the
 * output changes to a device of another rate, the cycles are converted back
 * to it, so the file plays at the right speed throughout. It replaces FILE
 * only once it is complete; the summary names it only then. Prints the sample rate, the frames
 * received and the peak level; on a terminal a live line shows the time and
 * the level. Tells on stderr when the capture went silent (its output device
 * was lost) and when frames came back; exits with 1 when it was still silent
 * at the end. Ctrl-C ends the recording early and still writes the file.
 *
 * Uses only the library's public header: the callbacks only hand frames and
 * notices over; the main thread prints, writes the file and makes the stop
 * call.
 */
#include <errno.h>
#include <math.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "float_wav.h"
#include "mivo_capture.h"
#include "output_file.h"
#include "rate_converter.h"
#include "status_line.h"

static volatile sig_atomic_t interrupted = 0;

static void on_interrupt(int signal_number) {
  (void)signal_number;
  interrupted = 1;
}

/* Frames handed over by the audio thread, waiting for the main thread. */
struct recording {
  pthread_mutex_t lock;
  float* pending;
  size_t pending_count;
  size_t pending_capacity;
  int out_of_memory;
  uint64_t frames;
  float peak;
  float recent_peak;               /* since the status line last showed it */
  struct rate_converter converter; /* the audio thread's, then the main thread's */
  atomic_int rate;                 /* of the last cycle */
  atomic_int silent;
  atomic_int silence_notice;
  atomic_int resume_notice;
};

/* Appends samples to those waiting for the main thread. */
static void keep_samples(struct recording* rec, const float* samples, size_t count) {
  size_t needed = rec->pending_count + count;
  if (needed > rec->pending_capacity) {
    size_t capacity = needed * 2;
    float* grown = realloc(rec->pending, capacity * sizeof *grown);
    if (grown == NULL) {
      rec->out_of_memory = 1;
      return;
    }
    rec->pending = grown;
    rec->pending_capacity = capacity;
  }
  if (count > 0) memcpy(rec->pending + rec->pending_count, samples, count * sizeof *samples);
  rec->pending_count = needed;
}

static void note_levels(struct recording* rec, const float* samples, int32_t frame_count) {
  for (int32_t i = 0; i < frame_count; i++)
    if (fabsf(samples[i]) > rec->recent_peak) rec->recent_peak = fabsf(samples[i]);
  if (rec->recent_peak > rec->peak) rec->peak = rec->recent_peak;
  rec->frames += (uint64_t)frame_count;
}

static void on_frame(void* ctx, uint8_t source, const float* samples, int32_t frame_count,
                     int32_t sample_rate) {
  (void)source;
  struct recording* rec = ctx;
  if (atomic_exchange(&rec->silent, 0)) atomic_store(&rec->resume_notice, 1);
  atomic_store(&rec->rate, sample_rate);
  /* Converted here, on the audio thread, which the converter belongs to
   * until the capture has stopped. */
  const float* converted = NULL;
  size_t converted_count = 0;
  int conversion_failed =
      rate_converter_convert(&rec->converter, sample_rate, samples, (size_t)frame_count, &converted,
                             &converted_count) != 0;
  pthread_mutex_lock(&rec->lock);
  note_levels(rec, samples, frame_count);
  if (conversion_failed) rec->out_of_memory = 1;
  keep_samples(rec, converted, converted_count);
  pthread_mutex_unlock(&rec->lock);
}

static void on_stopped(void* ctx) {
  struct recording* rec = ctx;
  atomic_store(&rec->silent, 1);
  atomic_store(&rec->silence_notice, 1);
}

/* Moves what the audio thread collected into the file (little-endian host). */
static int drain(struct recording* rec, FILE* file, uint64_t* written) {
  pthread_mutex_lock(&rec->lock);
  size_t count = rec->pending_count;
  int ok = count == 0 || fwrite(rec->pending, sizeof(float), count, file) == count;
  rec->pending_count = 0;
  pthread_mutex_unlock(&rec->lock);
  *written += count;
  return ok ? 0 : -1;
}

static float take_recent_peak(struct recording* rec) {
  pthread_mutex_lock(&rec->lock);
  float peak = rec->recent_peak;
  rec->recent_peak = 0;
  pthread_mutex_unlock(&rec->lock);
  return peak;
}

static void print_notices(struct recording* rec, FILE* terminal, int32_t* shown_rate) {
  int32_t rate = atomic_load(&rec->rate);
  if (rate != *shown_rate && rate > 0) {
    if (*shown_rate > 0) {
      if (terminal != NULL) status_line_clear(terminal);
      fprintf(stderr,
              "mivo-recorder: the output now runs at %d Hz; the file keeps its first rate\n",
              (int)rate);
    }
    *shown_rate = rate;
  }
  if (atomic_exchange(&rec->silence_notice, 0)) {
    if (terminal != NULL) status_line_clear(terminal);
    fprintf(stderr, "mivo-recorder: capture went silent (output device lost); waiting for one\n");
  }
  if (atomic_exchange(&rec->resume_notice, 0)) {
    if (terminal != NULL) status_line_clear(terminal);
    fprintf(stderr, "mivo-recorder: frames resumed\n");
  }
}

static double monotonic_seconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static int parse_seconds(const char* text, double* seconds) {
  char* end = NULL;
  errno = 0;
  *seconds = strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && *seconds > 0 && *seconds <= 86400 ? 0 : -1;
}

static void print_usage(FILE* stream, const char* program) {
  fprintf(stream,
          "usage: %s [SECONDS] [FILE]\n"
          "Records what this machine plays for SECONDS (default 5, at most 86400) into FILE\n"
          "(default capture.wav), a mono 32-bit float WAV file. FILE is replaced only when\n"
          "the recording is complete. Ctrl-C stops early and keeps what was recorded.\n",
          program);
}

static int is_help(const char* argument) {
  return strcmp(argument, "-h") == 0 || strcmp(argument, "--help") == 0;
}

static void catch_interrupts(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_interrupt;
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);
}

/* Records until the time is up, Ctrl-C, or a write fails; then stops the
 * capture and writes what is left. Returns 0 or -1 (write failure). */
static int record(struct recording* rec, FILE* file, double seconds, uint64_t* written) {
  FILE* terminal = isatty(STDERR_FILENO) ? stderr : NULL;
  int write_failed = 0;
  struct timespec tick = {0, 100 * 1000 * 1000};
  double start = monotonic_seconds();
  double now = start;
  int32_t shown_rate = 0;
  while (now - start < seconds && !interrupted && !write_failed) {
    nanosleep(&tick, NULL);
    write_failed = drain(rec, file, written) != 0;
    print_notices(rec, terminal, &shown_rate);
    now = monotonic_seconds();
    if (terminal != NULL) status_line_show(terminal, now - start, seconds, take_recent_peak(rec));
  }
  if (terminal != NULL) status_line_clear(terminal);
  mivo_tap_stop();
  /* No callback runs once the stop has returned: the converter is ours now. */
  const float* rest = NULL;
  size_t rest_count = 0;
  if (rate_converter_finish(&rec->converter, &rest, &rest_count) != 0) rec->out_of_memory = 1;
  keep_samples(rec, rest, rest_count);
  write_failed = write_failed || drain(rec, file, written) != 0;
  print_notices(rec, NULL, &shown_rate);
  return write_failed ? -1 : 0;
}

static void print_summary(const struct recording* rec, const char* path, int32_t rate,
                          uint64_t written, int file_written) {
  printf("sample rate: %d Hz\n", (int)rate);
  printf("frames received: %llu\n", (unsigned long long)rec->frames);
  printf("peak: %.4f\n", (double)rec->peak);
  if (file_written) printf("file: %s (%.2f s of mono float32)\n", path, (double)written / rate);
}

int main(int argc, char** argv) {
  if (argc > 1 && is_help(argv[1])) {
    print_usage(stdout, argv[0]);
    return 0;
  }
  double seconds = 5;
  const char* path = argc > 2 ? argv[2] : "capture.wav";
  if (argc > 3 || (argc > 1 && parse_seconds(argv[1], &seconds) != 0)) {
    print_usage(stderr, argv[0]);
    return 2;
  }
  struct output_file out;
  const char* reason = NULL;
  if (output_file_open(&out, path, &reason) != 0 ||
      float_wav_write_header(out.stream, 48000, 0) != 0) {
    fprintf(stderr, "mivo-recorder: cannot write %s: %s\n", path,
            reason != NULL ? reason : strerror(errno));
    if (reason == NULL) output_file_discard(&out);
    return 2;
  }

  struct recording rec;
  memset(&rec, 0, sizeof rec);
  pthread_mutex_init(&rec.lock, NULL);
  atomic_init(&rec.rate, 0);
  atomic_init(&rec.silent, 0);
  atomic_init(&rec.silence_notice, 0);
  atomic_init(&rec.resume_notice, 0);
  rate_converter_init(&rec.converter);
  catch_interrupts();

  int32_t status = mivo_tap_start(&rec, on_frame, on_stopped);
  if (status != MIVO_TAP_OK) {
    const char* error = mivo_capture_last_error();
    fprintf(stderr, "mivo-recorder: capture did not start (status %d): %s\n", (int)status,
            error != NULL ? error : "unknown");
    output_file_discard(&out);
    rate_converter_free(&rec.converter);
    return 1;
  }
  fprintf(stderr, "mivo-recorder: recording %.1f s into %s (Ctrl-C stops early)\n", seconds, path);

  uint64_t written = 0;
  int failed = record(&rec, out.stream, seconds, &written) != 0;
  if (interrupted) fprintf(stderr, "mivo-recorder: interrupted, stopped cleanly\n");
  int32_t rate = rec.converter.file_rate > 0 ? rec.converter.file_rate : 48000;
  failed = failed || float_wav_write_header(out.stream, (uint32_t)rate, written) != 0;
  if (failed)
    output_file_discard(&out);
  else
    failed = output_file_commit(&out) != 0;
  print_summary(&rec, path, rate, written, !failed);
  rate_converter_free(&rec.converter);
  free(rec.pending);
  pthread_mutex_destroy(&rec.lock);
  if (rec.out_of_memory) fprintf(stderr, "mivo-recorder: out of memory, frames were dropped\n");
  if (failed) {
    fprintf(stderr, "mivo-recorder: writing %s failed; it was left as it was\n", path);
    return 1;
  }
  if (atomic_load(&rec.silent)) {
    fprintf(stderr,
            "mivo-recorder: the capture stopped (output device lost) and did not resume; "
            "%s holds what was recorded before\n",
            path);
    return 1;
  }
  return 0;
}
