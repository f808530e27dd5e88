// The driver of a fuzz target in the ordinary (non-libFuzzer) build: runs the
// target once on every file named, or on every file of a directory named, so
// the corpus is replayed under the usual sanitizers. Prints how many inputs
// ran; a crash ends the process as it would in the fuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {
bool runFile(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) {
    fprintf(stderr, "cannot open %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  fclose(f);
  // A copy of exactly the input's size, so a read past its end is caught.
  uint8_t *copy = new uint8_t[bytes.size() ? bytes.size() : 1];
  std::copy(bytes.begin(), bytes.end(), copy);
  LLVMFuzzerTestOneInput(copy, bytes.size());
  delete[] copy;
  return true;
}
}  // namespace

int main(int argc, char **argv) {
  int runs = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    struct stat st;
    if (stat(argv[i], &st) != 0) {
      fprintf(stderr, "cannot stat %s\n", argv[i]);
      ok = false;
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      ok = runFile(argv[i]) && ok;
      ++runs;
      continue;
    }
    DIR *d = opendir(argv[i]);
    if (!d) {
      ok = false;
      continue;
    }
    while (struct dirent *e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      ok = runFile(std::string(argv[i]) + "/" + e->d_name) && ok;
      ++runs;
    }
    closedir(d);
  }
  fprintf(stderr, "replayed %d inputs\n", runs);
  return ok && runs > 0 ? 0 : 1;
}
