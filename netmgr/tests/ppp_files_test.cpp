// PPP files: ip-up/ip-down and the resolv.conf link, options.pppoe,
// options.pptp, options.xl2tpd and xl2tpd.conf line by line, the written
// files themselves, and free text that must neither run nor be misread.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fixture.h"
#include "run_lines.h"

namespace rc::test {
namespace {


class PppTest : public NetMgrTest {
 protected:
  PppTest() {
    dir.write("etc/ppp/.keep", "");
    dir.write("var/run/.keep", "");
  }
};

using PppoeFileTest = PppTest;
using PptpFileTest = PppTest;
using L2tpFileTest = PppTest;
using PppFreeTextTest = PppTest;
using PppInjectionTest = PppTest;

TEST_F(PppoeFileTest, EmptyServiceAndConcentratorNames) {
  mgr.Set_pppoe_conf("user01@isp", "s3cret", "", "", "1492");
  EXPECT_TRUE(SameLines(sh, cat({kLinkScripts,
                                 {
                                     "D: echo noauth > /etc/options.pppoe ",
                                     "D: echo user 'user01@isp' >> /etc/options.pppoe ",
                                     "D: echo password 's3cret' >> /etc/options.pppoe ",
                                     "D: echo nomppe >> /etc/options.pppoe ",
                                     "D: echo hide-password >> /etc/options.pppoe ",
                                     "D: echo noipdefault >> /etc/options.pppoe ",
                                     "D: echo defaultroute >> /etc/options.pppoe ",
                                     "D: echo nodetach >> /etc/options.pppoe ",
                                     "D: echo usepeerdns >> /etc/options.pppoe ",
                                     "D: echo mru 1492 >> /etc/options.pppoe ",
                                     "D: echo mtu 1492 >> /etc/options.pppoe ",
                                     "D: echo persist >> /etc/options.pppoe ",
                                     "D: echo ipcp-accept-remote >> /etc/options.pppoe ",
                                     "D: echo ipcp-accept-local >> /etc/options.pppoe ",
                                     "D: echo lcp-echo-failure 3 >> /etc/options.pppoe ",
                                     "D: echo lcp-echo-interval 60 >> /etc/options.pppoe ",
                                     "D: echo \"plugin /etc_ro/ppp/plugins/rp-pppoe.so eth2.2 \" >> /etc/options.pppoe ",
                                 }})));
}

TEST_F(PppoeFileTest, WrittenFilesReadAsListed) {
  mgr.Set_pppoe_conf("user01@isp", "s3cret", "ISP-1", "", "1480");
  runInDir(sh.take(), dir.path());
  EXPECT_EQ(dir.read("etc/options.pppoe"),
            "noauth\n"
            "user user01@isp\n"
            "password s3cret\n"
            "nomppe\n"
            "hide-password\n"
            "noipdefault\n"
            "defaultroute\n"
            "nodetach\n"
            "usepeerdns\n"
            "mru 1480\n"
            "mtu 1480\n"
            "persist\n"
            "ipcp-accept-remote\n"
            "ipcp-accept-local\n"
            "lcp-echo-failure 3\n"
            "lcp-echo-interval 60\n"
            "plugin /etc_ro/ppp/plugins/rp-pppoe.so eth2.2 \n"
            "rp_pppoe_service ISP-1\n");
  EXPECT_EQ(dir.read("etc/ppp/ip-up"), "#!/bin/sh\nsendmsg 204 2 &\ncat /proc/uptime > /etc/at\n");
  EXPECT_EQ(dir.read("etc/ppp/ip-down"), "#!/bin/sh\nsendmsg 204 3 &\necho \"0 0\" > /etc/at\n");
  struct stat st;
  ASSERT_EQ(stat((dir / "etc/ppp/ip-up").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  ASSERT_EQ(stat((dir / "etc/ppp/ip-down").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  // resolv.conf points to pppd's (still empty) file.
  char target[512] = {};
  ASSERT_GT(readlink((dir / "etc/resolv.conf").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), dir / "etc/ppp/resolv.conf");
  EXPECT_EQ(dir.read("etc/resolv.conf"), "\n");
}

TEST_F(PppoeFileTest, MtuLinesCarryTheNumberOrAreRefused) {
  struct Case {
    const char *mtu;
    std::vector<std::string> expected;
  } cases[] = {
      {"1492", {"D: echo mru 1492 >> /etc/options.pppoe ", "D: echo mtu 1492 >> /etc/options.pppoe "}},
      {"01400", {"D: echo mru 1400 >> /etc/options.pppoe ", "D: echo mtu 1400 >> /etc/options.pppoe "}},
      {"65535", {"D: echo mru 65535 >> /etc/options.pppoe ", "D: echo mtu 65535 >> /etc/options.pppoe "}},
      {"65536", {}},
      {"", {}},
      {"14x2", {}},
      {"-1492", {}},
      {"1492 ", {}},
      {"1492;reboot", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.mtu);
    testing::internal::CaptureStdout();
    mgr.Set_pppoe_conf("u", "p", "", "", c.mtu);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(SameLines(linesStarting("D: echo m"), c.expected));
    bool refused = c.expected.empty();
    EXPECT_EQ(out.find("mru line of /etc/options.pppoe skipped") != std::string::npos, refused) << out;
    EXPECT_EQ(out.find("mtu line of /etc/options.pppoe skipped") != std::string::npos, refused) << out;
  }
}

TEST_F(PptpFileTest, MppeSwitchAddsTheThirdLine) {
  const std::vector<std::string> withMppe = {
      "D: echo noauth > /etc/options.pptp ",
      "D: echo refuse-eap >> /etc/options.pptp ",
      "D: echo require-mppe >> /etc/options.pptp ",
      "D: echo user vpnuser >> /etc/options.pptp ",
      "D: echo password vpnpass >> /etc/options.pptp ",
      "D: echo connect true >> /etc/options.pptp ",
      "D: echo \"pty '/bin/pptp vpn.example.com --nolaunchpppd'\" >> /etc/options.pptp ",
      "D: echo lock >> /etc/options.pptp ",
      "D: echo \"mtu 1450\" >> /etc/options.pptp ",
      "D: echo \"maxfail 0\" >> /etc/options.pptp ",
      "D: echo usepeerdns >> /etc/options.pptp ",
      "D: echo persist >> /etc/options.pptp ",
      "D: echo defaultroute >> /etc/options.pptp ",
      "D: echo ipcp-accept-remote ipcp-accept-local noipdefault >> /etc/options.pptp ",
      "D: echo ktune >> /etc/options.pptp ",
      "D: echo default-asyncmap nopcomp noaccomp >> /etc/options.pptp ",
      "D: echo novj nobsdcomp nodeflate >> /etc/options.pptp ",
      "D: echo lcp-echo-interval 300 >> /etc/options.pptp ",
      "D: echo lcp-echo-failure 6 >> /etc/options.pptp ",
      "D: echo unit 0 >> /etc/options.pptp ",
  };
  // Without MPPE the same lines follow each other without the third one.
  std::vector<std::string> withoutMppe = withMppe;
  withoutMppe.erase(withoutMppe.begin() + 2);
  ASSERT_EQ(withoutMppe[2], "D: echo user vpnuser >> /etc/options.pptp ");
  struct Case {
    const char *mppe;
    const std::vector<std::string> &expected;
  } cases[] = {{"0", withoutMppe}, {"", withoutMppe}, {"2", withoutMppe}, {"1", withMppe}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.mppe);
    mgr.Set_pptp_conf("vpnuser", "vpnpass", "vpn.example.com", "1450", c.mppe);
    EXPECT_TRUE(SameLines(sh, cat({{"D: mkdir /etc/ppp"}, kLinkScripts, c.expected})));
  }
}

TEST_F(PptpFileTest, WrittenFileReadsAsListed) {
  mgr.Set_pptp_conf("vpnuser", "vpnpass", "198.51.100.9", "1400", "1");
  runInDir(sh.take(), dir.path());
  EXPECT_EQ(dir.read("etc/options.pptp"),
            "noauth\nrefuse-eap\nrequire-mppe\nuser vpnuser\npassword vpnpass\nconnect true\n"
            "pty '/bin/pptp 198.51.100.9 --nolaunchpppd'\nlock\nmtu 1400\nmaxfail 0\nusepeerdns\n"
            "persist\ndefaultroute\nipcp-accept-remote ipcp-accept-local noipdefault\nktune\n"
            "default-asyncmap nopcomp noaccomp\nnovj nobsdcomp nodeflate\nlcp-echo-interval 300\n"
            "lcp-echo-failure 6\nunit 0\n");
}

TEST_F(PptpFileTest, ServerMustBeAnAddressOrHostName) {
  struct Case {
    const char *server;
    std::vector<std::string> ptyLines;
  } cases[] = {
      {"198.51.100.9", {"D: echo \"pty '/bin/pptp 198.51.100.9 --nolaunchpppd'\" >> /etc/options.pptp "}},
      {"vpn-1.example.com", {"D: echo \"pty '/bin/pptp vpn-1.example.com --nolaunchpppd'\" >> /etc/options.pptp "}},
      {"", {"D: echo \"pty '/bin/pptp  --nolaunchpppd'\" >> /etc/options.pptp "}},
      {"vpn.example.com --x", {}},
      {"vpn';reboot;'", {}},
      {"vpn_1.example.com", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.server);
    testing::internal::CaptureStdout();
    mgr.Set_pptp_conf("u", "p", c.server, "1450", "0");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(SameLines(linesStarting("D: echo \"pty"), c.ptyLines));
    EXPECT_EQ(out.find("its line of /etc/options.pptp skipped") != std::string::npos,
              c.ptyLines.empty())
        << out;
  }
}

TEST_F(L2tpFileTest, OptionsAndConfiguration) {
  mgr.Set_l2tp_conf("l2tpuser", "l2tppass", "203.0.113.20", "1450");
  EXPECT_TRUE(SameLines(
      sh, cat({{"D: mkdir /etc/ppp"},
               kLinkScripts,
               {
                   "D: echo \"ipcp-accept-local\" > /etc/ppp/options.xl2tpd ",
                   "D: echo \"ipcp-accept-remote\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"lock\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"noauth\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"debug\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"dump\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"logfile /var/log/l2tpd.log\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"passive\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"nodetach\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"noccp\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"novj\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"novjccomp\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"nopcomp\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"noaccomp\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"proxyarp\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"defaultroute\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"user l2tpuser\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo \"password l2tppass\" >> /etc/ppp/options.xl2tpd ",
                   "D: echo noipdefault >> /etc/ppp/options.xl2tpd ",
                   "D: echo 'usepeerdns 1' >> /etc/ppp/options.xl2tpd ",
                   "D: mkdir /etc/xl2tpd",
                   "D: mkdir /var/run/xl2tpd",
                   "D: echo '[lns default]' > /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'ip range = 192.168.191.2-192.168.191.254' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'local ip = 192.168.191.1' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'require chap = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'require pap = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'require authentication = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'name = l2tpvpnserver' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'ppp debug = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'pppoptfile = /etc/ppp/options.xl2tpd' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'length bit = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo '[lac Linkn]' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'lns = 203.0.113.20' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'redial = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'redial timeout = 15' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'max redials = 5' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'require chap = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'refuse pap = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'require authentication = yes' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'name = l2tpuser' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'ppp debug = no' >> /etc/xl2tpd/xl2tpd.conf ",
                   "D: echo 'pppoptfile = /etc/ppp/options.xl2tpd' >> /etc/xl2tpd/xl2tpd.conf ",
               }})));
}

TEST_F(L2tpFileTest, WrittenFilesReadAsListed) {
  mgr.Set_l2tp_conf("l2tpuser", "l2tppass", "lns.example.net", "1450");
  runInDir(sh.take(), dir.path());
  EXPECT_EQ(dir.read("etc/ppp/options.xl2tpd"),
            "ipcp-accept-local\nipcp-accept-remote\nlock\nnoauth\ndebug\ndump\n"
            "logfile /var/log/l2tpd.log\npassive\nnodetach\nnoccp\nnovj\nnovjccomp\nnopcomp\n"
            "noaccomp\nproxyarp\ndefaultroute\nuser l2tpuser\npassword l2tppass\nnoipdefault\n"
            "usepeerdns 1\n");
  EXPECT_EQ(dir.read("etc/xl2tpd/xl2tpd.conf"),
            "[lns default]\n"
            "ip range = 192.168.191.2-192.168.191.254\n"
            "local ip = 192.168.191.1\n"
            "require chap = yes\n"
            "require pap = yes\n"
            "require authentication = yes\n"
            "name = l2tpvpnserver\n"
            "ppp debug = yes\n"
            "pppoptfile = /etc/ppp/options.xl2tpd\n"
            "length bit = yes\n"
            "[lac Linkn]\n"
            "lns = lns.example.net\n"
            "redial = yes\n"
            "redial timeout = 15\n"
            "max redials = 5\n"
            "require chap = yes\n"
            "refuse pap = yes\n"
            "require authentication = yes\n"
            "name = l2tpuser\n"
            "ppp debug = no\n"
            "pppoptfile = /etc/ppp/options.xl2tpd\n");
  struct stat st;
  EXPECT_EQ(stat((dir / "var/run/xl2tpd").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(L2tpFileTest, BadServerLeavesTheLnsLineOut) {
  testing::internal::CaptureStdout();
  mgr.Set_l2tp_conf("u", "p", "lns example", "1450");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(SameLines(linesStarting("D: echo 'lns"), {}));
  EXPECT_NE(out.find("its line of /etc/xl2tpd/xl2tpd.conf skipped"), std::string::npos) << out;
}

// Values outside the ordinary set are written with printf, the whole option
// line one single-quoted argument; pppd gets its own quoted form.
TEST_F(PppFreeTextTest, UnusualValuesUsePrintfAndPppdQuotes) {
  mgr.Set_pppoe_conf("John Smith", "it's", "ISP #1", "ac\"1", "1492");
  EXPECT_TRUE(SameLines(linesStarting("D: printf"), {
      R"(D: printf '%s\n' 'user "John Smith"' >> /etc/options.pppoe )",
      R"(D: printf '%s\n' 'password "it'\''s"' >> /etc/options.pppoe )",
      R"(D: printf '%s\n' 'rp_pppoe_service "ISP #1"' >> /etc/options.pppoe )",
      R"(D: printf '%s\n' 'rp_pppoe_ac "ac\"1"' >> /etc/options.pppoe )",
  }));

  mgr.Set_pptp_conf("dom$user", "a\\b", "vpn.example.com", "1450", "0");
  EXPECT_TRUE(SameLines(linesStarting("D: printf"), {
      R"(D: printf '%s\n' 'user dom$user' >> /etc/options.pptp )",
      R"(D: printf '%s\n' 'password "a\\b"' >> /etc/options.pptp )",
  }));

  mgr.Set_l2tp_conf("a b", "p&q", "lns.example.net", "1450");
  EXPECT_TRUE(SameLines(linesStarting("D: printf"), {
      R"(D: printf '%s\n' 'user "a b"' >> /etc/ppp/options.xl2tpd )",
      R"(D: printf '%s\n' 'password p&q' >> /etc/ppp/options.xl2tpd )",
      R"(D: printf '%s\n' 'name = a b' >> /etc/xl2tpd/xl2tpd.conf )",
  }));
}

// doSystemCmd runs at most 255 characters: a longer line is not run at all.
TEST_F(PppFreeTextTest, LineLongerThanTheShellLimitIsNotRun) {
  struct Case {
    std::string pwd;
    bool written;
  } cases[] = {
      {std::string(219, 'a'), true},    // "echo password " + 219 + " >> /etc/options.pptp " = 255
      {std::string(220, 'a'), false},   // 256
      {std::string(60, '\''), false},   // every quote costs 4 characters in the shell
      {std::string(30, '\''), true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.pwd.size());
    testing::internal::CaptureStdout();
    mgr.Set_pptp_conf("u", c.pwd.c_str(), "vpn.example.com", "1450", "0");
    std::string out = testing::internal::GetCapturedStdout();
    size_t passwordLines = 0;
    for (auto &l : sh.take())
      if (l.find("password") != std::string::npos) ++passwordLines;
    EXPECT_EQ(passwordLines, c.written ? 1u : 0u);
    EXPECT_EQ(out.find("password line of /etc/options.pptp not written") == std::string::npos,
              c.written)
        << out;
  }
  mgr.Set_pptp_conf("u", std::string(219, 'a').c_str(), "vpn.example.com", "1450", "0");
  EXPECT_TRUE(SameLines(linesStarting("D: echo password"),
                        {"D: echo password " + std::string(219, 'a') + " >> /etc/options.pptp "}));
}

TEST_F(PppFreeTextTest, LineBreakInTheXl2tpdNameIsRefused) {
  testing::internal::CaptureStdout();
  mgr.Set_l2tp_conf("a\n[lac evil]", "p", "lns.example.net", "1450");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("name line of /etc/xl2tpd/xl2tpd.conf not written"), std::string::npos) << out;
  runInDir(sh.take(), dir.path());
  std::string conf = dir.read("etc/xl2tpd/xl2tpd.conf");
  EXPECT_EQ(conf.find("evil"), std::string::npos);
  EXPECT_NE(dir.read("etc/ppp/options.xl2tpd").find("\nuser \"a\n[lac evil]\"\n"), std::string::npos);
}

// Shell metacharacters in every free-text, server and MTU value: the lines are
// run by a real shell, no injected command runs (the canary file never
// appears) and each option file holds exactly the value, in pppd's form where
// pppd reads it.
TEST_F(PppInjectionTest, NoInjectedCommandRuns) {
  struct Payload {
    const char *value;
    const char *pppdWord;
  } payloads[] = {
      {"$(touch CANARY)", R"~("$(touch CANARY)")~"},
      {";touch CANARY", R"(";touch CANARY")"},
      {"`touch CANARY`", R"("`touch CANARY`")"},
      {"x'; touch CANARY; echo '", R"("x'; touch CANARY; echo '")"},
      {"x\"; touch CANARY; echo \"", R"("x\"; touch CANARY; echo \"")"},
      {"x\ntouch CANARY", "\"x\ntouch CANARY\""},
      {"a|touch CANARY", R"("a|touch CANARY")"},
      {"a&&touch>CANARY", "a&&touch>CANARY"},
      {">CANARY", ">CANARY"},
      {"$(touch${IFS}CANARY)", "$(touch${IFS}CANARY)"},
      {"back\\slash\\n", R"("back\\slash\\n")"},
      {"pass#word", R"("pass#word")"},
  };
  auto has = [&](const char *file, const std::string &text) {
    return dir.read(file).find(text) != std::string::npos;
  };
  for (const auto &p : payloads) {
    SCOPED_TRACE(p.value);
    const std::string word = p.pppdWord;
    testing::internal::CaptureStdout();

    mgr.Set_pppoe_conf(p.value, p.value, p.value, p.value, p.value);
    runInDir(sh.take(), dir.path());
    EXPECT_TRUE(has("etc/options.pppoe", "noauth\nuser " + word + "\npassword " + word + "\nnomppe\n"));
    EXPECT_TRUE(has("etc/options.pppoe", "\nrp_pppoe_service " + word + "\nrp_pppoe_ac " + word + "\n"));
    EXPECT_FALSE(has("etc/options.pppoe", "\nmru"));
    EXPECT_FALSE(has("etc/options.pppoe", "\nmtu"));

    mgr.Set_pptp_conf(p.value, p.value, p.value, p.value, "1");
    runInDir(sh.take(), dir.path());
    EXPECT_TRUE(has("etc/options.pptp", "\nuser " + word + "\npassword " + word + "\nconnect true\nlock\n"));
    EXPECT_FALSE(has("etc/options.pptp", "pty"));
    EXPECT_FALSE(has("etc/options.pptp", "\nmtu"));

    mgr.Set_l2tp_conf(p.value, p.value, p.value, p.value);
    runInDir(sh.take(), dir.path());
    EXPECT_TRUE(has("etc/ppp/options.xl2tpd", "\nuser " + word + "\npassword " + word + "\nnoipdefault\n"));
    EXPECT_FALSE(has("etc/xl2tpd/xl2tpd.conf", "lns ="));
    bool oneLine = std::string(p.value).find('\n') == std::string::npos;
    EXPECT_EQ(has("etc/xl2tpd/xl2tpd.conf",
                  "\nrequire authentication = yes\nname = " + std::string(p.value) + "\nppp debug = no\n"),
              oneLine);
    EXPECT_EQ(has("etc/xl2tpd/xl2tpd.conf", "\nrequire authentication = yes\nppp debug = no\n"), !oneLine);

    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(dir.exists("CANARY"));
  }
}

}  // namespace
}  // namespace rc::test
