#include <arpa/inet.h>

#include <cstring>

#include "fixture.h"

namespace rc::test {
namespace {

using EthTest = NetMgrTest;

TEST_F(EthTest, WanMacIsBasePlusOneWithCarry) {
  struct Case {
    unsigned char base[6];
    const char *lan, *wan;
  } cases[] = {
      {{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, "00:11:22:33:44:55", "00:11:22:33:44:56"},
      {{0x00, 0x11, 0x22, 0x33, 0x44, 0xff}, "00:11:22:33:44:ff", "00:11:22:33:45:00"},
      {{0x00, 0x11, 0xff, 0xff, 0xff, 0xff}, "00:11:ff:ff:ff:ff", "00:12:00:00:00:00"},
      {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, "ff:ff:ff:ff:ff:ff", "00:00:00:00:00:00"},
      {{0xAA, 0xBB, 0xCC, 0x0D, 0x0E, 0x0F}, "aa:bb:cc:0d:0e:0f", "aa:bb:cc:0d:0e:10"},
  };
  for (const auto &c : cases) {
    writeFlash(c.base);
    char lan[18], wan[18];
    EXPECT_EQ(mgr.GetEthMac(lan, wan), 1);
    EXPECT_STREQ(lan, c.lan);
    EXPECT_STREQ(wan, c.wan);
  }
}

TEST_F(EthTest, FlashProblemsAreReportedAndLeaveOutputsAlone) {
  char lan[18] = "untouched", wan[18] = "untouched";
  testing::internal::CaptureStdout();
  EXPECT_EQ(mgr.GetEthMac(lan, wan), 0);  // no device
  dir.write("kernel/dev/flash0", std::string(0x40006, '\0'));  // image too short
  EXPECT_EQ(mgr.GetEthMac(lan, wan), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Open flash pseudo device failed\nOUT_OF_SCOPE\n");
  EXPECT_STREQ(lan, "untouched");
  EXPECT_STREQ(wan, "untouched");
}

TEST_F(EthTest, InitEthWithConfiguredWanMac) {
  const unsigned char base[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  writeFlash(base);
  struct Case {
    const char *configured;
    const char *wanmac;
  } cases[] = {
      {nullptr, "00:11:22:33:44:56"},
      {"", "00:11:22:33:44:56"},
      {"00:11:22:33:44:56", "00:11:22:33:44:56"},
      {"02:aa:bb:cc:dd:ee", "02:aa:bb:cc:dd:ee"},
      {"02:aa:bb:cc:dd:ee; reboot", "00:11:22:33:44:56"},  // not a MAC: refused
  };
  for (const auto &c : cases) {
    if (c.configured)
      store.set("wan_mac_addr", c.configured);
    else
      store.unset("wan_mac_addr");
    testing::internal::CaptureStdout();
    EXPECT_EQ(mgr.Init_Eth(), 1);
    testing::internal::GetCapturedStdout();
    std::vector<std::string> expected = kInitEthLines;
    expected[4] = std::string("D: ifconfig eth2.2 hw ether ") + c.wanmac + " up";
    EXPECT_TRUE(SameLines(sh, expected))
        << (c.configured ? c.configured : "(absent)");
  }
}

TEST_F(EthTest, InitEthFallsBackWithoutFlash) {
  testing::internal::CaptureStdout();
  mgr.Init_Eth();
  EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Open flash pseudo device failed\n", 0), 0u);
  auto lines = sh.take();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "D: ifconfig eth2 hw ether 00:00:00:00:00:01 up");
  EXPECT_EQ(lines[3], "D: ifconfig eth2.1 hw ether 00:00:00:00:00:01 up");
  EXPECT_EQ(lines[4], "D: ifconfig eth2.2 hw ether 00:00:00:00:00:02 up");
}

TEST_F(EthTest, WanModeSpeedWords) {
  struct Case {
    int first, second;
    const char *line;
  } cases[] = {
      {0, 0, "vk: switch reg w c0 82002000"},
      {1, 0, "vk: switch reg w c0 83002000"},
      {0, 1, "vk: switch reg w c0 a2002000"},
      {1, 1, "vk: switch reg w c0 a3002000"},
  };
  testing::internal::CaptureStdout();
  for (const auto &c : cases) {
    EXPECT_EQ(mgr.setwanmodespeed(c.first, c.second), 1);
    EXPECT_TRUE(SameLines(sh, {c.line}));
  }
  testing::internal::GetCapturedStdout();
}

TEST_F(EthTest, KernelLanRecordIsEightBytesInNetworkOrder) {
  dir.write("kernel/proc/vkproc/lanip", "");
  mgr.write_kernel_lanip("192.168.0.1", "255.255.255.0");
  EXPECT_EQ(dir.read("kernel/proc/vkproc/lanip"),
            std::string("\xc0\xa8\x00\x01\xff\xff\xff\x00", 8));
}

TEST_F(EthTest, KernelLanRecordUnwritable) {
  Paths nowhere(dir.path().c_str(), "/nonexistent-kernel-root");
  NetMgr other(Services{sh, store, clock, nowhere, procs, ipc, nullptr}, nullptr);
  testing::internal::CaptureStdout();
  other.write_kernel_lanip("192.168.0.1", "255.255.255.0");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "open /proc/vkproc/lanip failed\n");
}

}  // namespace
}  // namespace rc::test
