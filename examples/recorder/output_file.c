#include "output_file.h"

#include <errno.h>
#include <libgen.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void release(struct output_file* out) {
  free(out->path);
  free(out->temporary_path);
  out->path = out->temporary_path = NULL;
  out->stream = NULL;
}

/* "<folder>/.<name>.XXXXXX", the template of the temporary name. */
static char* temporary_template(const char* path) {
  char* folder_copy = strdup(path);
  char* name_copy = strdup(path);
  char* result = NULL;
  if (folder_copy != NULL && name_copy != NULL) {
    const char* folder = dirname(folder_copy);
    const char* name = basename(name_copy);
    size_t size = strlen(folder) + strlen(name) + sizeof "/..XXXXXX";
    result = malloc(size);
    if (result != NULL) snprintf(result, size, "%s/.%s.XXXXXX", folder, name);
  }
  free(folder_copy);
  free(name_copy);
  return result;
}

/* mkstemp makes the file 0600; a finished recording gets the mode any new
 * file would get. */
static int apply_default_mode(int fd) {
  mode_t mask = umask(0);
  umask(mask);
  return fchmod(fd, 0666 & ~mask);
}

int output_file_open(struct output_file* out, const char* path, const char** reason) {
  memset(out, 0, sizeof *out);
  struct stat existing;
  if (stat(path, &existing) == 0 && !S_ISREG(existing.st_mode)) {
    *reason = "it exists and is not a regular file";
    return -1;
  }
  out->path = strdup(path);
  out->temporary_path = temporary_template(path);
  int fd = out->path != NULL && out->temporary_path != NULL ? mkstemp(out->temporary_path) : -1;
  if (fd < 0) {
    *reason = strerror(errno);
    release(out);
    return -1;
  }
  out->stream = fdopen(fd, "w+b");
  if (out->stream == NULL || apply_default_mode(fd) != 0) {
    *reason = strerror(errno);
    if (out->stream == NULL) close(fd);
    output_file_discard(out);
    return -1;
  }
  return 0;
}

int output_file_commit(struct output_file* out) {
  int ok = fflush(out->stream) == 0 && fsync(fileno(out->stream)) == 0;
  ok = fclose(out->stream) == 0 && ok;
  ok = ok && rename(out->temporary_path, out->path) == 0;
  if (!ok) unlink(out->temporary_path);
  release(out);
  return ok ? 0 : -1;
}

void output_file_discard(struct output_file* out) {
  if (out->stream != NULL) fclose(out->stream);
  unlink(out->temporary_path);
  release(out);
}
