/* A preload library for tests: open() of a path ending in $FAILOPEN_SUFFIX
 * fails with EACCES, as for a file the server may not read, whoever runs
 * the test (root included). Every other open goes through unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

typedef int (*open_fn)(const char*, int, ...);

static int Refused(const char* path) {
  const char* suffix = getenv("FAILOPEN_SUFFIX");
  if (!suffix || !*suffix || !path) return 0;
  size_t n = strlen(path), m = strlen(suffix);
  return n >= m && strcmp(path + n - m, suffix) == 0;
}

static int Forward(const char* name, const char* path, int flags, mode_t mode) {
  if (Refused(path)) {
    errno = EACCES;
    return -1;
  }
  open_fn real = (open_fn)dlsym(RTLD_NEXT, name);
  return real(path, flags, mode);
}

static mode_t ModeOf(int flags, va_list ap) { return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0; }

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  mode_t mode = ModeOf(flags, ap);
  va_end(ap);
  return Forward("open", path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  mode_t mode = ModeOf(flags, ap);
  va_end(ap);
  return Forward("open64", path, flags, mode);
}
