/*
 * Keeps a recording at one sample rate while the capture's rate changes
 * (the default output moved to a device with another rate): every cycle is
 * converted to the recording's rate, the first one it saw, with libsoxr.
 * A cycle already at that rate is passed on as it is. When the rate changes
 * again, what the converter still holds of the old rate is let out first,
 * so no sound is lost at the seam.
 */
#ifndef MIVO_RATE_CONVERTER_H
#define MIVO_RATE_CONVERTER_H

#include <stddef.h>
#include <stdint.h>

struct rate_converter {
  int32_t file_rate; /* 0 until the first cycle */
  int32_t from_rate; /* the rate the converter is made for; 0: none */
  void* soxr;
  float* out; /* converted samples of the last call */
  size_t out_capacity;
};

void rate_converter_init(struct rate_converter* converter);
void rate_converter_free(struct rate_converter* converter);

/* Converts count mono samples at rate to the recording's rate. *out points
 * at the result (valid until the next call), *out_count its length. Returns
 * 0, or -1 when memory ran out or the converter failed. */
int rate_converter_convert(struct rate_converter* converter, int32_t rate, const float* samples,
                           size_t count, const float** out, size_t* out_count);

/* Lets out what the converter still holds (at the end of the recording). */
int rate_converter_finish(struct rate_converter* converter, const float** out, size_t* out_count);

#endif
