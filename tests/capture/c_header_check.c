/* The public header must compile as plain C and its types be usable from C. */
#include "mivo_capture.h"

static void onFrame(void* ctx, uint8_t source, const float* samples, int32_t frameCount,
                    int32_t sampleRate) {
  (void)ctx, (void)source, (void)samples, (void)frameCount, (void)sampleRate;
}

static void onStopped(void* ctx) { (void)ctx; }

int main(void) {
  mivo_frame_callback frame = onFrame;
  mivo_stopped_callback stopped = onStopped;
  int32_t (*start)(void*, mivo_frame_callback, mivo_stopped_callback) = mivo_tap_start;
  int32_t (*stop)(void) = mivo_tap_stop;
  const char* (*lastError)(void) = mivo_capture_last_error;
  return (frame && stopped && start && stop && lastError) ? 0 : 1;
}
