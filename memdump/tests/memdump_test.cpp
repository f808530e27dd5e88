// The marker search over crafted images.
#include "memdump/memdump.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "testkit_gtest.h"

namespace rc::test {
namespace {

const std::string kMark = "\x1f\x2e\x3d\x4c";

std::string scan(const std::string &image) {
  TempDir dir;
  dir.write("mem", image);
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  EXPECT_EQ(memdump_main((dir.path() + "/mem").c_str(), out, stderr), 0);
  fclose(out);
  std::string s(text, size);
  free(text);
  return s;
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
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  memdump_main("/nonexistent/dev/mem", out, stderr);
  fclose(out);
  EXPECT_EQ(std::string(text, size), "open /dev/mem error\n");
  free(text);
}

// Memory that answers 2548 bytes (a marker at 1500), then fails.
ssize_t failingRead(void *cookie, char *buf, size_t size) {
  static const std::string mem = image(2548, {1500});
  size_t &at = *static_cast<size_t *>(cookie), n = std::min(size, mem.size() - at);
  if (n == 0) return errno = EIO, -1;
  memcpy(buf, mem.data() + at, n);
  return at += n, static_cast<ssize_t>(n);
}

// A failed read is no complete scan: the markers before it, where and why on
// the error stream, no closing empty line, status 1 (-1 from the scan).
TEST(Memdump, FailedReadIsReportedNotTakenForTheEnd) {
  TempDir dir;
  dir.write("d/x", "");  // a directory opens, but every read fails
  size_t at = 0;
  FILE *failing = fopencookie(&at, "r", {failingRead, nullptr, nullptr, nullptr});
  char *text[2] = {};
  size_t size[2] = {};
  FILE *out = open_memstream(&text[0], &size[0]), *err = open_memstream(&text[1], &size[1]);
  EXPECT_EQ(memdump_main((dir.path() + "/d").c_str(), out, err), 1);
  EXPECT_EQ(memdump_scan(failing, out, err), -1);
  fclose(failing);
  fclose(out);
  fclose(err);
  EXPECT_EQ(std::string(text[0], size[0]), "i=1 j=476 mem=5dc\n");
  EXPECT_EQ(std::string(text[1], size[1]),
            "memdump: read error at mem=0 (i=0 j=0): Is a directory\n"
            "memdump: read error at mem=9f4 (i=2 j=500): Input/output error\n");
  free(text[0]);
  free(text[1]);
}

}  // namespace
}  // namespace rc::test
