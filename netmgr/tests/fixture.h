// A netmgr wired to test doubles: every command line is recorded, the store
// is in memory, the clock is stepped by hand and system and kernel files live
// in a temporary directory.
#pragma once
#include <string>
#include <vector>

#include "common/bstr.h"
#include "netmgr/netmgr.h"
#include "testkit.h"

namespace rc::test {

class NetMgrTest : public ::testing::Test {
 protected:
  NetMgrTest() { mgr.shmptr = &ring; }

  // A flash image holding the base MAC address at offset 0x40004.
  void writeFlash(const unsigned char mac[6]) {
    std::string image(0x40004, '\xff');
    image.append(reinterpret_cast<const char *>(mac), 6);
    dir.write("kernel/dev/flash0", image);
  }

  std::vector<std::string> cat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (auto &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  }

  TempDir dir;
  Paths paths{dir.path().c_str(), (dir.path() + "/kernel").c_str()};
  RecordingShell sh;
  MemStore store;
  FakeClock clock;
  FakeProcesses procs;
  static int authResult;
  static std::vector<std::string> authCalls;
  static int fakeAuth(const char *name, const char *pwd) {
    authCalls.push_back(std::string(name) + "/" + pwd);
    return authResult;
  }
  NetMgr mgr{NetServices{sh, store, clock, paths, procs, fakeAuth}};
  syslog_ring ring{};
};

}  // namespace rc::test
