// Attack defence and application blocking; management access, DDNS, DNS,
// connection limits and static routes.
#include <signal.h>
#include <unistd.h>

#include <string>

#include "fixture.h"

namespace rc::test {
namespace {

std::string firewall(char op, int flags, int portscan = 0) {
  return std::string("vk: iptables -t mangle -") + op + " PREROUTING -i br0 -j FIREWALL --flags " +
         std::to_string(flags) + " --ipscan 0 --portscan " + std::to_string(portscan) +
         " --icmpflood 0 --udpflood 0 --synflood 0";
}

class AttackTest : public FwMgrTest {
 protected:
  void SetUp() override { wanUpState(); }
  void read(const char *fields, const char *qqip = "", const char *msnip = "") {
    store.set("lan_attack_defence", fields);
    store.set("qqip", qqip);
    store.set("msnip", msnip);
    mgr.attack.readattackconfig(mgr);
  }
};

TEST_F(AttackTest, Lines) {
  const std::string s = "vk: iptables -t filter -A safe_filter ";
  struct Case {
    const char *fields, *qqip, *msnip;
    std::vector<std::string> lines;
  } cases[] = {
      {"0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0", "", "", {firewall('A', 0)}},
      {"1,50,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0", "", "", {firewall('A', 2, 50)}},
      {"0,0,1,0,1,0,1,0,1,1", "", "",
       {"vk: iptables -t filter -A ping -i br0 -p icmp --icmp-type 8 -j DROP", firewall('A', 8 + 16 + 32 + 3145728)}},
      {"0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,0,0,0,0", "192.168.0.2,192.168.0.3", "",
       {firewall('A', 0), s + "-m groupip --sip 192.168.0.2~192.168.0.3 -m layer7 --l7proto qq -j DROP",
        s + "-m groupip --sip 192.168.0.2~192.168.0.3 -m layer7 --l7proto socks -j DROP",
        s + "-m groupip --sip 192.168.0.2~192.168.0.3 -p tcp --dport 80 -m groupurl --src-groupurl w.qq.com -j DROP"}},
      {"0,0,0,0,0,0,0,0,0,0,0,0,0,1,0,1,0,0,0,0", "", "",
       {firewall('A', 0), s + "-m layer7 --l7proto socks -j DROP", s + "-m layer7 --l7proto qq -j DROP",
        s + "-p tcp --dport 80 -m groupurl --src-groupurl w.qq.com -j DROP"}},
      {"0,0,0,0,0,0,0,0,0,0,1,0,0,0,1,0,1,1,1,1", "", "192.168.0.9",
       {firewall('A', 0), s + "-m groupip --sip 192.168.0.9 -m layer7 --l7proto msn -j DROP",
        s + "-m layer7 --l7proto bittorrent -j DROP", s + "-m layer7 --l7proto edonkey -j DROP",
        s + "-i br0 -p tcp --dport 80 -m filetype --ft ocx~cab -j DROP",
        s + "-i br0 -p tcp -m httpproxy --flag 1 -j DROP"}},
      {"0,0,0,0,0,0,0,0,0,0,1,1,0,0,0,0,1", "", "",
       {firewall('A', 0), s + "-m layer7 --l7proto msn -j DROP",
        s + "-i br0 -p tcp --dport 80 -m filetype --ft ocx~cab~js~class -j DROP"}},
      {"0,0,0,0,0,0,0,0,0,0,0,1", "", "", {firewall('A', 0), s + "-i br0 -p tcp --dport 80 -m filetype --ft js~class -j DROP"}},
      {"", "", "", {firewall('A', 0)}},  // missing fields count as 0
  };
  for (const auto &c : cases) {
    read(c.fields, c.qqip, c.msnip);
    mgr.attack.loadattackconfig(mgr);
    EXPECT_TRUE(SameLines(sh, c.lines)) << c.fields;
  }
}

TEST_F(AttackTest, RefusedSourceListAddsNoQqLine) {
  testing::internal::CaptureStdout();
  read("0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1,0,0,0", "192.168.0.2,$(reboot)", "10.0.0.1,x");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "fwmgr: qqip \"192.168.0.2,$(reboot)\" holds something other than IPv4 addresses; its rules are not added\n"
            "fwmgr: msnip \"10.0.0.1,x\" holds something other than IPv4 addresses; its rules are not added\n");
  mgr.attack.loadattackconfig(mgr);
  EXPECT_TRUE(SameLines(sh, {firewall('A', 0)}));
}

// A list longer than its field is refused, not cut inside an address.
TEST_F(AttackTest, SourceListThatDoesNotFitIsRefused) {
  std::string list = "192.168.100.100";
  for (int i = 1; i < 17; ++i) list += ",192.168.100.100";  // 271 characters
  testing::internal::CaptureStdout();
  read("0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1", list.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "fwmgr: qqip \"192.168.100.100,192.168.100.100,192.168.100.100,"
                                                    "192.168.100.100,...\" is longer than 255 characters; its rules are not added\n");
  mgr.attack.loadattackconfig(mgr);
  EXPECT_TRUE(SameLines(sh, {firewall('A', 0)}));
}

// Command 15 removes with the old values, adds the new, and puts the WAN
// ping rule back while the WAN is up; WAN up and down add and remove it.
TEST_F(AttackTest, CommandAndWanPingRule) {
  read("1,10,0,0,0,0,0,0,1,0");
  store.set("lan_attack_defence", "1,20,0,0,0,0,0,0,1,0");
  mgr.onCommand(15);
  const std::string wanPing = "iptables -t filter -%c ping -i eth2.2 -p icmp --icmp-type 8 -j DROP";
  auto ping = [&](char op) {
    char buf[128];
    snprintf(buf, sizeof buf, wanPing.c_str(), op);
    return std::string("vk: ") + buf;
  };
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t filter -F ping", firewall('D', 1048578, 10),
                             "vk: iptables -t filter -F safe_filter", firewall('A', 1048578, 20), ping('A')}));
  mgr.onCommand(3);
  auto down = sh.take();
  EXPECT_NE(std::find(down.begin(), down.end(), ping('D')), down.end());
  mgr.onCommand(15);
  EXPECT_EQ(sh.take().size(), 4u);  // WAN down: no ping rule
  ifAddr = inet_addr("10.0.0.2");
  ifMask = inet_addr("255.255.255.0");
  mgr.onCommand(2);
  auto up = sh.take();
  EXPECT_NE(std::find(up.begin(), up.end(), ping('A')), up.end());
}

class ServicesTest : public FwMgrTest {
 protected:
  void SetUp() override { wanUpState(); }
};

TEST_F(ServicesTest, LanManagement) {
  const std::string nat = "vk: iptables -t nat -A web_lanadmin -i br0 -d 192.168.0.1 -p tcp --dport ";
  const std::string acc = "vk: iptables -t filter -A web_access -i br0 ";
  struct Case {
    const char *en, *port, *ip;
    std::vector<std::string> lines;
  } cases[] = {
      {"1", "80", "", {}},
      {"1", "8080", "", {nat + "80 -j DROP", nat + "8080 -j DNAT --to 192.168.0.1:80"}},
      {"0", "8080", "192.168.0.5", {}},
      {"1", "80", "0.0.0.0", {}},
      {"1", "80", "192.168.0.5",
       {acc + "-s 192.168.0.5 -d 192.168.0.1 -p tcp --dport 80 -j ACCEPT", acc + "-d 192.168.0.1 -p tcp --dport 80 -j DROP"}},
      {"1", "99999", "", {}},  // not a port: 80
  };
  for (const auto &c : cases) {
    store.set("webipen", c.en);
    store.set("webport", c.port);
    store.set("webip", c.ip);
    mgr.onCommand(14);
    EXPECT_TRUE(SameLines(sh, cat({{"vk: iptables -t filter -F web_access", "vk: iptables -t nat -F web_lanadmin"},
                                   c.lines})))
        << c.en << " " << c.port << " " << c.ip;
    EXPECT_EQ(mgr.lanweb.weblistenport, std::string(c.en) == "1" && std::string(c.port) == "8080" ? 8080 : 80);
  }
}

TEST_F(ServicesTest, WanManagement) {
  const std::string flush = "vk: iptables -t nat -F web_wanadmin";
  struct Case {
    const char *en, *ip;
    bool up;
    std::vector<std::string> lines;
  } cases[] = {
      {"1", "0.0.0.0", true,
       {flush, "vk: iptables -t nat -A web_wanadmin -p tcp -d 10.0.0.2 --dport 8080 -j DNAT --to 192.168.0.1:80"}},
      {"1", "", true,
       {flush, "vk: iptables -t nat -A web_wanadmin -p tcp -d 10.0.0.2 --dport 8080 -j DNAT --to 192.168.0.1:80"}},
      {"1", "10.9.9.9", true,
       {flush, "vk: iptables -t nat -A web_wanadmin -p tcp -d 10.0.0.2 -s 10.9.9.9 --dport 8080 -j DNAT --to 192.168.0.1:80"}},
      {"0", "", true, {flush}},
      {"1", "", false, {flush}},
      {"1", "198.51.100.128/25", true,
       {flush, "vk: iptables -t nat -A web_wanadmin -p tcp -d 10.0.0.2 -s 198.51.100.128/25 --dport 8080 -j DNAT --to 192.168.0.1:80"}},
      {"1", "10.9.9.9 ", true, {flush}},  // refused: no rule, rather than one for every address
      {"1", "10.9.9.09", true, {flush}},
  };
  for (const auto &c : cases) {
    store.set("wanweben", c.en);
    store.set("wanwebip", c.ip);
    store.set("wanwebport", "8080");
    mgr.wanconnflag = c.up;
    mgr.onCommand(13);
    EXPECT_TRUE(SameLines(sh, c.lines)) << c.en << " " << c.ip << " " << c.up;
  }
}

// A refused webip never lifts the host limit: command 14 keeps the rules in
// force; at start, with none in force, no LAN host is admitted.
TEST_F(ServicesTest, RefusedLanManagementAddress) {
  store.set("webipen", "1");
  store.set("webip", "192.168.0.5");
  mgr.onCommand(14);
  store.set("webip", "192.168.0.5 ");
  sh.clear();
  mgr.onCommand(14);
  EXPECT_TRUE(SameLines(sh, {}));
  mgr.start();
  auto lines = sh.take();
  EXPECT_TRUE(SameLines({lines.end() - 2, lines.end()},
                        {"sys: /bin/kinwatch &", "vk: iptables -t filter -A web_access -i br0 -d 192.168.0.1 -p tcp --dport 80 -j DROP"}));
}

// A refused value is printed escaped and cut: it cannot forge or flood lines.
TEST_F(ServicesTest, RefusedValueIsPrintedEscapedAndCut) {
  store.set("dmzip", "\nfwmgr: forged\x1b[2J" + std::string(2000, 'x'));
  testing::internal::CaptureStdout();
  mgr.dmz.readdmzconfig(mgr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "fwmgr: dmzip \"\\x0afwmgr: forged\\x1b[2J" + std::string(46, 'x') + "...\" is not an IPv4 address; refused\n");
}

TEST_F(ServicesTest, DdnsTypes) {
  struct Case {
    const char *type, *line, *program;
  } cases[] = {
      {"0", "D: 3322ip -S qdns -u me:pw -h my.example.net &", "3322ip"},
      {"1", "D: 88ip me pw  &", "88ip"},
      {"2", "D: inadyn -u me -p pw -a my.example.net --dyndns_system  default@freedns.afraid.org &", "inadyn"},
      {"3", "D: inadyn -u me -p pw -a my.example.net --dyndns_system  default@zoneedit.com &", "inadyn"},
      {"4", "D: inadyn -u me -p pw -a my.example.net --dyndns_system  default@no-ip.com &", "inadyn"},
      {"5", "D: inadyn -u me -p pw -a my.example.net --dyndns_system  dyndns@dyndns.org &", "inadyn"},
      {"6", nullptr, nullptr},
  };
  store.set("ddns_en", "1");
  store.set("ddns_user", "me");
  store.set("ddns_pwd", "pw");
  store.set("ddns_domain", "my.example.net");
  for (const auto &c : cases) {
    store.set("ddns_type", c.type);
    mgr.onCommand(17);
    sh.clear();
    mgr.onCommand(17);  // stops the client of the settings in memory, starts it again
    std::vector<std::string> lines = {"D: echo 0 > /etc/ddns"};
    if (c.line) lines.push_back(c.line);
    EXPECT_TRUE(SameLines(sh, lines)) << c.type;
    procs.add("3322ip", 50);
    procs.add("88ip", 51);
    procs.add("inadyn", 52);
    procs.signals.clear();
    mgr.onCommand(3);
    EXPECT_EQ(procs.signals, c.program ? std::vector<std::string>{std::to_string(SIGKILL) + " " + c.program}
                                       : std::vector<std::string>{})
        << c.type;
    mgr.wanconnflag = 1;
    sh.clear();
  }
}

// Command 17 stops the client of the old settings before reading the new.
TEST_F(ServicesTest, DdnsStopsTheOldClientAndQuotesCredentials) {
  store.set("ddns_en", "1");
  store.set("ddns_type", "0");
  store.set("ddns_domain", "my.example.net");
  mgr.onCommand(17);
  procs.add("3322ip", 50);
  procs.add("inadyn", 52);
  store.set("ddns_type", "2");
  store.set("ddns_user", "a b");
  store.set("ddns_pwd", "it's;$(x)");
  sh.clear();
  procs.signals.clear();
  mgr.onCommand(17);
  EXPECT_EQ(procs.signals, std::vector<std::string>{std::to_string(SIGKILL) + " 3322ip"});
  EXPECT_TRUE(SameLines(sh, {"D: echo 0 > /etc/ddns",
                             "D: inadyn -u 'a b' -p 'it'\\''s;$(x)' -a my.example.net --dyndns_system  "
                             "default@freedns.afraid.org &"}));
  store.set("ddns_domain", "my.example.net;reboot");
  testing::internal::CaptureStdout();
  mgr.onCommand(17);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("is not a host name; DDNS not started"), std::string::npos);
  EXPECT_TRUE(SameLines(sh, {"D: echo 0 > /etc/ddns"}));
}

TEST_F(ServicesTest, DnsOverrideRestoreAndProxy) {
  dir.write("etc/resolv.conf", "# comment\nnameserver 10.0.0.53\nnameserver 10.0.0.54\n");
  // The backup arrives (the override goes on only with a whole backup).
  sh.on("cp /etc/resolv.conf /etc/bakresolv.conf",
        [this](const std::string &) { dir.write("etc/bakresolv.conf", dir.read("etc/resolv.conf")); });
  const std::string proxy = "iptables -t nat -%c PREROUTING -i br0 -p udp -d 192.168.0.1 --dport 53 -j DNAT --to %s:53";
  auto rule = [&](char op, const char *dns) {
    char buf[160];
    snprintf(buf, sizeof buf, proxy.c_str(), op, dns);
    return std::string("vk: ") + buf;
  };
  mgr.dns.loaddnsproxy(mgr);
  EXPECT_TRUE(SameLines(sh, {rule('A', "10.0.0.53")}));
  struct Case {
    const char *en, *dns1, *dns2;
    std::vector<std::string> lines;
  } cases[] = {
      {"1", "1.1.1.1", "",
       {"vk: cp /etc/resolv.conf /etc/bakresolv.conf", "vk: echo nameserver 1.1.1.1 > /etc/resolv.conf"}},
      {"1", "1.1.1.1", "8.8.8.8",
       {"vk: cp /etc/resolv.conf /etc/bakresolv.conf", "vk: echo nameserver 1.1.1.1 > /etc/resolv.conf",
        "vk: echo nameserver 8.8.8.8 >> /etc/resolv.conf"}},
      {"1", "1.1.1.1", "0.0.0.0",
       {"vk: cp /etc/resolv.conf /etc/bakresolv.conf", "vk: echo nameserver 1.1.1.1 > /etc/resolv.conf"}},
      {"0", "1.1.1.1", "", {"vk: cp /etc/bakresolv.conf /etc/resolv.conf"}},
  };
  for (const auto &c : cases) {
    store.set("dnsen", c.en);
    store.set("dns_dns1", c.dns1);
    store.set("dns_dns2", c.dns2);
    mgr.onCommand(18);
    // The proxy rule is removed and added again around it (the test's
    // resolv.conf does not change, as the lines are only recorded).
    EXPECT_TRUE(SameLines(sh, cat({{rule('D', "10.0.0.53")}, c.lines, {rule('A', "10.0.0.53")}})))
        << c.en << " " << c.dns2;
  }
  // No server in the file: no rule, and no removal.
  dir.write("etc/resolv.conf", "# empty\n");
  mgr.onCommand(3);
  auto lines = sh.take();
  EXPECT_NE(std::find(lines.begin(), lines.end(), rule('D', "10.0.0.53")), lines.end());
  mgr.dns.loaddnsproxy(mgr);
  mgr.dns.unloaddnsproxy(mgr);
  EXPECT_TRUE(SameLines(sh, {}));
}

// The DNS files and /etc/ddns are written by command lines: a write that did
// not arrive (a full /etc) is reported. A backup that did not arrive keeps the
// WAN's servers in resolv.conf, as a later restore would copy the broken
// backup over them.
TEST_F(ServicesTest, FailedFileWritesAreReported) {
  auto copy = [&](const char *from, const char *to) {
    return [this, from, to](const std::string &) { dir.write(to, dir.read(from)); };
  };
  auto run = [&](void (Dns::*step)(FwMgr &)) {
    testing::internal::CaptureStdout();
    (mgr.dns.*step)(mgr);
    return testing::internal::GetCapturedStdout();
  };
  store.set("dnsen", "1");
  store.set("dns_dns1", "1.1.1.1");
  store.set("dns_dns2", "8.8.8.8");
  dir.write("etc/resolv.conf", "nameserver 10.0.0.53\n");
  EXPECT_EQ(run(&Dns::dnsOverride),
            "fwmgr: cannot write /etc/bakresolv.conf: the copy of /etc/resolv.conf is incomplete; "
            "DNS servers left as they are\n");
  EXPECT_TRUE(SameLines(sh, {"vk: cp /etc/resolv.conf /etc/bakresolv.conf"}));
  // A backup cut short is removed, and one found later (empty, or cut inside
  // a line) is never restored: the current servers stay.
  sh.on("cp /etc/resolv.conf /etc/bakresolv.conf",
        [this](const std::string &) { dir.write("etc/bakresolv.conf", "nameserver 10.0"); });
  run(&Dns::dnsOverride);
  EXPECT_FALSE(dir.exists("etc/bakresolv.conf"));
  sh.clear();
  for (const char *partial : {"", "nameserver 10.0"}) {
    dir.write("etc/bakresolv.conf", partial);
    EXPECT_EQ(run(&Dns::dnsRestore),
              "fwmgr: /etc/bakresolv.conf is not a whole copy (empty or cut); removed, resolv.conf left as it is\n");
    EXPECT_TRUE(SameLines(sh, {})) << "[" << partial << "]";
    EXPECT_FALSE(dir.exists("etc/bakresolv.conf"));
    EXPECT_EQ(dir.read("etc/resolv.conf"), "nameserver 10.0.0.53\n");
  }
  // The backup arrives, the new servers do not.
  sh.on("cp /etc/resolv.conf /etc/bakresolv.conf", copy("etc/resolv.conf", "etc/bakresolv.conf"));
  EXPECT_EQ(run(&Dns::dnsOverride), "fwmgr: cannot write /etc/resolv.conf: it does not name 1.1.1.1 and 8.8.8.8\n");
  EXPECT_EQ(dir.read("etc/bakresolv.conf"), "nameserver 10.0.0.53\n");
  // Both arrive: nothing to report.
  sh.on("echo nameserver 1.1.1.1 > /etc/resolv.conf",
        [this](const std::string &) { dir.write("etc/resolv.conf", "nameserver 1.1.1.1\n"); });
  sh.on("echo nameserver 8.8.8.8 >> /etc/resolv.conf",
        [this](const std::string &) { dir.write("etc/resolv.conf", "nameserver 1.1.1.1\nnameserver 8.8.8.8\n"); });
  EXPECT_EQ(run(&Dns::dnsOverride), "");
  // The restore does not arrive; then it does.
  dir.write("etc/bakresolv.conf", "nameserver 10.0.0.53\n");
  EXPECT_EQ(run(&Dns::dnsRestore),
            "fwmgr: cannot write /etc/resolv.conf: the copy of /etc/bakresolv.conf is incomplete\n");
  sh.on("cp /etc/bakresolv.conf /etc/resolv.conf", copy("etc/bakresolv.conf", "etc/resolv.conf"));
  EXPECT_EQ(run(&Dns::dnsRestore), "");
  EXPECT_EQ(dir.read("etc/resolv.conf"), "nameserver 10.0.0.53\n");
  // The DDNS status file: the shell's status tells.
  sh.result("echo 0 > /etc/ddns", 256);
  testing::internal::CaptureStdout();
  mgr.onCommand(17);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "echo 0 > /etc/ddns\nfwmgr: cannot write /etc/ddns: exit status 1\n");
  // The connection-limit record: no directory, then a full device.
  const std::string connlimit = dir.path() + "/kernel/proc/vkproc/connlimit";
  store.set("natlimit_list", "192.168.0.2;192.168.0.3;100;300");
  testing::internal::CaptureStdout();
  mgr.loadnatlimitconfig();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "fwmgr: cannot open " + connlimit + ": No such file or directory; no connection limits\n");
  dir.write("kernel/proc/vkproc/.keep", "");
  ASSERT_EQ(symlink("/dev/full", connlimit.c_str()), 0);
  testing::internal::CaptureStdout();
  mgr.loadnatlimitconfig();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "fwmgr: cannot write " + connlimit + ": No space left on device\n");
}

TEST_F(ServicesTest, ConnLimitRecord) {
  dir.write("kernel/proc/vkproc/.keep", "");
  auto record = [&](const std::string &list) {
    store.set("natlimit_enble", "1");
    store.set("natlimit_list", list);
    mgr.loadnatlimitconfig();
    return dir.read("kernel/proc/vkproc/connlimit");
  };
  EXPECT_EQ(record(""), std::string("\x01\x00\x00\x00", 4));
  std::string one = record("192.168.0.2;192.168.0.3;100;300");
  EXPECT_EQ(one, std::string("\x01\x00\x00\x00"
                             "\xc0\xa8\x00\x02\xc0\xa8\x00\x03"
                             "\x64\x00\x00\x00\x2c\x01\x00\x00",
                             20));
  std::string list;
  for (int i = 0; i < 33; ++i) list += (i ? "," : "") + std::string("10.0.0.") + std::to_string(i) + ";10.0.0.200;1;2";
  testing::internal::CaptureStdout();
  std::string full = record(list);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "fwmgr: natlimit_list holds more than 32 entries; entry 33 and later dropped\n");
  ASSERT_EQ(full.size(), 4u + 16 * 32);
  EXPECT_EQ(full.substr(4 + 16 * 31, 4), std::string("\x0a\x00\x00\x1f", 4));
  // A malformed entry is skipped; the others stay.
  testing::internal::CaptureStdout();
  EXPECT_EQ(record("10.0.0.1;10.0.0.2;1,10.0.0.x;10.0.0.2;1;2,10.0.0.3;10.0.0.4;5;6").size(), 20u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "fwmgr: natlimit_list entry 1 dropped: first number not followed by \";\"\n"
            "fwmgr: natlimit_list entry 2 dropped: an address is not an IPv4 address\n");
}

TEST_F(ServicesTest, StaticRoutesStopAtTheFirstShortKey) {
  store.set("static_route_0", "10.20.0.0;255.255.0.0;192.168.0.254");
  store.set("static_route_1", "10.30.0.0;255.255.0.0");
  store.set("static_route_2", "10.40.0.0;255.255.0.0;192.168.0.253");
  store.set("static_route_3", "short");
  store.set("static_route_4", "10.50.0.0;255.255.0.0;192.168.0.252");
  testing::internal::CaptureStdout();
  mgr.loadroutestatic();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(SameLines(sh, {"D: route add -net 10.20.0.0 netmask 255.255.0.0 gw 192.168.0.254",
                             "D: route add -net 10.40.0.0 netmask 255.255.0.0 gw 192.168.0.253"}));
  EXPECT_NE(out.find("fwmgr: static_route_1 skipped: mask not followed by \";\""), std::string::npos) << out;
  store.set("static_route_0", "");
  mgr.loadroutestatic();
  EXPECT_TRUE(SameLines(sh, {}));
}

}  // namespace
}  // namespace rc::test
