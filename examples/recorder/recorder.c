/*
 * mivo-recorder: records what this machine plays into a WAV file.
 *
 *   mivo-recorder [SECONDS] [FILE]     default: 5 seconds into capture.wav
 *
 * The file is mono 32-bit float at the capture's sample rate. Prints the
 * sample rate, the frames received and the peak level; tells on stderr when
 * the capture went silent (its output device was lost) and when frames came
 * back. Ctrl-C ends the recording early and still writes the file.
 *
 * Uses only the library's public header: the frame callback runs on the
 * library's audio thread and only appends to a buffer; the main thread
 * writes the buffer to the file and makes the stop call.
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

#include "mivo_capture.h"

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
  int32_t sample_rate;
  atomic_int went_silent;
};

static void on_frame(void* ctx, uint8_t source, const float* samples, int32_t frame_count,
                     int32_t sample_rate) {
  (void)source;
  struct recording* rec = ctx;
  if (atomic_exchange(&rec->went_silent, 0)) fprintf(stderr, "mivo-recorder: frames resumed\n");
  pthread_mutex_lock(&rec->lock);
  size_t needed = rec->pending_count + (size_t)frame_count;
  if (needed > rec->pending_capacity) {
    size_t capacity = needed * 2;
    float* grown = realloc(rec->pending, capacity * sizeof *grown);
    if (grown == NULL) {
      rec->out_of_memory = 1;
      pthread_mutex_unlock(&rec->lock);
      return;
    }
    rec->pending = grown;
    rec->pending_capacity = capacity;
  }
  memcpy(rec->pending + rec->pending_count, samples, (size_t)frame_count * sizeof *samples);
  rec->pending_count = needed;
  for (int32_t i = 0; i < frame_count; i++)
    if (fabsf(samples[i]) > rec->peak) rec->peak = fabsf(samples[i]);
  rec->frames += (uint64_t)frame_count;
  rec->sample_rate = sample_rate;
  pthread_mutex_unlock(&rec->lock);
}

static void on_stopped(void* ctx) {
  struct recording* rec = ctx;
  atomic_store(&rec->went_silent, 1);
  fprintf(stderr, "mivo-recorder: capture went silent (output device lost); waiting for one\n");
}

static void put_u32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = (unsigned char)(value >> (8 * i));
}

static void put_u16(unsigned char* at, uint16_t value) {
  at[0] = (unsigned char)value;
  at[1] = (unsigned char)(value >> 8);
}

/* The 44-byte header of a mono IEEE-float WAV file with data_bytes of data. */
static int write_wav_header(FILE* file, uint32_t sample_rate, uint32_t data_bytes) {
  unsigned char header[44];
  memcpy(header, "RIFF", 4);
  put_u32(header + 4, 36 + data_bytes);
  memcpy(header + 8, "WAVEfmt ", 8);
  put_u32(header + 16, 16);
  put_u16(header + 20, 3); /* IEEE float */
  put_u16(header + 22, 1); /* mono */
  put_u32(header + 24, sample_rate);
  put_u32(header + 28, sample_rate * 4);
  put_u16(header + 32, 4);
  put_u16(header + 34, 32);
  memcpy(header + 36, "data", 4);
  put_u32(header + 40, data_bytes);
  return fseek(file, 0, SEEK_SET) == 0 && fwrite(header, sizeof header, 1, file) == 1 ? 0 : -1;
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

int main(int argc, char** argv) {
  double seconds = 5;
  const char* path = argc > 2 ? argv[2] : "capture.wav";
  if (argc > 3 || (argc > 1 && parse_seconds(argv[1], &seconds) != 0)) {
    fprintf(stderr, "usage: %s [SECONDS] [FILE]   (default: 5 capture.wav)\n", argv[0]);
    return 2;
  }
  FILE* file = fopen(path, "wb");
  if (file == NULL || write_wav_header(file, 48000, 0) != 0) {
    fprintf(stderr, "mivo-recorder: cannot write %s: %s\n", path, strerror(errno));
    return 2;
  }

  struct recording rec;
  memset(&rec, 0, sizeof rec);
  pthread_mutex_init(&rec.lock, NULL);
  atomic_init(&rec.went_silent, 0);
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_interrupt;
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);

  int32_t status = mivo_tap_start(&rec, on_frame, on_stopped);
  if (status != MIVO_TAP_OK) {
    const char* reason = mivo_capture_last_error();
    fprintf(stderr, "mivo-recorder: capture did not start (status %d): %s\n", (int)status,
            reason != NULL ? reason : "unknown");
    fclose(file);
    remove(path);
    return 1;
  }
  fprintf(stderr, "mivo-recorder: recording %.1f s into %s (Ctrl-C stops early)\n", seconds, path);

  uint64_t written = 0;
  int write_failed = 0;
  struct timespec tick = {0, 100 * 1000 * 1000};
  double end = monotonic_seconds() + seconds;
  while (monotonic_seconds() < end && !interrupted && !write_failed) {
    nanosleep(&tick, NULL);
    write_failed = drain(&rec, file, &written) != 0;
  }
  mivo_tap_stop();
  /* No callback runs once the stop has returned. */
  write_failed = write_failed || drain(&rec, file, &written) != 0;
  if (interrupted) fprintf(stderr, "mivo-recorder: interrupted, stopped cleanly\n");

  int32_t rate = rec.sample_rate > 0 ? rec.sample_rate : 48000;
  uint64_t data_bytes = written * sizeof(float);
  if (data_bytes > UINT32_MAX - 36) data_bytes = UINT32_MAX - 36;
  write_failed = write_failed || write_wav_header(file, (uint32_t)rate, (uint32_t)data_bytes) != 0;
  write_failed = fclose(file) != 0 || write_failed;
  printf("sample rate: %d Hz\n", (int)rate);
  printf("frames received: %llu\n", (unsigned long long)rec.frames);
  printf("peak: %.4f\n", (double)rec.peak);
  printf("file: %s (%.2f s of mono float32)\n", path, (double)written / rate);
  free(rec.pending);
  pthread_mutex_destroy(&rec.lock);
  if (rec.out_of_memory) fprintf(stderr, "mivo-recorder: out of memory, frames were dropped\n");
  if (write_failed) {
    fprintf(stderr, "mivo-recorder: writing %s failed\n", path);
    return 1;
  }
  return 0;
}
