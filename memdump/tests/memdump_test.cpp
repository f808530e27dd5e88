// The marker search over crafted images.
#include "memdump/memdump.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "testkit.h"

namespace rc::test {
namespace {

const std::string kMark = "\x1f\x2e\x3d\x4c";

struct Outcome {
  int status;
  std::string out, err;
};
// memdump_main over the file at path, or memdump_scan over in.
Outcome whole(const std::string &path, FILE *in = nullptr) {
  char *text[2] = {};
  size_t size[2] = {};
  FILE *out = open_memstream(&text[0], &size[0]), *err = open_memstream(&text[1], &size[1]);
  int status = in ? memdump_scan(in, out, err) : memdump_main(path.c_str(), out, err);
  fclose(out);
  fclose(err);
  Outcome r{status, {text[0], size[0]}, {text[1], size[1]}};
  free(text[0]);
  free(text[1]);
  return r;
}

// The standard output of a whole run over the image, which must succeed.
std::string scan(const std::string &image) {
  TempDir dir;
  dir.write("mem", image);
  Outcome r = whole(dir.path() + "/mem");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  return r.out;
}

std::string image(size_t size, std::vector<size_t> marks) {
  std::string img(size, '\0');
  for (size_t at : marks) img.replace(at, 4, kMark);
  return img;
}

TEST(Memdump, MarkersAtKnownPlaces) {
  struct Case {
    size_t size;
    std::vector<size_t> marks;
    std::string out;
  } cases[] = {
      {4096, {0x400}, "i=1 j=0 mem=400\n\n"},
      {4096, {0, 1019}, "i=0 j=0 mem=0\ni=0 j=1019 mem=3fb\n\n"},
      // Offsets 1020 to 1023: the marker spans into the next chunk.
      {4096, {1020}, "i=0 j=1020 mem=3fc\n\n"},
      {4096, {1021}, "i=0 j=1021 mem=3fd\n\n"},
      {4096, {1022}, "i=0 j=1022 mem=3fe\n\n"},
      {4096, {2047}, "i=1 j=1023 mem=7ff\n\n"},
      // The last chunk of the 27 MiB; what lies beyond is not searched.
      {28311552 + 1024, {28311552 - 4, 28311552}, "i=27647 j=1020 mem=1affffc\n\n"},
      {28311552, {28311552 - 1024 + 5}, "i=27647 j=5 mem=1affc05\n\n"},
      // A short image: its bytes are searched once, nothing is repeated.
      {1500, {10, 1400}, "i=0 j=10 mem=a\ni=1 j=376 mem=578\n\n"},
      {0, {}, "\n"},
  };
  for (const auto &c : cases) EXPECT_EQ(scan(image(c.size, c.marks)), c.out) << "image of " << c.size;
}

TEST(Memdump, ImageEndingInsideAMarker) {
  EXPECT_EQ(scan(std::string(1022, '\0') + kMark.substr(0, 3)), "\n");
}

TEST(Memdump, OverlappingAndRepeatedBytes) {
  // 1f 2e 3d 1f 2e 3d 4c: only the second start is a marker.
  std::string img(2048, '\0');
  img.replace(1018, 7, "\x1f\x2e\x3d\x1f\x2e\x3d\x4c");
  EXPECT_EQ(scan(img), "i=0 j=1021 mem=3fd\n\n");
}

TEST(Memdump, UnreadableMemory) {
  Outcome r = whole("/nonexistent/dev/mem");
  EXPECT_EQ(r.out, "open /dev/mem error\n");
  EXPECT_EQ(r.status, 0);
}

// Memory that answers 2548 bytes, then fails.
const std::string kFailing = image(2548, {1500});
ssize_t failingRead(void *cookie, char *buf, size_t size) {
  size_t &at = *static_cast<size_t *>(cookie);
  size_t n = std::min(size, kFailing.size() - at);
  if (n == 0) return errno = EIO, -1;
  memcpy(buf, kFailing.data() + at, n);
  at += n;
  return static_cast<ssize_t>(n);
}

// A failed read is no complete scan: the markers before it, where and why
// on the error stream, no closing empty line, status 1.
TEST(Memdump, FailedReadIsReportedNotTakenForTheEnd) {
  TempDir dir;
  dir.write("d/x", "");  // a directory opens, but every read fails
  Outcome r = whole(dir.path() + "/d");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "memdump: read error at mem=0 (i=0 j=0): Is a directory\n");

  size_t at = 0;
  FILE *in = fopencookie(&at, "r", cookie_io_functions_t{failingRead, nullptr, nullptr, nullptr});
  r = whole("", in);
  fclose(in);
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.out, "i=1 j=476 mem=5dc\n");
  EXPECT_EQ(r.err, "memdump: read error at mem=9f4 (i=2 j=500): Input/output error\n");
}

}  // namespace
}  // namespace rc::test
