// What the fuzz targets share beside the test doubles (tests/testkit): a
// store filled from the fuzz input, a clock that stands still, and a scratch
// directory (system root and kernel root) made once per process, where a
// target writes the input as the file the code under test opens.
#pragma once
#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/paths.h"
#include "tests/testkit/doubles.h"

namespace rc::fuzz {

// The store filled from the input: the values of keys[0..n) in order, each
// ended by a NUL byte (the last one by the end of the input). Keys the input
// does not reach stay absent.
inline void fill_store(test::MemStore &store, const char *const *keys, size_t n, const uint8_t *data,
                       size_t size) {
  store.clear();
  size_t pos = 0;
  for (size_t i = 0; i < n && pos <= size; ++i) {
    const uint8_t *end = static_cast<const uint8_t *>(memchr(data + pos, 0, size - pos));
    size_t len = end ? static_cast<size_t>(end - (data + pos)) : size - pos;
    store.set(keys[i], std::string(reinterpret_cast<const char *>(data + pos), len));
    pos += len + 1;
  }
}

// The time of every target's clock (test::FixedClock): 2025-12-08 10:22:42 UTC.
constexpr time_t kStillTime = 1765189362;

inline int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path);
}

// The scratch tree: <dir>/ is the system root, <dir>/kernel the kernel root.
// Removed when the process exits through exit(); fuzz/run.sh points TMPDIR
// into its own work directory, which it removes, for the other ways out. The
// name lives in a plain array, which no destructor clears before the exit
// handler runs.
inline const std::string &scratch() {
  static char name[256];
  static std::string dir = [] {
    const char *tmp = getenv("TMPDIR");
    snprintf(name, sizeof name, "%s/rcfuzz.XXXXXX", tmp && *tmp == '/' ? tmp : "/tmp");
    if (!mkdtemp(name)) abort();
    atexit([] {
      if (name[0] == '/' && strstr(name, "/rcfuzz.")) nftw(name, remove_entry, 8, FTW_DEPTH | FTW_PHYS);
    });
    return std::string(name);
  }();
  return dir;
}

inline const Paths &scratch_paths() {
  static Paths paths(scratch().c_str(), (scratch() + "/kernel").c_str());
  return paths;
}

// Writes bytes to <scratch>/<rel>, creating the parent directories.
inline void put_file(const char *rel, const void *data, size_t size) { test::put_file(scratch(), rel, data, size); }

// The daemons print what they skip; the fuzzer's own output stays readable.
inline void quiet_stdout() {
  static bool done = [] {
    if (!getenv("FUZZ_VERBOSE")) {
      int fd = open("/dev/null", O_WRONLY);
      if (fd >= 0) dup2(fd, 1);
    }
    return true;
  }();
  (void)done;
}

}  // namespace rc::fuzz
