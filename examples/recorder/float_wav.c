#include "float_wav.h"

#include <string.h>

enum { ds64_payload = 28, fmt_payload = 18, fact_payload = 4 };

static unsigned char* put_tag(unsigned char* at, const char tag[4]) {
  memcpy(at, tag, 4);
  return at + 4;
}

static unsigned char* put_le(unsigned char* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; i++) at[i] = (unsigned char)(value >> (8 * i));
  return at + bytes;
}

int float_wav_write_header(FILE* file, uint32_t sample_rate, uint64_t frame_count) {
  uint64_t data_bytes = frame_count * 4;
  uint64_t riff_bytes = FLOAT_WAV_HEADER_BYTES - 8 + data_bytes;
  int rf64 = riff_bytes > UINT32_MAX;
  unsigned char header[FLOAT_WAV_HEADER_BYTES];
  unsigned char* at = put_tag(header, rf64 ? "RF64" : "RIFF");
  at = put_le(at, rf64 ? UINT32_MAX : riff_bytes, 4);
  at = put_tag(at, "WAVE");
  /* The room for the 64-bit sizes, kept as a JUNK chunk while not needed
   * so that the file can grow into RF64 without moving the samples. */
  at = put_tag(at, rf64 ? "ds64" : "JUNK");
  at = put_le(at, ds64_payload, 4);
  at = put_le(at, rf64 ? riff_bytes : 0, 8);
  at = put_le(at, rf64 ? data_bytes : 0, 8);
  at = put_le(at, rf64 ? frame_count : 0, 8);
  at = put_le(at, 0, 4); /* no table entries */
  at = put_tag(at, "fmt ");
  at = put_le(at, fmt_payload, 4);
  at = put_le(at, 3, 2); /* WAVE_FORMAT_IEEE_FLOAT */
  at = put_le(at, 1, 2); /* mono */
  at = put_le(at, sample_rate, 4);
  at = put_le(at, (uint64_t)sample_rate * 4, 4);
  at = put_le(at, 4, 2);  /* block align */
  at = put_le(at, 32, 2); /* bits per sample */
  at = put_le(at, 0, 2);  /* no extension */
  /* RF64 keeps the frame count in ds64; its readers do not expect fact. */
  at = put_tag(at, rf64 ? "JUNK" : "fact");
  at = put_le(at, fact_payload, 4);
  at = put_le(at, rf64 ? UINT32_MAX : frame_count, 4);
  at = put_tag(at, "data");
  put_le(at, rf64 ? UINT32_MAX : data_bytes, 4);
  return fseeko(file, 0, SEEK_SET) == 0 && fwrite(header, sizeof header, 1, file) == 1 ? 0 : -1;
}
