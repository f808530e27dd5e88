// Every key the firewall manager reads so far holds a shell injection: the
// recorded command lines, run through /bin/sh with only `touch` on the
// path, never create the canary file.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "fixture.h"

namespace rc::test {
namespace {

using InjectionTest = FwMgrTest;

TEST_F(InjectionTest, NoStoreValueReachesTheShellUnquoted) {
  const std::string canary = dir / "canary";
  const std::string bin = dir / "bin";
  dir.write("bin/.keep", "");
  ASSERT_EQ(symlink("/usr/bin/touch", (bin + "/touch").c_str()) == 0 ||
                symlink("/bin/touch", (bin + "/touch").c_str()) == 0,
            true);
  const std::string t = "touch " + canary;
  const std::string evil = "x$(" + t + ")`" + t + "`;" + t + "&&" + t + "|" + t;
  // Field values without the list delimiters (";", "~", "-", ","), so they
  // survive the record split and reach the checks.
  const std::string evilField = "$(" + t + ")`" + t + "`";
  const std::string days = "0:0-0:0;1;1;1;1;1;1;1;";
  store.set("lan_ip", "192.168.0.1" + evil);
  store.set("lan_mask", evil);
  store.set("wan_connecttype", "1");
  store.set("wan_ip", "10.0.0.2" + evil);
  store.set("wan_mask", evil);
  store.set("upnpen", "1" + evil);
  store.set("alg_service", "0" + evil);
  store.set("virtualser_list", "1;8080;80;0;" + evilField + ";1,1;80" + evilField + ";80;0;192.168.0.2;1,1;" +
                                   evil + ",1;81;81;" + evilField + ";192.168.0.3;1");
  store.set("dmzen", "1");
  store.set("dmzip", evil);
  store.set("client_filter_en", "1" + evil);
  store.set("client_filter_num", "3" + evil);
  store.set("client_filter_0", "0;" + evilField + "-192.168.0.3;80-80;0;" + days + "~0;192.168.0.2-" +
                                   evilField + ";80-80;0;" + days + "~1" + evil + ";192.168.0.2-192.168.0.3;" +
                                   "80-80;0;" + days);
  store.set("url_filter_en", "1");
  store.set("url_filter_num", "2");
  store.set("url_filter_0", "0;192.168.0.2-192.168.0.3;a," + evilField + ",b;" + days + "~0;" + evilField +
                                "-192.168.0.3;qq;" + days);
  store.set("mac_filter_en", "1");
  store.set("mac_filter_num", "2");
  store.set("mac_filter_0", "0;" + evilField + ";" + days + "~0;00:11:22:33:44:55 " + t + ";" + days);

  store.set("ipbindenable", "1");
  store.set("otherenable", "1" + evil);
  store.set("ipbindnum", "2");
  store.set("ipbindlist0", "192.168.0.2;" + evilField + ";~" + evilField + ";00:11:22:33:44:55;");
  store.set("qos_enable", "1");
  store.set("qos_num", "2");
  store.set("qoslist0", "192.168.0.2-192.168.0.3;0-64" + evilField + ";0-256;1;1~" + evilField +
                            "-192.168.0.3;0-64;0-256;0;1");
  store.set("lan_attack_defence", "1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1" + evil);
  store.set("qqip", "192.168.0.2," + evil);
  store.set("msnip", evil);
  store.set("webipen", "1");
  store.set("webip", evil);
  store.set("webport", "8080" + evil);
  store.set("wanweben", "1");
  store.set("wanwebip", evil);
  store.set("wanwebport", "8080" + evil);
  store.set("ddns_en", "1");
  store.set("ddns_type", "2");
  // At most 31 characters: the commands run in the directory of the canary.
  store.set("ddns_user", "x$(touch canary);touch canary");
  store.set("ddns_pwd", "`touch canary`'");
  store.set("ddns_domain", "example.net");
  store.set("dnsen", "1");
  store.set("dns_dns1", evil);
  store.set("dns_dns2", evil);
  store.set("natlimit_list", evil + ";" + evil + ";1;2");
  store.set("static_route_0", "10.0.0.0;255.0.0.0;" + evil);
  store.set("static_route_1", evil + ";255.0.0.0;10.0.0.1");
  dir.write("etc/resolv.conf", "nameserver " + evilField + "\n");

  testing::internal::CaptureStdout();
  mgr.start();
  for (long cmd : {2L, 4L, 5L, 7L, 8L, 9L, 10L, 11L, 12L, 13L, 14L, 15L, 16L, 17L, 18L}) {
    mgr.onCommand(cmd);
    mgr.onTick();
  }
  mgr.onCommand(3);
  std::string out = testing::internal::GetCapturedStdout();
  std::vector<std::string> lines = sh.take();
  // Not vacuous: the URL record with valid addresses reached a command line.
  bool quotedKeywords = false;
  for (const auto &l : lines) quotedKeywords = quotedKeywords || l.find("--src-groupurl 'a~$(") != std::string::npos;
  EXPECT_TRUE(quotedKeywords);
  // ... and so did the DDNS client with its quoted credentials.
  bool ddns = false;
  for (const auto &l : lines) ddns = ddns || l.compare(0, 12, "D: inadyn -u") == 0;
  EXPECT_TRUE(ddns);
  EXPECT_NE(out.find("refused"), std::string::npos);
  EXPECT_NE(out.find("dropped"), std::string::npos);

  for (const auto &r : lines) {
    // Lines such as "echo 0 > /etc/ddns" must not write the host's files:
    // a redirection to an absolute path other than /dev goes below the test
    // directory instead (where the directory is missing, the write fails).
    // No payload holds a '>', so none is changed by this.
    std::string line = r.substr(r.find(": ") + 2);
    for (size_t p = 0; (p = line.find('>', p)) != std::string::npos; ++p) {
      size_t q = line.find_first_not_of(" >", p);
      if (q != std::string::npos && line[q] == '/' && line.compare(q, 5, "/dev/") != 0) line.insert(q, ".");
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (chdir(dir.path().c_str()) != 0) _exit(126);
      std::string path = "PATH=" + bin;
      char *env[] = {const_cast<char *>(path.c_str()), nullptr};
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      dup2(devnull, 2);
      execle("/bin/sh", "sh", "-c", line.c_str(), static_cast<char *>(nullptr), env);
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_FALSE(dir.exists("canary")) << "ran an injected command: " << r;
    if (dir.exists("canary")) unlink(canary.c_str());
  }
}

}  // namespace
}  // namespace rc::test
