// Services for the fuzz targets: a shell that runs nothing, a store filled
// from the fuzz input, a clock that stands still, and a scratch directory
// (system root and kernel root) made once per process, where a target writes
// the input as the file the code under test opens.
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
#include <map>
#include <string>

#include "common/cfm.h"
#include "common/clock.h"
#include "common/paths.h"
#include "common/proc.h"
#include "common/shell.h"

namespace rc::fuzz {

class NullShell : public Shell {
 public:
  NullShell() : Shell(ShellOptions{1024, false}) {}
  size_t lines = 0;

 protected:
  int run(RunKind, const char *line) override {
    lines += line[0] != '\0';
    return 0;
  }
};

class MapStore : public ConfigStore {
 public:
  std::map<std::string, std::string> values;

 protected:
  void open() override {}
  void close() override {}
  bool lookup(const char *key, char *dst, size_t size) override {
    auto it = values.find(key);
    if (it == values.end()) return false;
    if (size) {
      size_t n = strnlen(it->second.c_str(), size - 1);
      memcpy(dst, it->second.data(), n);
      dst[n] = '\0';
    }
    return true;
  }
};

// Fills the store from the input: the values of keys[0..n) in order, each
// ended by a NUL byte (the last one by the end of the input). Keys the input
// does not reach stay absent.
inline void fill_store(MapStore &store, const char *const *keys, size_t n, const uint8_t *data,
                       size_t size) {
  store.values.clear();
  size_t pos = 0;
  for (size_t i = 0; i < n && pos <= size; ++i) {
    const uint8_t *end = static_cast<const uint8_t *>(memchr(data + pos, 0, size - pos));
    size_t len = end ? static_cast<size_t>(end - (data + pos)) : size - pos;
    store.values[keys[i]] = std::string(reinterpret_cast<const char *>(data + pos), len);
    pos += len + 1;
  }
}

class StillClock : public Clock {
 public:
  time_t now() override { return 1765189362; }  // 2025-12-08 10:22:42 UTC
  void localNow(struct tm *out) override {
    time_t t = now();
    gmtime_r(&t, out);
  }
  void sleepSeconds(unsigned) override {}
  void sleepMicros(unsigned) override {}
  long monotonicMs() override { return 0; }
};

class NoProcesses : public Processes {
 public:
  int get_proc_pid(const char *) override { return 0; }
  int send_signal(int, const char *) override { return 0; }
};

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
inline void put_file(const char *rel, const void *data, size_t size) {
  std::string path = scratch() + "/" + rel;
  for (size_t i = scratch().size() + 1; i < path.size(); ++i)
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) abort();
  const char *p = static_cast<const char *>(data);
  while (size) {
    ssize_t n = write(fd, p, size);
    if (n <= 0) abort();
    p += n;
    size -= static_cast<size_t>(n);
  }
  close(fd);
}

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
