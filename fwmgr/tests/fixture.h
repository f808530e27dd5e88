// An fwmgr wired to test doubles: every command line is recorded, the store
// is in memory, the clock is stepped by hand, processes are a table and the
// WAN interface's address is whatever the test sets.
#pragma once
#include <arpa/inet.h>

#include <string>
#include <vector>

#include "common/bstr.h"
#include "fwmgr/fwmgr.h"
#include "testkit_gtest.h"

namespace rc::test {

class FwMgrTest : public ::testing::Test {
 protected:
  FwMgrTest() {
    ifAddr = ifMask = 0;
    ifQueries.clear();
    store.set("lan_ip", "192.168.0.1");
    store.set("lan_mask", "255.255.255.0");
  }

  // The address getipmask reports for every interface (0 = none).
  static uint32_t ifAddr, ifMask;
  static std::vector<std::string> ifQueries;
  static int fakeGetipmask(const char *ifname, uint32_t *addr, uint32_t *mask) {
    ifQueries.push_back(ifname);
    if (ifAddr) *addr = ifAddr;
    if (ifMask) *mask = ifMask;
    return ifMask ? 0 : -1;
  }
  void setIf(const char *addr, const char *mask) {
    ifAddr = inet_addr(addr);
    ifMask = mask ? inet_addr(mask) : 0;
  }

  // The LAN state start() derives from 192.168.0.1/24.
  void lanState() {
    bcopy_text(mgr.lanname, "br0");
    bcopy_text(mgr.strlanip, "192.168.0.1");
    bcopy_text(mgr.strlannet, "192.168.0.0");
    mgr.netsize = 24;
  }
  // A WAN that is up on eth2.2 with 10.0.0.2/255.255.255.0 (a DHCP lease).
  void wanUpState(int type = 2) {
    lanState();
    mgr.wanconntype = type;
    mgr.wanconnflag = 1;
    mgr.wanloaded = 1;
    bcopy_text(mgr.wanname, type == 3 || type == 5 || type == 6 ? "ppp0" : "eth2.2");
    bcopy_text(mgr.strwanip, "10.0.0.2");
    bcopy_text(mgr.strwanmask, "255.255.255.0");
  }

  TempDir dir;
  Paths paths{dir.path().c_str(), (dir.path() + "/kernel").c_str()};
  RecordingShell sh{kFwShellOptions};
  MemStore store;
  FakeClock clock;
  FakeProcesses procs;
  FwMgr mgr{FwServices{sh, store, clock, paths, procs, fakeGetipmask}};
};

inline uint32_t FwMgrTest::ifAddr = 0;
inline uint32_t FwMgrTest::ifMask = 0;
inline std::vector<std::string> FwMgrTest::ifQueries;

}  // namespace rc::test
