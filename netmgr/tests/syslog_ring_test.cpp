#include <cstring>

#include "fixture.h"

namespace rc::test {
namespace {

TEST(GbkTexts, MatchTheirChineseOriginals) {
  EXPECT_EQ(kMsgSystemStarted, toGbk("系统初始化完成"));
  EXPECT_EQ(kFmtUdpFlood, toGbk("检测到%d.%d.%d.%d正在进行UDP洪水攻击"));
  EXPECT_EQ(kFmtSynFlood, toGbk("检测到%d.%d.%d.%d正在进行TCP SYN洪水攻击"));
  EXPECT_EQ(kFmtIcmpFlood, toGbk("检测到%d.%d.%d.%d正在进行ICMP洪水攻击"));
}

TEST(Ring, RecordFormatAndCut) {
  syslog_ring r{};
  FakeClock clock(1700000000);  // 2023-11-14 22:13:20 UTC
  K3syslog("hello", &r, clock);
  EXPECT_STREQ(r.slot[0], "2023-11-14 22:13:20 hello\n");
  std::string longMsg(200, 'm');
  K3syslog(longMsg.c_str(), &r, clock);
  EXPECT_EQ(std::string(r.slot[1]), "2023-11-14 22:13:20 " + std::string(106, 'm') + "\n");
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.next, 2);
  K3syslog("no ring", nullptr, clock);  // nothing attached: nothing happens
}

TEST(Ring, WrapsAfter256) {
  syslog_ring r{};
  FakeClock clock(0);
  char msg[16];
  for (int i = 0; i < 300; ++i) {
    snprintf(msg, sizeof msg, "rec%d", i);
    K3syslog(msg, &r, clock);
  }
  EXPECT_EQ(r.count, 256);
  EXPECT_EQ(r.next, 44);
  EXPECT_STREQ(r.slot[43], "1970-01-01 00:00:00 rec299\n");  // newest
  EXPECT_STREQ(r.slot[44], "1970-01-01 00:00:00 rec44\n");   // oldest
}

TEST(Ring, CorruptNextIsNotTrusted) {
  syslog_ring r{};
  r.next = 5000;
  FakeClock clock(0);
  K3syslog("x", &r, clock);
  EXPECT_EQ(r.next, 1);
  EXPECT_STREQ(r.slot[0], "1970-01-01 00:00:00 x\n");
}

using FwLogTest = NetMgrTest;

std::string event(unsigned char a, unsigned char b, unsigned char c, unsigned char d,
                  unsigned char kind) {
  std::string rec(12, '\x7e');
  rec[0] = static_cast<char>(a);
  rec[1] = static_cast<char>(b);
  rec[2] = static_cast<char>(c);
  rec[3] = static_cast<char>(d);
  rec[11] = static_cast<char>(kind);
  return rec;
}

TEST_F(FwLogTest, EventsBecomeRecords) {
  clock.set(0);
  dir.write("kernel/proc/vkproc/fwlog", event(192, 168, 1, 100, 2) + event(10, 0, 0, 7, 1) +
                                            event(1, 2, 3, 4, 9) + event(172, 16, 0, 1, 3) +
                                            "\x01\x02\x03");
  mgr.read_fw_log();
  ASSERT_EQ(ring.count, 3);
  EXPECT_EQ(std::string(ring.slot[0]),
            "1970-01-01 00:00:00 " + toGbk("检测到192.168.1.100正在进行TCP SYN洪水攻击") + "\n");
  EXPECT_EQ(std::string(ring.slot[1]),
            "1970-01-01 00:00:00 " + toGbk("检测到10.0.0.7正在进行UDP洪水攻击") + "\n");
  EXPECT_EQ(std::string(ring.slot[2]),
            "1970-01-01 00:00:00 " + toGbk("检测到172.16.0.1正在进行ICMP洪水攻击") + "\n");
}

TEST_F(FwLogTest, OneReadOf128BytesGivesAtMostTenRecords) {
  std::string events;
  for (int i = 0; i < 12; ++i) events += event(10, 0, 0, static_cast<unsigned char>(i), 1);
  dir.write("kernel/proc/vkproc/fwlog", events);
  mgr.read_fw_log();
  EXPECT_EQ(ring.count, 10);
}

TEST_F(FwLogTest, MissingOrShortFileGivesNothing) {
  mgr.read_fw_log();
  dir.write("kernel/proc/vkproc/fwlog", std::string(11, '\x02'));
  mgr.read_fw_log();
  EXPECT_EQ(ring.count, 0);
}

}  // namespace
}  // namespace rc::test
