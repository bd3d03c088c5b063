/* Writes the recorder's WAV header for FRAMES frames and extends the file to
 * its full length without writing the samples (a sparse file of zeros), so
 * that headers of recordings beyond 4 GiB can be read back cheaply.
 *   float_wav_probe FILE FRAMES */
#include <stdlib.h>
#include <unistd.h>

#include "float_wav.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  uint64_t frames = strtoull(argv[2], NULL, 10);
  FILE* file = fopen(argv[1], "wb");
  if (file == NULL || float_wav_write_header(file, 48000, frames) != 0 || fflush(file) != 0 ||
      ftruncate(fileno(file), (off_t)(FLOAT_WAV_HEADER_BYTES + 4 * frames)) != 0)
    return 1;
  return fclose(file) == 0 ? 0 : 1;
}
