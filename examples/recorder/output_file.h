/*
 * The recording's file: written under a temporary name in the target's own
 * folder and renamed onto the target only when complete, so that a failed
 * or abandoned recording never removes or truncates a file it did not make.
 */
#ifndef MIVO_OUTPUT_FILE_H
#define MIVO_OUTPUT_FILE_H

#include <stdio.h>

struct output_file {
  FILE* stream;
  char* path;
  char* temporary_path;
};

/* Creates the temporary file. Refuses a target that exists and is not a
 * regular file (a device, a folder). Returns 0, or -1 with a reason. */
int output_file_open(struct output_file* out, const char* path, const char** reason);

/* Closes the stream and renames the temporary file onto the target. */
int output_file_commit(struct output_file* out);

/* Closes the stream and removes the temporary file; the target is untouched. */
void output_file_discard(struct output_file* out);

#endif
