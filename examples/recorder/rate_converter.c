#include "rate_converter.h"

#include <soxr.h>
#include <stdlib.h>
#include <string.h>

void rate_converter_init(struct rate_converter* converter) {
  memset(converter, 0, sizeof *converter);
}

void rate_converter_free(struct rate_converter* converter) {
  if (converter->soxr != NULL) soxr_delete(converter->soxr);
  free(converter->out);
  rate_converter_init(converter);
}

static int reserve(struct rate_converter* converter, size_t needed) {
  if (needed <= converter->out_capacity) return 0;
  float* grown = realloc(converter->out, needed * sizeof *grown);
  if (grown == NULL) return -1;
  converter->out = grown;
  converter->out_capacity = needed;
  return 0;
}

/* Appends the converter's output for count samples (none and NULL: let out
 * the rest) to converter->out after *filled. */
static int run(struct rate_converter* converter, const float* samples, size_t count,
               size_t* filled) {
  double ratio = (double)converter->file_rate / converter->from_rate;
  size_t consumed = 0;
  for (;;) {
    /* Room for this input's share and the filter's delay. */
    size_t room = (size_t)((double)(count - consumed) * ratio) + 256;
    if (reserve(converter, *filled + room) != 0) return -1;
    size_t used = 0;
    size_t made = 0;
    soxr_error_t error =
        soxr_process(converter->soxr, samples == NULL ? NULL : samples + consumed, count - consumed,
                     &used, converter->out + *filled, room, &made);
    if (error != NULL) return -1;
    consumed += used;
    *filled += made;
    if (samples != NULL ? consumed == count && made < room : made == 0) return 0;
  }
}

static int let_out(struct rate_converter* converter, size_t* filled) {
  if (converter->soxr == NULL) return 0;
  int result = run(converter, NULL, 0, filled);
  soxr_delete(converter->soxr);
  converter->soxr = NULL;
  converter->from_rate = 0;
  return result;
}

int rate_converter_convert(struct rate_converter* converter, int32_t rate, const float* samples,
                           size_t count, const float** out, size_t* out_count) {
  if (converter->file_rate == 0) converter->file_rate = rate;
  size_t filled = 0;
  *out = converter->out;
  *out_count = 0;
  if (rate != converter->from_rate && let_out(converter, &filled) != 0) return -1;
  if (rate == converter->file_rate) {
    if (filled == 0) {
      *out = samples;
      *out_count = count;
      return 0;
    }
    if (reserve(converter, filled + count) != 0) return -1;
    memcpy(converter->out + filled, samples, count * sizeof *samples);
    *out = converter->out;
    *out_count = filled + count;
    return 0;
  }
  if (converter->soxr == NULL) {
    soxr_error_t error = NULL;
    converter->soxr = soxr_create(rate, converter->file_rate, 1, &error, NULL, NULL, NULL);
    if (error != NULL) return -1;
    converter->from_rate = rate;
  }
  int result = run(converter, samples, count, &filled);
  *out = converter->out;
  *out_count = filled;
  return result;
}

int rate_converter_finish(struct rate_converter* converter, const float** out, size_t* out_count) {
  size_t filled = 0;
  int result = let_out(converter, &filled);
  *out = converter->out;
  *out_count = filled;
  return result;
}
