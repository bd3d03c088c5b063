/*
 * Mono 32-bit float WAV files of any length: a plain RIFF/WAVE file while
 * it fits in 4 GiB, RF64 (EBU Tech 3306) beyond. The header is written by
 * hand because sox warns about the float WAV headers libsndfile writes (a
 * 16-byte fmt chunk, or WAVE_FORMAT_EXTENSIBLE); this one carries the
 * 18-byte IEEE-float fmt chunk and the fact chunk that float data needs.
 */
#ifndef MIVO_FLOAT_WAV_H
#define MIVO_FLOAT_WAV_H

#include <stdint.h>
#include <stdio.h>

/* Bytes before the first sample; the same for both layouts. */
#define FLOAT_WAV_HEADER_BYTES 94

/* Writes the header for frame_count frames at the start of the file and
 * leaves the position at the end of the header. Returns 0 or -1 (errno). */
int float_wav_write_header(FILE* file, uint32_t sample_rate, uint64_t frame_count);

#endif
