/*
 * The smallest host of libmivo_capture, built against an installed copy:
 *   cc host.c $(pkg-config --cflags --libs mivo-capture)
 * or with CMake through find_package(MivoCapture) (CMakeLists.txt here).
 * Captures for one second and prints how many frames arrived; when the
 * capture cannot start it prints the status and the library's reason.
 */
#define _POSIX_C_SOURCE 200809L /* nanosleep */

#include <mivo_capture.h>
#include <stdatomic.h>
#include <stdio.h>
#include <time.h>

struct counts {
  atomic_llong frames;
  atomic_int sample_rate;
};

/* Runs on the library's audio thread: keep it short, copy what you keep. */
static void on_frame(void* ctx, uint8_t source, const float* samples, int32_t frame_count,
                     int32_t sample_rate) {
  (void)source;
  (void)samples;
  struct counts* counts = ctx;
  atomic_fetch_add(&counts->frames, frame_count);
  atomic_store(&counts->sample_rate, sample_rate);
}

/* Runs on the library's control thread. Calling mivo_tap_stop from here is
 * safe (the stop completes in place); this host keeps recording until its
 * second is up, in case the output comes back. */
static void on_stopped(void* ctx) {
  (void)ctx;
  fputs("capture went silent: the output device was lost\n", stderr);
}

int main(void) {
  printf("libmivo_capture %d.%d.%d\n", MIVO_CAPTURE_VERSION_MAJOR, MIVO_CAPTURE_VERSION_MINOR,
         MIVO_CAPTURE_VERSION_PATCH);
  struct counts counts;
  atomic_init(&counts.frames, 0);
  atomic_init(&counts.sample_rate, 0);
  int32_t status = mivo_tap_start(&counts, on_frame, on_stopped);
  if (status != MIVO_TAP_OK) {
    const char* reason = mivo_capture_last_error();
    printf("mivo_tap_start: status %d: %s\n", (int)status, reason != NULL ? reason : "");
    return 1;
  }
  struct timespec one_second = {1, 0};
  nanosleep(&one_second, NULL);
  mivo_tap_stop(); /* no callback runs after this returns: counts may go */
  printf("captured %lld frames at %d Hz\n", (long long)atomic_load(&counts.frames),
         atomic_load(&counts.sample_rate));
  return 0;
}
