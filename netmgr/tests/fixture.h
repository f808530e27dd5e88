// A netmgr wired to test doubles: every command line is recorded, the store
// is in memory, the clock is stepped by hand and system and kernel files live
// in a temporary directory.
#pragma once
#include <string>
#include <vector>

#include "common/bstr.h"
#include "netmgr/netmgr.h"
#include "testkit_gtest.h"

namespace rc::test {

// Init_Eth for the base MAC address 00:11:22:33:44:55 (WAN ...:56).
inline const std::vector<std::string> kInitEthLines = {
    "D: ifconfig eth2 hw ether 00:11:22:33:44:55 up",
    "D: vconfig add eth2 1",
    "D: vconfig add eth2 2",
    "D: ifconfig eth2.1 hw ether 00:11:22:33:44:55 up",
    "D: ifconfig eth2.2 hw ether 00:11:22:33:44:56 up",
    "D: vconfig set_flag eth2.1 1 1",
    "D: vconfig set_flag eth2.2 1 1",
    "D: ifconfig eth2.1 0.0.0.0",
    "D: ifconfig eth2.2 0.0.0.0",
    "D: switch reg w 14 0x405555",
    "D: switch reg w 98 0x7f3f",
    "D: switch reg w e4 0x3f",
    "D: switch reg w 40 0x1002",
    "D: switch reg w 44 0x1001",
    "D: switch reg w 48 0x1001",
    "D: switch reg w 70 0xffff417e",
    "D: ifconfig lo 127.0.0.1",
    "D: brctl addbr br0",
    "D: brctl setfd br0 1",
    "D: brctl addif br0 eth2.1",
};

// The link scripts and the resolv.conf link every PPP type writes first.
inline const std::vector<std::string> kLinkScripts = {
    "D: echo '#!/bin/sh' > /etc/ppp/ip-up",
    "D: echo 'sendmsg 204 2 &' >> /etc/ppp/ip-up",
    "D: echo 'cat /proc/uptime > /etc/at' >> /etc/ppp/ip-up ",
    "D: chmod +x /etc/ppp/ip-up",
    "D: echo '#!/bin/sh' > /etc/ppp/ip-down",
    "D: echo 'sendmsg 204 3 &' >> /etc/ppp/ip-down",
    "D: echo 'echo \"0 0\" > /etc/at' >> /etc/ppp/ip-down ",
    "D: chmod +x /etc/ppp/ip-down",
    "D: echo \"\" > /etc/ppp/resolv.conf",
    "D: rm /etc/resolv.conf",
    "D: ln -s /etc/ppp/resolv.conf /etc/resolv.conf",
};

class NetMgrTest : public ::testing::Test {
 protected:
  NetMgrTest() { mgr.shmptr = &ring; }

  // A flash image holding the base MAC address at offset 0x40004.
  void writeFlash(const unsigned char mac[6]) {
    std::string image(0x40004, '\xff');
    image.append(reinterpret_cast<const char *>(mac), 6);
    dir.write("kernel/dev/flash0", image);
  }

  // The recorded lines that start with prefix, in order; the rest is dropped.
  std::vector<std::string> linesStarting(const std::string &prefix) {
    std::vector<std::string> out;
    for (auto &l : sh.take())
      if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
  }

  TempDir dir;
  // /etc/ppp, where netmgr creates the option files it writes (private mode).
  bool etcPpp = (dir.write("etc/ppp/.keep", ""), true);
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
