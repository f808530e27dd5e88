// Client, URL and MAC filters: the spread record lists, the schedule test and
// the per-pass load steps that add a record's lines once and remove them once.
#include <string>

#include "fixture.h"

namespace rc::test {
namespace {

const char *kAllDays = "1;1;1;1;1;1;1;";

class FilterTest : public FwMgrTest {
 protected:
  void SetUp() override { lanState(); }
  // One pass of the three load steps at the given weekday and time.
  void passAt(int wday, int hour, int min) {
    clock.setWeekTime(wday, hour, min);
    struct tm now;
    clock.localNow(&now);
    mgr.client.loadclientconfig(mgr, now);
    mgr.url.loadurlconfig(mgr, now);
    mgr.mac.loadmacconfig(mgr, now);
  }
  template <typename Read>
  std::string capture(Read read) {
    testing::internal::CaptureStdout();
    read();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(FilterTest, ReadSpecialDataJoinsKeys) {
  store.set("url_filter_0", "a~b");
  store.set("url_filter_1", "c");
  store.set("url_filter_2", "");
  store.set("url_filter_3", "e");
  struct Case {
    int count, perKey;
    const char *joined;
  } cases[] = {
      {0, 8, ""}, {1, 8, "a~b"}, {8, 8, "a~b"}, {9, 8, "a~b~c"}, {17, 8, "a~b~c~"}, {32, 8, "a~b~c~~e"},
      {40, 16, "a~b~c~"},
  };
  char buf[64];
  for (const auto &c : cases) {
    EXPECT_EQ(mgr.readspecialdata(buf, sizeof buf, c.count, "url_filter_", c.perKey), 0);
    EXPECT_STREQ(buf, c.joined) << c.count << "/" << c.perKey;
  }
  // A list longer than the buffer is cut, with a message.
  char small[6];
  testing::internal::CaptureStdout();
  mgr.readspecialdata(small, sizeof small, 32, "url_filter_", 8);
  EXPECT_STREQ(small, "a~b~c");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "fwmgr: the records of url_filter_* exceed 5 bytes; the list is cut\n");
}

TEST_F(FilterTest, CountIsCappedAndReadFromFourKeys) {
  for (int k = 0; k < 5; ++k) {
    std::string list;
    for (int r = 0; r < 8; ++r) {
      int n = k * 8 + r;
      list += (r ? "~" : "") + std::string("0;192.168.0.") + std::to_string(n + 1) + "-192.168.0." +
              std::to_string(n + 1) + ";80-80;0;0:0-0:0;" + kAllDays;
    }
    store.set("client_filter_" + std::to_string(k), list);
  }
  store.set("client_filter_en", "1");
  store.set("client_filter_num", "40");
  EXPECT_EQ(capture([&] { mgr.client.readclientconfig(mgr); }), "");
  EXPECT_EQ(mgr.client.clientnum, 32);
  EXPECT_STREQ(mgr.client.clientinfo[31].startIp, "192.168.0.32");
  // Filter off: nothing is read.
  store.set("client_filter_en", "0");
  mgr.client.readclientconfig(mgr);
  EXPECT_EQ(mgr.client.clientnum, 0);
  EXPECT_STREQ(mgr.client.clientinfo[0].startIp, "");
}

TEST_F(FilterTest, ClientRecordFields) {
  store.set("client_filter_en", "1");
  store.set("client_filter_num", "1");
  store.set("client_filter_0", "1;192.168.0.100-192.168.0.120;6881-6889;2;8:05-17:30;0;1;0;1;0;1;1;ignored");
  mgr.client.readclientconfig(mgr);
  ASSERT_EQ(mgr.client.clientnum, 1);
  const ClientRecord &r = mgr.client.clientinfo[0];
  EXPECT_EQ(r.applied, 0);
  EXPECT_EQ(r.mode, 1);
  EXPECT_STREQ(r.startIp, "192.168.0.100");
  EXPECT_STREQ(r.endIp, "192.168.0.120");
  EXPECT_EQ(r.startPort, 6881);
  EXPECT_EQ(r.endPort, 6889);
  EXPECT_EQ(r.protocol, 2);
  EXPECT_EQ(r.sched.startHour, 8);
  EXPECT_EQ(r.sched.startMin, 5);
  EXPECT_EQ(r.sched.endHour, 17);
  EXPECT_EQ(r.sched.endMin, 30);
  const uint8_t days[7] = {0, 1, 0, 1, 0, 1, 1};
  for (int d = 0; d < 7; ++d) EXPECT_EQ(r.sched.days[d], days[d]) << d;
}

TEST_F(FilterTest, ScheduleTest) {
  struct Case {
    const char *what;
    Schedule s;
    int wday, hour, min, in;
  } cases[] = {
      {"whole day", {0, 0, 0, 0, {1, 1, 1, 1, 1, 1, 1}}, 3, 0, 0, 1},
      {"whole day, late", {0, 0, 0, 0, {1, 1, 1, 1, 1, 1, 1}}, 3, 23, 59, 1},
      {"whole day, flag off", {0, 0, 0, 0, {1, 1, 1, 0, 1, 1, 1}}, 3, 12, 0, 0},
      {"22-06 at 23:00", {22, 0, 6, 0, {1, 1, 1, 1, 1, 1, 1}}, 1, 23, 0, 0},
      {"22-06 at 03:00", {22, 0, 6, 0, {1, 1, 1, 1, 1, 1, 1}}, 1, 3, 0, 0},
      {"22-06 at 22:00", {22, 0, 6, 0, {1, 1, 1, 1, 1, 1, 1}}, 1, 22, 0, 0},
      {"8-17:30 at 07:59", {8, 0, 17, 30, {1, 1, 1, 1, 1, 1, 1}}, 2, 7, 59, 0},
      {"8-17:30 at 08:00", {8, 0, 17, 30, {1, 1, 1, 1, 1, 1, 1}}, 2, 8, 0, 1},
      {"8-17:30 at 17:30", {8, 0, 17, 30, {1, 1, 1, 1, 1, 1, 1}}, 2, 17, 30, 1},
      {"8-17:30 at 17:31", {8, 0, 17, 30, {1, 1, 1, 1, 1, 1, 1}}, 2, 17, 31, 0},
      {"Sunday only, on Sunday", {8, 0, 17, 30, {1, 0, 0, 0, 0, 0, 0}}, 0, 9, 0, 1},
      {"Sunday only, on Saturday", {8, 0, 17, 30, {1, 0, 0, 0, 0, 0, 0}}, 6, 9, 0, 0},
      {"Saturday only, on Saturday", {0, 0, 0, 0, {0, 0, 0, 0, 0, 0, 1}}, 6, 9, 0, 1},
  };
  for (const auto &c : cases) {
    clock.setWeekTime(c.wday, c.hour, c.min);
    struct tm now;
    clock.localNow(&now);
    EXPECT_EQ(inSchedule(c.s, now), c.in) << c.what;
  }
}

// 08:00 to 17:30 on weekdays: added at the first pass at or after 08:00,
// deleted at the first pass at 17:31 or later, each exactly once.
TEST_F(FilterTest, RecordEntersAndLeavesItsScheduleOnce) {
  store.set("client_filter_en", "1");
  store.set("client_filter_num", "1");
  store.set("client_filter_0", "0;192.168.0.100-192.168.0.120;80-80;0;8:0-17:30;0;1;1;1;1;1;0;");
  mgr.client.readclientconfig(mgr);
  const std::string rule = "iptables -t filter %s ip_filter -p tcp --dport 80:80 -m iprange --src-range 192.168.0.100-192.168.0.120 -j DROP";
  auto line = [&](const char *action) {
    char buf[256];
    snprintf(buf, sizeof buf, rule.c_str(), action);
    return std::string("vk: ") + buf;
  };
  struct Step {
    int wday, hour, min;
    std::vector<std::string> lines;
  } steps[] = {
      {1, 7, 58, {}}, {1, 7, 59, {}}, {1, 8, 0, {line("-A")}}, {1, 8, 1, {}}, {1, 12, 0, {}},
      {1, 17, 30, {}}, {1, 17, 31, {line("-D")}}, {1, 17, 32, {}}, {1, 23, 0, {}},
      // Friday in force; Saturday's flag is 0: deleted at the first pass.
      {5, 9, 0, {line("-A")}}, {6, 9, 0, {line("-D")}}, {6, 9, 1, {}},
  };
  for (const auto &s : steps) {
    passAt(s.wday, s.hour, s.min);
    EXPECT_TRUE(SameLines(sh, s.lines)) << s.wday << " " << s.hour << ":" << s.min;
  }
}

TEST_F(FilterTest, ClientLinesByModeAndProtocol) {
  const std::string d = "vk: iptables -t filter -A ip_filter -p ";
  const std::string range = "-m iprange --src-range 192.168.0.2-192.168.0.3";
  struct Case {
    const char *mode, *protocol;
    std::vector<std::string> lines;
  } cases[] = {
      {"0", "0", {d + "tcp --dport 100:200 " + range + " -j DROP"}},
      {"0", "1", {d + "udp --dport 100:200 " + range + " -j DROP"}},
      {"0", "2", {d + "tcp --dport 100:200 " + range + " -j DROP", d + "udp --dport 100:200 " + range + " -j DROP"}},
      {"1", "0", {d + "tcp --dport 100:200 " + range + " -j ACCEPT", d + "tcp " + range + " -j DROP"}},
      {"5", "1", {d + "udp --dport 100:200 " + range + " -j ACCEPT", d + "udp " + range + " -j DROP"}},
      {"1", "2",
       {d + "tcp --dport 100:200 " + range + " -j ACCEPT", d + "tcp " + range + " -j DROP",
        d + "udp --dport 100:200 " + range + " -j ACCEPT", d + "udp " + range + " -j DROP"}},
      {"0", "3", {}},
  };
  store.set("client_filter_en", "1");
  store.set("client_filter_num", "1");
  for (const auto &c : cases) {
    store.set("client_filter_0", std::string(c.mode) + ";192.168.0.2-192.168.0.3;100-200;" + c.protocol + ";0:0-0:0;" + kAllDays);
    mgr.client.readclientconfig(mgr);
    passAt(2, 10, 0);
    EXPECT_TRUE(SameLines(sh, c.lines)) << c.mode << "/" << c.protocol;
    EXPECT_EQ(mgr.client.clientinfo[0].applied, 1);  // also for protocol 3
    // Leaving: the same lines with -D.
    mgr.client.clientinfo[0].sched.days[2] = 0;
    passAt(2, 10, 1);
    std::vector<std::string> del = c.lines;
    for (auto &l : del) l.replace(l.find(" -A "), 4, " -D ");
    EXPECT_TRUE(SameLines(sh, del)) << c.mode << "/" << c.protocol;
  }
}

TEST_F(FilterTest, UrlLines) {
  const std::string h = "vk: iptables -t filter -A url_filter -p tcp --dport 80 -m iprange --src-range 192.168.0.2-192.168.0.9 -m groupurl --src-groupurl ";
  struct Case {
    const char *mode, *keywords;
    std::vector<std::string> lines;
  } cases[] = {
      {"0", "qq,sina.com", {h + "qq~sina.com -j DROP", h + "\"*\" -j ACCEPT"}},
      {"1", "example.com", {h + "example.com -j ACCEPT", h + "\"*\" -j DROP"}},
      // Anything but plain keywords is quoted: the match gets the same bytes.
      {"0", "a b,c*", {h + "'a b~c*' -j DROP", h + "\"*\" -j ACCEPT"}},
      {"0", ",root", {h + "'~root' -j DROP", h + "\"*\" -j ACCEPT"}},
      {"0", "x=,root", {h + "'x=~root' -j DROP", h + "\"*\" -j ACCEPT"}},
      {"0", "$(reboot),`reboot`,it's", {h + "'$(reboot)~`reboot`~it'\\''s' -j DROP", h + "\"*\" -j ACCEPT"}},
  };
  store.set("url_filter_en", "1");
  store.set("url_filter_num", "1");
  for (const auto &c : cases) {
    store.set("url_filter_0", std::string(c.mode) + ";192.168.0.2-192.168.0.9;" + c.keywords + ";0:0-0:0;" + kAllDays);
    mgr.onCommand(9);
    EXPECT_TRUE(SameLines(sh, {"vk: iptables -t filter -F url_filter"}));
    passAt(3, 10, 0);
    EXPECT_TRUE(SameLines(sh, c.lines)) << c.keywords;
    EXPECT_STREQ(mgr.url.urlinfo[0].keywords, c.keywords);  // kept as read
  }
}

TEST_F(FilterTest, MacModes) {
  const std::string add = "vk: iptables -t filter -A mac_filter -m mac --mac-source 00:11:22:AA:bb:55 -j DROP";
  const std::string del = "vk: iptables -t filter -D mac_filter -m mac --mac-source 00:11:22:AA:bb:55 -j DROP";
  struct Step {
    int hour;
    std::vector<std::string> lines;
  };
  struct Case {
    const char *mode, *window;
    std::vector<Step> steps;
  } cases[] = {
      {"0", "8:0-17:0", {{7, {}}, {9, {add}}, {10, {}}, {18, {del}}, {19, {}}}},
      {"1", "8:0-17:0", {{7, {add}}, {9, {del}}, {10, {}}, {18, {add}}, {19, {}}}},
      // 22:00 to 06:00 is never in force: mode 0 never drops, mode 1 always.
      {"0", "22:0-6:0", {{3, {}}, {23, {}}}},
      {"1", "22:0-6:0", {{3, {add}}, {23, {}}, {12, {}}}},
  };
  store.set("mac_filter_en", "1");
  store.set("mac_filter_num", "1");
  for (const auto &c : cases) {
    store.set("mac_filter_0", std::string(c.mode) + ";00:11:22:AA:bb:55;" + c.window + ";" + kAllDays);
    mgr.onCommand(10);
    sh.clear();
    for (const auto &s : c.steps) {
      passAt(4, s.hour, 0);
      EXPECT_TRUE(SameLines(sh, s.lines)) << c.mode << " " << c.window << " at " << s.hour;
    }
  }
}

TEST_F(FilterTest, BadRecordsAreDroppedWithAReason) {
  struct Case {
    const char *list;  // key, record
    const char *record;
    const char *reason;
  } cases[] = {
      {"client", "0;192.168.0.2-192.168.0.3;80-80;0;0:0-0:0;1;1;1;1;1;1;", "no Saturday flag"},
      {"client", "0;192.168.0.2;80-80;0;0:0-0:0;1;1;1;1;1;1;1;", "start address not followed by \"-\""},
      {"client", "0;192.168.0.2-192.168.0.300;80-80;0;0:0-0:0;1;1;1;1;1;1;1;", "end address is not an IPv4 address"},
      {"client", "0;a`reboot`-192.168.0.3;80-80;0;0:0-0:0;1;1;1;1;1;1;1;", "start address is not an IPv4 address"},
      {"client", "0;192.168.0.2-192.168.0.3;80-70000;0;0:0-0:0;1;1;1;1;1;1;1;", "end port 70000 outside 0 to 65535"},
      {"url", "0;192.168.0.2-192.168.0.3;qq;0:0;1;1;1;1;1;1;1;", "start minute not followed by \"-\""},
      {"mac", "0;00:11:22:33:44;0:0-0:0;1;1;1;1;1;1;1;", "MAC address is not six hexadecimal pairs separated by \":\""},
      {"mac", "0;00:11:22:33:44:55 -j ACCEPT;0:0-0:0;1;1;1;1;1;1;1;", "MAC address longer than 19 characters"},
      {"mac", "0;00:11:22:33:44:5$;0:0-0:0;1;1;1;1;1;1;1;", "MAC address is not six hexadecimal pairs separated by \":\""},
  };
  for (const auto &c : cases) {
    std::string list = c.list;
    store.set(list + "_filter_en", "1");
    store.set(list + "_filter_num", "2");
    std::string good = list == "mac" ? "0;00:11:22:33:44:66;0:0-0:0;1;1;1;1;1;1;1;"
                       : list == "url" ? "0;192.168.0.5-192.168.0.6;qq;0:0-0:0;1;1;1;1;1;1;1;"
                                       : "0;192.168.0.5-192.168.0.6;80-80;0;0:0-0:0;1;1;1;1;1;1;1;";
    store.set(list + "_filter_0", std::string(c.record) + "~" + good);
    std::string out = capture([&] {
      list == "mac"   ? mgr.mac.readmacconfig(mgr)
      : list == "url" ? mgr.url.readurlconfig(mgr)
                      : mgr.client.readclientconfig(mgr);
    });
    const char *name = list == "mac" ? "MAC" : list == "url" ? "URL" : "client";
    EXPECT_EQ(out, std::string("fwmgr: ") + name + " filter record 1 dropped: " + c.reason + "\n") << c.record;
    int num = list == "mac" ? mgr.mac.macnum : list == "url" ? mgr.url.urlnum : mgr.client.clientnum;
    EXPECT_EQ(num, 1) << c.record;
    store.set(list + "_filter_en", "0");
  }
}

// Port 0 may start a client range; a URL record without keywords keeps its
// "*" line (and has no keyword line, which would name none).
TEST_F(FilterTest, PortZeroAndEmptyKeywordList) {
  for (const char *key : {"client_filter_", "url_filter_"}) {
    store.set(key + std::string("en"), "1");
    store.set(key + std::string("num"), "1");
  }
  store.set("client_filter_0", "0;192.168.0.2-192.168.0.3;0-80;0;0:0-0:0;1;1;1;1;1;1;1;");
  store.set("url_filter_0", "1;192.168.0.2-192.168.0.3;;0:0-0:0;1;1;1;1;1;1;1;");
  mgr.client.readclientconfig(mgr);
  mgr.url.readurlconfig(mgr);
  passAt(3, 12, 0);
  const std::string r = " -m iprange --src-range 192.168.0.2-192.168.0.3";
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t filter -A ip_filter -p tcp --dport 0:80" + r + " -j DROP",
                             "vk: iptables -t filter -A url_filter -p tcp --dport 80" + r + " -m groupurl --src-groupurl \"*\" -j DROP"}));
}

TEST_F(FilterTest, FewerRecordsThanTheCountAndOverlongRecords) {
  store.set("mac_filter_en", "1");
  store.set("mac_filter_num", "3");
  store.set("mac_filter_0", "0;00:11:22:33:44:66;0:0-0:0;1;1;1;1;1;1;1;" + std::string(250, ' '));
  EXPECT_EQ(capture([&] { mgr.mac.readmacconfig(mgr); }),
            "fwmgr: MAC filter record 1 dropped: longer than 255 characters\n"
            "fwmgr: MAC filter record 2 dropped: not in the list\n"
            "fwmgr: MAC filter record 3 dropped: not in the list\n");
  EXPECT_EQ(mgr.mac.macnum, 0);
  // 300 counts as 256, read from the keys numbered 0 to 15.
  for (int k = 0; k < 17; ++k) {
    std::string list;
    for (int r = 0; r < 16; ++r) {
      char mac[32];
      snprintf(mac, sizeof mac, "00:11:22:33:%02x:%02x", k, r);
      list += (r ? "~" : "") + std::string("1;") + mac + ";0:0-0:0;" + kAllDays;
    }
    store.set("mac_filter_" + std::to_string(k), list);
  }
  store.set("mac_filter_num", "300");
  EXPECT_EQ(capture([&] { mgr.mac.readmacconfig(mgr); }), "");
  EXPECT_EQ(mgr.mac.macnum, 256);
  EXPECT_STREQ(mgr.mac.macinfo[255].mac, "00:11:22:33:0f:0f");
}

}  // namespace
}  // namespace rc::test
