// The status CGI's JSON against fixed segment bytes and files, and the
// page's assets (size, no markup built from data).
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "testkit_gtest.h"
#include "tools/statjson.h"
#include "www/status.h"

namespace rc::test {
namespace {

// Runs a writer into a memory stream and returns what it wrote.
template <typename F>
std::string written(F f) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *out = open_memstream(&buf, &len);
  f(out);
  fclose(out);
  std::string s(buf, len);
  free(buf);
  return s;
}

// eth2.2 has 10.250.0.100, ppp0 the peer 10.64.0.1.
bool fakeIf(const char *ifname, bool peer, uint32_t *addr) {
  const char *a = !peer && !strcmp(ifname, "eth2.2") ? "10.250.0.100"
                  : peer && !strcmp(ifname, "ppp0")  ? "10.64.0.1"
                                                     : nullptr;
  return a && inet_pton(AF_INET, a, addr) == 1;
}

const char kRoute[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "br0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "eth2.2\t00000000\t0100FA0A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";

// A lease file written at time 1000: 192.168.0.100 with 3600 s left and a
// host name of 20 bytes without NUL, holding a quote, a tab and "<"; an
// expired one with no name.
std::string leaseFile() {
  std::string f("\0\0\0\0\0\0\x03\xe8", 8);
  f += std::string("\0\0\x0e\x10", 4) + std::string("\xc0\xa8\0\x64", 4) + std::string("\x02\0\0\0\x01\x0a", 6) +
       "pc\"1\t<b>678901234567" + std::string(2, '\0');
  f += std::string("\0\0\0\x05", 4) + std::string("\xc0\xa8\0\x65", 4) +
       std::string("\xaa\xbb\xcc\0\0\x01", 6) + std::string(22, '\0');
  return f;
}

TEST(StatusJson, WholeObjectFromFixedSegmentsAndFiles) {
  TempDir dir;
  dir.write("proc/net/route", kRoute);
  dir.write("etc/resolv.conf", "search lan\nnameserver 10.250.0.1\nnameserver 10.250.0.3\n");
  dir.write("etc/udhcpd.leases", leaseFile());
  dir.write("var/url.log",
            "006\n2026-12-09 01:00:00;192.168.0.100;www.example.com\n"
            "2026-12-09 01:00:05;192.168.0.100;<img src=x onerror=alert(1)>\x01\n");
  static syslog_ring ring{};
  ring.count = 2;
  ring.next = 2;
  std::string started = "2026-12-09 00:59:58 " + toGbk("系统初始化完成") + "\n";
  memcpy(ring.slot[0], started.data(), started.size());
  strcpy(ring.slot[1], "2026-12-09 00:59:59 \"quoted\" back\\slash\ttab\x1b\n");
  static hosttable hosts{};
  hosts.n = 1;
  inet_pton(AF_INET, "192.168.0.100", &hosts.host[0].addr);
  hosts.host[0] = {hosts.host[0].addr, 1, 2, 300, 4000, 5, 600, 7, "02:00:00:00:01:0a", 0};
  sysstat sys{12, 34, 56, 78};
  MemStore store{{"wan_connecttype", "2"}};
  Paths paths(dir.path().c_str(), "");
  WanState wan;
  read_wan(store, paths, fakeIf, wan);

  EXPECT_EQ(written([&](FILE *o) { status_json(o, {&ring, &hosts, &sys}, wan, paths, 1100); }),
            "{\"count\":2,\"next\":2,\"records\":[\"2026-12-09 00:59:58 系统初始化完成\","
            "\"2026-12-09 00:59:59 \\\"quoted\\\" back\\\\slash\\u0009tab\\u001b\"],"
            "\"hosts\":[{\"addr\":\"192.168.0.100\",\"mac\":\"02:00:00:00:01:0a\",\"pkts_sent\":1,"
            "\"pkts_recv\":2,\"bytes_sent\":300,\"bytes_recv\":4000,\"up_rate\":5,\"down_rate\":600,"
            "\"conns\":7}],"
            "\"system\":{\"cpu\":12,\"mem\":34,\"wan_up\":56,\"wan_down\":78},"
            "\"wan\":{\"type\":2,\"ifname\":\"eth2.2\",\"addr\":\"10.250.0.100\","
            "\"gateway\":\"10.250.0.1\",\"dns\":[\"10.250.0.1\",\"10.250.0.3\"]},"
            "\"leases\":[{\"addr\":\"192.168.0.100\",\"mac\":\"02:00:00:00:01:0a\","
            "\"name\":\"pc\\\"1\\u0009<b>678901234567\",\"expires\":3500},"
            "{\"addr\":\"192.168.0.101\",\"mac\":\"aa:bb:cc:00:00:01\",\"name\":\"\",\"expires\":0}],"
            "\"urls\":[\"2026-12-09 01:00:00;192.168.0.100;www.example.com\","
            "\"2026-12-09 01:00:05;192.168.0.100;<img src=x onerror=alert(1)>\\u0001\"]}\n");
}

TEST(StatusJson, AbsentSegmentsAndFiles) {
  TempDir dir;
  MemStore store{{"wan_connecttype", "3"}};
  Paths paths(dir.path().c_str(), "");
  WanState wan;
  read_wan(store, paths, fakeIf, wan);
  EXPECT_EQ(written([&](FILE *o) { status_json(o, {nullptr, nullptr, nullptr}, wan, paths, 0); }),
            "{\"count\":0,\"next\":0,\"records\":[],\"hosts\":\"absent\",\"system\":\"absent\","
            "\"wan\":{\"type\":3,\"ifname\":\"ppp0\",\"addr\":\"\",\"gateway\":\"\",\"dns\":[]},"
            "\"leases\":[],\"urls\":[]}\n");
}

TEST(StatusJson, PointToPointGatewayIsThePeer) {
  TempDir dir;
  dir.write("proc/net/route", "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
                              "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\n");
  MemStore store{{"wan_connecttype", "3"}};
  Paths paths(dir.path().c_str(), "");
  WanState wan;
  read_wan(store, paths, fakeIf, wan);
  EXPECT_STREQ(wan.gateway, "10.64.0.1");
}

TEST(StatusJson, EveryControlCharacterAndBadUtf8Escaped) {
  std::string in = "\"\\\n\r\x01\x1f\x7f ok é \xff\xc3(\xed\xa0\x80\xf0\x9f\x98\x80";
  EXPECT_EQ(written([&](FILE *o) { json_string(o, in.c_str(), in.size()); }),
            "\"\\\"\\\\\\n\\u000d\\u0001\\u001f\\u007f ok é \\ufffd\\ufffd(\\ufffd\\ufffd\\ufffd😀\"");
}

TEST(StatusJson, LastTenUrlLinesFromTheEndOfALongLog) {
  TempDir dir;
  std::string log = "501\n";
  for (int i = 0; i < 400; ++i) log += "2026-12-09 01:00:00;192.168.0.100;site" + std::to_string(i) + ".test\n";
  dir.write("var/url.log", log);
  std::string out = written([&](FILE *o) { json_urls(o, Paths(dir.path().c_str(), ""), 10); });
  EXPECT_EQ(out.substr(0, 53), "\"urls\":[\"2026-12-09 01:00:00;192.168.0.100;site390.te");
  EXPECT_EQ(out.substr(out.size() - 18), "100;site399.test\"]");
  EXPECT_EQ(std::count(out.begin(), out.end(), ';'), 20);
}

// Segments of any bytes (counts out of range, texts without NUL, no valid
// GBK) give bounded JSON with no raw control character.
TEST(StatusJson, AnySegmentBytesGiveCleanJson) {
  static syslog_ring ring;
  static hosttable hosts;
  static sysstat sys;
  TempDir dir;
  Paths paths(dir.path().c_str(), "");
  for (int fill : {0x00, 0x0a, 0x7f, 0x80, 0xff}) {
    memset(&ring, fill, sizeof ring);
    memset(&hosts, fill, sizeof hosts);
    memset(&sys, fill, sizeof sys);
    std::string out = written([&](FILE *o) { status_json(o, {&ring, &hosts, &sys}, WanState(), paths, 0); });
    ASSERT_EQ(out.back(), '\n') << fill;
    EXPECT_EQ(std::count_if(out.begin(), out.end() - 1, [](char c) { return (unsigned char)c < 0x20; }), 0)
        << fill;
    EXPECT_LT(out.size(), 400000u) << fill;
  }
}

TEST(StatusPage, AssetsFitTheFlashAndBuildNoMarkupFromData) {
  std::string all;
  for (const char *f : {"status.html", "status.css", "status.js"}) all += read_file(std::string(ROUTER_WWW_DIR) + "/" + f);
  EXPECT_GT(all.size(), 1000u);
  EXPECT_LT(all.size(), 24u * 1024);
  for (const char *sink : {"innerHTML", "outerHTML", "insertAdjacentHTML", "document.write", "eval("})
    EXPECT_EQ(all.find(sink), std::string::npos) << sink;
}

}  // namespace
}  // namespace rc::test
