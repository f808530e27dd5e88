#include "bench/benchkit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);

namespace {
long g_allocs = 0;
}  // namespace

extern "C" void *malloc(size_t n) {
  ++g_allocs;
  return __libc_malloc(n);
}
extern "C" void *calloc(size_t a, size_t b) {
  ++g_allocs;
  return __libc_calloc(a, b);
}
extern "C" void *realloc(void *p, size_t n) {
  ++g_allocs;
  return __libc_realloc(p, n);
}

namespace bench {

long allocations() { return g_allocs; }

void put(const char *dir, const char *rel, const void *data, size_t len) {
  char path[512];
  snprintf(path, sizeof path, "%s/%s", dir, rel);
  for (char *p = path + strlen(dir) + 1; *p; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    mkdir(path, 0755);
    *p = '/';
  }
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || write(fd, data, len) != static_cast<ssize_t>(len)) {
    perror(path);
    exit(1);
  }
  close(fd);
}

void putText(const char *dir, const char *rel, const char *text) { put(dir, rel, text, strlen(text)); }

}  // namespace bench
