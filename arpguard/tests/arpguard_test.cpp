// arpguard: the announcement bytes, the setting and the schedule of frames.
#include "arpguard/arpguard.h"

#include <string>
#include <vector>

#include "alloc_count.h"
#include "testkit_gtest.h"

namespace rc::test {
namespace {

std::string hex(const uint8_t *p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof b, "%02x", p[i]);
    s += b;
  }
  return s;
}

class FakeLink : public ArpLink {
 public:
  int open() override { return openResult; }
  int bindDevice(const char *name) override {
    boundTo = name;
    return bindResult;
  }
  void close() override { ++closes; }
  int getIfIp(const char *, uint8_t out[4]) override {
    if (!hasIp) return -1;
    memcpy(out, ip, 4);
    return 0;
  }
  int getIfMac(const char *, uint8_t out[6]) override {
    memset(out, 0, 6);
    if (!hasMac) return -1;
    memcpy(out, mac, 6);
    return 0;
  }
  int send(const uint8_t *frame, size_t len) override {
    ++sends;
    if (keep) sent.push_back(hex(frame, len));
    return sendResult;
  }
  bool keep = true;  // record the frames (allocates)
  int sends = 0;
  int openResult = 0, bindResult = 0, sendResult = 64, closes = 0;
  bool hasIp = true, hasMac = true;
  uint8_t ip[4] = {192, 168, 0, 1};
  uint8_t mac[6] = {0x02, 0x52, 0x54, 0x00, 0x00, 0x01};
  std::string boundTo;
  std::vector<std::string> sent;
};

// The announcement of 192.168.0.1 from 02:52:54:00:00:01.
const std::string kFrame =
    "ffffffffffff" "025254000001" "0806"  // Ethernet: broadcast, from br0, ARP
    "0001" "0800" "06" "04" "0001"        // Ethernet/IPv4, request
    "025254000001" "c0a80001"             // sender
    "025254000001" "c0a80001"             // target: the same MAC and address
    "00000000000000000000000000000000000000000000";  // 22 bytes of fill

TEST(ArpPacket, Bytes) {
  uint8_t ip[4] = {192, 168, 0, 1}, mac[6] = {0x02, 0x52, 0x54, 0x00, 0x00, 0x01};
  uint8_t frame[kArpFrameSize];
  memset(frame, 0xaa, sizeof frame);
  int len = 0;
  getarppacket(ip, mac, frame, &len);
  EXPECT_EQ(len, 64);
  EXPECT_EQ(hex(frame, 64), kFrame);
}

TEST(ArpDefence, Parsing) {
  struct Case {
    const char *value;
    int ok, flag, time;
  } cases[] = {
      {"1,1,1,10", 1, 1, 10},
      {"0,0,0,2", 1, 0, 2},
      {",,1,0", 1, 1, 0},
      {"x,y,1,", 1, 1, 0},
      {"1,1,1,10,7", 1, 1, 10},  // everything after the third comma: atoi stops at the fourth
      {"1,1,abc,5", 1, 0, 5},
      {"1,1,1", 0, 7, 9},        // refused: the previous values stay
      {"", 0, 7, 9},
      {"1,1", 0, 7, 9},
  };
  for (const auto &c : cases) {
    int flag = 7, time = 9;
    EXPECT_EQ(parse_arp_defence(c.value, &flag, &time), c.ok) << c.value;
    EXPECT_EQ(flag, c.flag) << c.value;
    EXPECT_EQ(time, c.time) << c.value;
  }
}

class ArpGuardTest : public ::testing::Test {
 protected:
  // Runs n passes and returns the pass numbers (1-based) that sent a frame.
  std::vector<int> passes(int n, long cmdAtFirst = 0) {
    std::vector<int> at;
    for (int i = 1; i <= n; ++i) {
      size_t before = link.sent.size();
      if (i == 1 && cmdAtFirst) guard.onCommand(cmdAtFirst);
      guard.onTick();
      if (link.sent.size() != before) at.push_back(i);
    }
    return at;
  }
  MemStore store{{"arp_defence", "1,1,1,10"}};
  FakeLink link;
  ArpGuard guard{store, link};
};

TEST_F(ArpGuardTest, StartBindsToBr0AndReadsTheSetting) {
  ASSERT_TRUE(guard.start());
  EXPECT_EQ(link.boundTo, "br0");
  EXPECT_EQ(guard.arpflag, 1);
  EXPECT_EQ(guard.arptime, 10);
  EXPECT_EQ(hex(guard.frame, 64), kFrame);
  EXPECT_FALSE(store.isOpen());
}

TEST_F(ArpGuardTest, StartFailures) {
  link.openResult = -1;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(guard.start());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "socket error\n");
  link.openResult = 0;
  link.bindResult = -1;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(guard.start());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "setsockopt error\n");
  EXPECT_EQ(link.closes, 1);
}

TEST_F(ArpGuardTest, Schedule) {
  struct Case {
    const char *value;
    std::vector<int> sentAt;
  } cases[] = {
      {"1,1,1,10", {10, 20}},
      {"1,1,0,10", {}},
      {"1,1,1,0", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
      {"1,1,1,1", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
      {"1,1,1,7", {7, 14}},
  };
  for (const auto &c : cases) {
    store.set("arp_defence", c.value);
    ArpGuard g{store, link};
    ASSERT_TRUE(g.start());
    link.sent.clear();
    std::vector<int> at;
    for (int i = 1; i <= 20; ++i) {
      size_t before = link.sent.size();
      g.onTick();
      if (link.sent.size() != before) at.push_back(i);
    }
    EXPECT_EQ(at, c.sentAt) << c.value;
    for (const auto &f : link.sent) EXPECT_EQ(f, kFrame);
  }
}

TEST_F(ArpGuardTest, SwitchedOnByCommandOneAnnouncesInTheNextPassOnceDue) {
  store.set("arp_defence", "1,1,0,5");
  ASSERT_TRUE(guard.start());
  EXPECT_TRUE(passes(8).empty());
  store.set("arp_defence", "1,1,1,5");
  EXPECT_EQ(passes(6, 2), std::vector<int>{});  // other commands are ignored
  EXPECT_EQ(passes(6, 1), (std::vector<int>{1, 6}));
}

TEST_F(ArpGuardTest, RefusedSettingKeepsThePreviousOne) {
  ASSERT_TRUE(guard.start());
  store.set("arp_defence", "1,1\narpguard: forged");  // printed escaped
  testing::internal::CaptureStdout();
  guard.onCommand(1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "arpguard: arp_defence \"1,1\\x0aarpguard: forged\" has fewer than four fields; settings kept\n");
  EXPECT_EQ(guard.arpflag, 1);
  EXPECT_EQ(guard.arptime, 10);
  store.unset("arp_defence");
  guard.onCommand(1);
  EXPECT_EQ(guard.arptime, 10);
}

TEST_F(ArpGuardTest, CommandOneKeepsTheAddressesReadAtStart) {
  ASSERT_TRUE(guard.start());
  link.ip[3] = 254;
  guard.onCommand(1);
  EXPECT_EQ(hex(guard.frame, 64), kFrame);
}

TEST_F(ArpGuardTest, Br0WithoutAddressSendsNothingUntilCommandOneFindsIt) {
  store.set("arp_defence", "1,1,1,1");
  link.hasIp = false;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(guard.start());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "arpguard: br0 has no IPv4 address; nothing is sent until command 1 finds it\n");
  EXPECT_TRUE(passes(3).empty());
  guard.onCommand(1);  // still none
  EXPECT_TRUE(passes(3).empty());
  link.hasIp = true;
  EXPECT_EQ(passes(2, 1), (std::vector<int>{1, 2}));
  EXPECT_EQ(link.sent.back(), kFrame);
}

TEST_F(ArpGuardTest, FailedSendIsReportedAndTheNextComesAfterAnotherInterval) {
  store.set("arp_defence", "1,1,1,3");
  ASSERT_TRUE(guard.start());
  link.sendResult = -1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(passes(6), (std::vector<int>{3, 6}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "sendto error\nsendto error\n");
}

TEST_F(ArpGuardTest, PassesAllocateNothing) {
  store.set("arp_defence", "1,1,1,1");
  ASSERT_TRUE(guard.start());
  link.keep = false;
  guard.onTick();
  long n = count_allocations([&] {
    for (int i = 0; i < 3; ++i) guard.onTick();
  });
  if (n < 0) GTEST_SKIP() << "this build has no allocation counter (alloc_count.h)";
  EXPECT_EQ(n, 0);
  EXPECT_EQ(link.sends, 4);
}

}  // namespace
}  // namespace rc::test
