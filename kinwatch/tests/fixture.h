// A kinwatch wired to test doubles: recorded command lines, an in-memory
// store, a hand-stepped clock (1970-01-01 00:00:00 UTC) and /var/url.log and
// the kernel files in a temporary directory.
#pragma once
#include <arpa/inet.h>

#include <string>

#include "kinwatch/kinwatch.h"
#include "testkit_gtest.h"

namespace rc::test {

inline void noDetach() {}

class KinWatchTest : public ::testing::Test {
 protected:
  KinWatchTest() { dir.write("var/.keep", ""); }

  // One 132-byte record: the address, then the name NUL-padded to 128 bytes.
  static std::string record(const char *ip, const std::string &name) {
    std::string r(KinWatch::kRecordSize, '\0');
    in_addr a{};
    inet_pton(AF_INET, ip, &a);
    memcpy(&r[0], &a, 4);
    memcpy(&r[4], name.data(), std::min(name.size(), KinWatch::kNameSize));
    return r;
  }
  void take(const std::string &records) {
    kw.takeRecords(reinterpret_cast<const unsigned char *>(records.data()), records.size());
  }
  std::string log() const { return dir.read("var/url.log"); }

  TempDir dir;
  Paths paths{dir.path().c_str(), (dir.path() + "/kernel").c_str()};
  RecordingShell sh;
  MemStore store;
  FakeClock clock;
  volatile sig_atomic_t run = 1;
  KinWatch kw{KinServices{sh, store, clock, paths, noDetach, &run}};
};

}  // namespace rc::test
