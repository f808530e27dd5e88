#include <arpa/inet.h>

#include <cstring>

#include "common/netutil.h"
#include "testkit_gtest.h"

namespace rc::test {
namespace {

TEST(GetDepth, PrefixClasses) {
  struct Case {
    const char *mask;
    int netsize, ndepth;
  } cases[] = {
      {"255.255.255.0", 24, 0}, {"255.255.255.252", 30, 0}, {"255.255.0.0", 16, 1},
      {"255.255.254.0", 23, 1}, {"255.0.0.0", 8, 2},         {"255.254.0.0", 15, 2},
      {"0.0.0.0", 0, 0},        {"255.255.255.255", 32, 0},  {"255.0.255.0", 8, 2},
  };
  for (const auto &c : cases) {
    int netsize = 0, ndepth = 0;
    EXPECT_EQ(getdepth(inet_addr(c.mask), netsize, ndepth), 0);
    EXPECT_EQ(netsize, c.netsize) << c.mask;
    EXPECT_EQ(ndepth, c.ndepth) << c.mask;
  }
}

TEST(GetDepth, ShortPrefixKeepsOldDepthAndNetsizeAccumulates) {
  int netsize = 0, ndepth = 1;
  getdepth(inet_addr("240.0.0.0"), netsize, ndepth);
  EXPECT_EQ(netsize, 4);
  EXPECT_EQ(ndepth, 1);
  getdepth(inet_addr("255.255.0.0"), netsize, ndepth);  // not reset first
  EXPECT_EQ(netsize, 20);
  EXPECT_EQ(ndepth, 1);
}

TEST(GetDns, NthServer) {
  TempDir dir;
  dir.write("resolv.conf",
            "# nameserver 9.9.9.9 in a comment\n"
            "search lan\n"
            "nameserver 10.0.0.1\n"
            "nameserver 10.0.0.2\n");
  std::string path = dir / "resolv.conf";
  char out[16];
  struct Case {
    int n;
    int result;
    const char *addr;
  } cases[] = {{1, 1, "10.0.0.1"}, {2, 2, "10.0.0.2"}, {3, 0, ""}};
  for (const auto &c : cases) {
    EXPECT_EQ(getDns(c.n, out, sizeof out, path.c_str()), c.result);
    EXPECT_STREQ(out, c.addr);
  }
  EXPECT_EQ(getDns(1, nullptr, 16, path.c_str()), 0);
  EXPECT_EQ(getDns(1, out, sizeof out, (dir / "missing").c_str()), 0);
  EXPECT_STREQ(out, "");
}

TEST(GetDns, LongServerIsCutToTheCallersBuffer) {
  TempDir dir;
  dir.write("resolv.conf", "nameserver 1234567890123456789012345\n");
  char out[20];
  memset(out, 'Z', sizeof out);
  EXPECT_EQ(getDns(1, out, 16, (dir / "resolv.conf").c_str()), 1);
  EXPECT_STREQ(out, "123456789012345");
  EXPECT_EQ(out[16], 'Z');  // nothing written past the 16 bytes given
}

TEST(GetUptime, FirstNumber) {
  TempDir dir;
  dir.write("uptime", "3605.27 7000.11\n");
  dir.write("at", "0 0\n");
  EXPECT_EQ(GetUptime((dir / "uptime").c_str()), 3605);
  EXPECT_EQ(GetUptime((dir / "at").c_str()), 0);
  EXPECT_EQ(GetUptime((dir / "missing").c_str()), 0);
}

TEST(TimeIsInArea, Bounds) {
  const int weekdays[7] = {0, 1, 1, 1, 1, 1, 0};  // Monday to Friday
  struct Case {
    int wday, hour, min;
    int sh, sm, eh, em;
    int inside;
  } cases[] = {
      {1, 8, 0, 8, 0, 18, 0, 1},   {1, 18, 0, 8, 0, 18, 0, 1},  {1, 18, 1, 8, 0, 18, 0, 0},
      {1, 7, 59, 8, 0, 18, 0, 0},  {0, 12, 0, 8, 0, 18, 0, 0},  {3, 0, 0, 0, 0, 0, 0, 1},
      {3, 23, 59, 0, 0, 0, 0, 1},  {6, 12, 0, 0, 0, 0, 0, 0},   {2, 23, 0, 22, 0, 6, 0, 0},
      {2, 3, 0, 22, 0, 6, 0, 0},
  };
  for (const auto &c : cases) {
    struct tm tm = {};
    tm.tm_wday = c.wday;
    tm.tm_hour = c.hour;
    tm.tm_min = c.min;
    EXPECT_EQ(time_is_in_area(&tm, c.sh, c.sm, c.eh, c.em, weekdays), c.inside)
        << c.wday << " " << c.hour << ":" << c.min;
  }
}

TEST(Validation, AddressesHostsMacs) {
  struct Case {
    const char *text;
    bool ipv4, host, mac;
  } cases[] = {
      {"192.168.0.1", true, true, false},
      {"0.0.0.0", true, true, false},
      {"255.255.255.255", true, true, false},
      {"256.1.1.1", false, true, false},
      {"1.2.3", false, true, false},
      {"1.2.3.4.5", false, true, false},
      {"1.2.3.4 ", false, false, false},
      {"1.2.3.4;reboot", false, false, false},
      {"0001.2.3.4", false, true, false},
      {"10.0.0.08", false, true, false},  // leading zeros: octal to inet_addr
      {"010.0.0.1", false, true, false},
      {"", false, false, false},
      {"vpn.example-isp.net", false, true, false},
      {"$(reboot)", false, false, false},
      {"00:11:22:aa:BB:ff", false, false, true},
      {"00:11:22:aa:BB:f", false, false, false},
      {"00-11-22-aa-bb-ff", false, true, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(is_ipv4(c.text), c.ipv4) << c.text;
    EXPECT_EQ(is_hostname(c.text), c.host) << c.text;
    EXPECT_EQ(is_mac(c.text), c.mac) << c.text;
  }
}

TEST(Validation, AddressOrNetwork) {
  for (const char *yes : {"203.0.113.7", "203.0.113.0/24", "0.0.0.0/0", "10.0.0.1/32"}) EXPECT_TRUE(is_ipv4_net(yes)) << yes;
  for (const char *no : {"10.0.0.0/33", "10.0.0.0/08", "10.0.0.0/", "10.0.0.08/8", "10.0.0.0/8 ", "10.0.0/8", ""})
    EXPECT_FALSE(is_ipv4_net(no)) << no;
}

// Control bytes, bytes above 0x7e and "\" are escaped; 64 bytes at most, then "...".
TEST(Shown, EscapedAndCut) {
  char out[kShownSize], small[10];
  EXPECT_STREQ(shown("a\nb\x1b[2J\xc3\\", out), "a\\x0ab\\x1b[2J\\xc3\\x5c");
  std::string lf;
  for (int i = 0; i < 64; ++i) lf += "\\x0a";
  EXPECT_EQ(shown(std::string(65, '\n').c_str(), out), lf + "...");
  EXPECT_STREQ(shown("abcdefghijkl", small), "abcdef...");
}

TEST(ShellQuote, PlainValuesStayAndOthersAreQuoted) {
  struct Case {
    const char *value;
    const char *quoted;
  } cases[] = {
      {"user@isp.net", "user@isp.net"},
      {"Pa55-w_rd+/=,:", "Pa55-w_rd+/=,:"},
      {"", ""},
      {"two words", "'two words'"},
      {"it's", "'it'\\''s'"},
      {"$(touch /tmp/x)", "'$(touch /tmp/x)'"},
      {"a;b", "'a;b'"},
      {"back`tick`", "'back`tick`'"},
      {"\"dq\"", "'\"dq\"'"},
  };
  char out[64];
  for (const auto &c : cases) EXPECT_STREQ(shell_quote(c.value, out), c.quoted) << c.value;
}

TEST(ShellQuote, ValueThatDoesNotFitBecomesEmpty) {
  char out[8];
  EXPECT_STREQ(shell_quote("abcdefghij", out), "''");
  EXPECT_STREQ(shell_quote("a b c d e", out), "''");
  EXPECT_STREQ(shell_quote("a b", out), "'a b'");
}

}  // namespace
}  // namespace rc::test

namespace rc::test {
namespace {

TEST(GetIpMask, LoopbackAndMissingInterface) {
  uint32_t addr = 0, mask = 0;
  ASSERT_EQ(getipmask("lo", &addr, &mask), 0);
  EXPECT_EQ(addr, inet_addr("127.0.0.1"));
  EXPECT_EQ(mask, inet_addr("255.0.0.0"));
  addr = mask = 7;
  EXPECT_NE(getipmask("no-such-if0", &addr, &mask), 0);
  EXPECT_EQ(addr, 7u);  // nothing stored when the queries fail
  EXPECT_EQ(mask, 7u);
}

}  // namespace
}  // namespace rc::test
