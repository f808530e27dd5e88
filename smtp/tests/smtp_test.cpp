// The SMTP client against a scripted server on the other end of a socket
// pair: the bytes on the wire, every step's expected code and message, the
// EHLO fallback, replies split across receives and the 10-second limit.
#include <arpa/inet.h>
#include <fcntl.h>

#include <cstring>

#include "script_server.h"

namespace rc::test {
namespace {

class Content : public SmtpContent {
 public:
  explicit Content(SmtpClient *&c) : client(c) {}
  int smtpSendHead() override { return client->sendRequest(head.data(), head.size()); }
  int smtpSendBody() override { return client->smtpSendData(body.c_str()); }
  SmtpClient *&client;
  std::string head = "Subject: t\r\n\r\n";
  std::string body = "line one\n.dot line\n";
};

class SmtpTest : public ::testing::Test {
 protected:
  SmtpTest() {
    client.domail = 1;
    strcpy(client.server_host, "10.250.0.1");
    strcpy(client.local_host, "testhost");
    strcpy(client.user_name, "router");
    strcpy(client.passwd, "mailpass");
    strcpy(client.from_mail, "router@isp.sim");
    strcpy(client.to_mail, "admin@isp.sim");
  }
  // Runs one mail against the script; stdout and stderr are captured.
  int run(std::vector<Reply> script) {
    ScriptServer server(io, std::move(script));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int r = client.transmit_message();
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    wire = server.received();
    return r;
  }

  PairSocket io;
  SmtpClient *self = &client;
  Content content{self};
  SmtpClient client{io, content, io};
  std::string out, err, wire;
};

const char kGoodWire[] =
    "EHLO testhost\r\n"
    "AUTH LOGIN cm91dGVy\r\n"
    "bWFpbHBhc3M=\r\n"
    "MAIL FROM:<router@isp.sim>\r\n"
    "RCPT TO:<admin@isp.sim>\r\n"
    "DATA\r\n"
    "Subject: t\r\n\r\n"
    "line one\r\n"
    "..dot line\r\n"
    "\r\n.\r\n"
    "QUIT\r\n";

TEST_F(SmtpTest, WholeMailOnTheWire) {
  EXPECT_EQ(run(kGoodAuth), 1);
  EXPECT_EQ(wire, kGoodWire);
  EXPECT_EQ(io.hosts, std::vector<std::string>{"10.250.0.1:25"});
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  EXPECT_EQ(client.fd(), -1);
}

TEST_F(SmtpTest, MultiLineEhloSplitAcrossReceives) {
  auto script = kGoodAuth;
  script[1] = {"250-isp.sim\r\n250-PIPE", "LINING\r\n250 AUTH LOGIN\r\n"};
  script[4] = {"250", " 2.1.0 Ok\r\n"};  // a final line split in its middle
  EXPECT_EQ(run(script), 1);
  EXPECT_EQ(wire, kGoodWire);
  EXPECT_EQ(err, "");
}

TEST_F(SmtpTest, EachStepFailsWithItsMessages) {
  struct Case {
    size_t reply;  // index in the script answered wrongly
    const char *stdoutText, *stderrText, *wireEnd;
  } cases[] = {
      {0, "smtp connect error.\n", "SMTP Server not available\n", ""},
      {2, "smtpSetAuthLogin command error.\n", "SMTP auth login/plain error\n",
       "AUTH LOGIN cm91dGVy\r\n"},
      {3, "smtpSetAuthLogin command error.\n", "Autherntication error\n", "bWFpbHBhc3M=\r\n"},
      {4, "smtpSetMailForm command error.\n", "SMTP Server error\n", "MAIL FROM:<router@isp.sim>\r\n"},
      {5, "smtpSetRcpt command error.\n", "SMTP Server error\n", "RCPT TO:<admin@isp.sim>\r\n"},
      {6, "smtpStartData command error.\n", "SMTP Server not ready for data\n", "DATA\r\n"},
      {7, "smtpEndData command error.\n", "SMTP Server error\n", "\r\n.\r\n"},
  };
  for (const auto &c : cases) {
    auto script = kGoodAuth;
    script[c.reply] = {"554 5.7.1 no\r\n"};
    script.resize(c.reply + 1);
    EXPECT_EQ(run(script), 0) << c.stdoutText;
    EXPECT_EQ(out, c.stdoutText);
    EXPECT_EQ(err, c.stderrText);
    // The attempt stops right after the refused command: no QUIT after it.
    std::string end = c.wireEnd;
    EXPECT_EQ(wire.substr(wire.size() - end.size()), end) << c.stdoutText;
    EXPECT_EQ(client.fd(), -1);
  }
}

TEST_F(SmtpTest, MailAcceptedAtEndOfDataCountsAsSentWhateverQuitGets) {
  // The answer to QUIT late (silence past the limit), refused, malformed, or a hang-up.
  for (const Reply &quit : {Reply{}, Reply{"554 5.7.1 no\r\n"}, Reply{"Bye\r\n"}, kHangUp}) {
    auto script = kGoodAuth;
    script[8] = quit;
    EXPECT_EQ(run(script), 1) << out;
    EXPECT_EQ(wire, kGoodWire);
    EXPECT_NE(out.find("smtpQuit command error.\n"), std::string::npos);  // still reported
    EXPECT_EQ(err, quit.empty() ? "" : "SMTP Server didn't terminate session\n");
  }
}

TEST_F(SmtpTest, RefusedEhloGetsHeloWithoutAuth) {
  std::vector<Reply> script = {{"220 old\r\n"}, {"502 5.5.2 unknown\r\n"}, {"250 old\r\n"},
                               {"250 ok\r\n"},  {"250 ok\r\n"},            {"354 go\r\n"},
                               {"250 ok\r\n"},  {"221 bye\r\n"}};
  EXPECT_EQ(run(script), 1);
  EXPECT_EQ(wire,
            "EHLO testhost\r\nHELO testhost\r\nMAIL FROM:<router@isp.sim>\r\n"
            "RCPT TO:<admin@isp.sim>\r\nDATA\r\nSubject: t\r\n\r\nline one\r\n..dot line\r\n"
            "\r\n.\r\nQUIT\r\n");
  EXPECT_EQ(out, "smtpEhlo command error.\n");
  EXPECT_EQ(err, "SMTP Server error\n");
}

TEST_F(SmtpTest, RefusedHelo) {
  EXPECT_EQ(run({{"220 old\r\n"}, {"502 no\r\n"}, {"501 no\r\n"}}), 0);
  EXPECT_EQ(out, "smtpEhlo command error.\nsmtpInit command error.\n");
}

TEST_F(SmtpTest, TenSecondsOfSilenceEndTheAttempt) {
  auto script = kGoodAuth;
  script[4] = {};  // no answer to MAIL FROM
  EXPECT_EQ(run(script), 0);
  EXPECT_EQ(out,
            "Timeout(10) while trying to read from SMTP server\nreadResponse failed\n"
            "smtpSetMailForm command error.\n");
  EXPECT_EQ(io.waits.back(), 10000);
}

TEST_F(SmtpTest, TheLimitCoversTheWholeReply) {
  // The first line came after 4 s (on the test's clock): the rest gets 6 s.
  struct SlowSocket : PairSocket {
    ssize_t receive(int f, char *b, size_t n) override {
      now += 4000;
      return PairSocket::receive(f, b, n);
    }
  };
  SlowSocket slow;
  SmtpClient c(slow, content, slow);
  ScriptServer server(slow, {{"220-first\r\n", "220 second\r\n"}});
  EXPECT_GE(c.smtpConnect("host1", 25), 0);
  EXPECT_EQ(slow.waits, (std::vector<int>{10000, 6000}));
  c.smtpDisconnect();
}

TEST_F(SmtpTest, OverlongReplyLineStaysBounded) {
  auto script = kGoodAuth;
  script[1] = {"250-" + std::string(3000, 'x') + "\r\n250 AUTH LOGIN\r\n"};
  EXPECT_EQ(run(script), 1);
}

TEST_F(SmtpTest, NothingIsSentWhenOffOrWithoutServer) {
  client.domail = 0;
  EXPECT_EQ(client.transmit_message(), 0);
  client.domail = 1;
  strcpy(client.server_host, "mail");  // 4 characters
  EXPECT_EQ(client.transmit_message(), 0);
  EXPECT_TRUE(io.hosts.empty());
}

TEST_F(SmtpTest, LongCredentialsAreRefusedNotCut) {
  std::string u45(45, 'u');
  strcpy(client.user_name, u45.c_str());
  EXPECT_EQ(run(kGoodAuth), 1);
  std::string u46(46, 'u');
  strcpy(client.user_name, u46.c_str());
  auto script = kGoodAuth;
  script.resize(2);
  EXPECT_EQ(run(script), 0);
  EXPECT_EQ(out, "smtp: user name or password longer than 45 characters\nsmtpSetAuthLogin command error.\n");
  EXPECT_EQ(wire, "EHLO testhost\r\n");
}

TEST(SmtpConnect, GivesUpAfterTenSecondsAgainstAFullBacklog) {
  // A loopback listener that never accepts: once its one backlog place is
  // taken the kernel drops further SYNs, and a connect stays pending.
  struct Net : SmtpSocket {  // then a wait only looks, as if its 10 s had passed
    int waitWritable(int fd, int ms) override {
      waits.push_back(ms);
      return SmtpSocket::waitWritable(fd, waits.size() > 1 ? 0 : ms);
    }
    std::vector<int> waits;
  } net;
  int l = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof sa;
  ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&sa), len) | listen(l, 0), 0);
  getsockname(l, reinterpret_cast<sockaddr *>(&sa), &len);
  int first = net.connectTo("127.0.0.1", ntohs(sa.sin_port));
  ASSERT_GE(first, 0);
  ASSERT_EQ(net.waits.size(), 1u);
  EXPECT_EQ(fcntl(first, F_GETFL) & O_NONBLOCK, 0);  // the exchange itself blocks
  ASSERT_EQ(net.waitReadable(l, -1), 1);              // the first connection fills the backlog
  testing::internal::CaptureStdout();
  EXPECT_EQ(net.connectTo("127.0.0.1", ntohs(sa.sin_port)), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "connect error\n");
  EXPECT_EQ(net.waits, (std::vector<int>{10000, 10000}));
  close(first);
  close(l);
}

TEST(Base64, Rfc4648Vectors) {
  const char *vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                              {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (auto &v : vectors) {
    char out[16];
    EXPECT_TRUE(base64Encode(v[0], out, sizeof out));
    EXPECT_STREQ(out, v[1]);
  }
  char small[4];
  EXPECT_FALSE(base64Encode("foo", small, sizeof small));  // 4 characters and the NUL
  EXPECT_STREQ(small, "");
}

TEST_F(SmtpTest, WireFormOfMailText) {
  struct Case {
    const char *text, *wire;
  } cases[] = {
      {"a\nb\n", "a\r\nb\r\n"},
      {"a\r\nb\n", "a\r\nb\r\n"},
      {".\n", "..\r\n"},
      {"x\n.\nend\n", "x\r\n..\r\nend\r\n"},
      {"..two\n", "...two\r\n"},
      {"\n.x", "\r\n..x"},
      {"mid.dot\n", "mid.dot\r\n"},
      {"a\rb\r", "a\r\nb\r\n"},
      {"x\r.\r\ny\n", "x\r\n..\r\ny\r\n"},  // the bare-CR end-of-data form stays text
  };
  for (const auto &c : cases) {
    ScriptServer server(io, {{"220 x\r\n"}});
    ASSERT_GE(client.smtpConnect("host1", 25), 0);
    EXPECT_GE(client.smtpSendData(c.text), 0);
    client.smtpDisconnect();
    EXPECT_EQ(server.received(), c.wire) << c.text;
  }
  // A long text goes out whole through the staging buffer.
  std::string many;
  for (int i = 0; i < 500; ++i) many += ".record " + std::to_string(i) + "\n";
  ScriptServer server(io, {{"220 x\r\n"}});
  ASSERT_GE(client.smtpConnect("host1", 25), 0);
  EXPECT_GE(client.smtpSendData(many.c_str()), 0);
  client.smtpDisconnect();
  std::string want;
  for (int i = 0; i < 500; ++i) want += "..record " + std::to_string(i) + "\r\n";
  EXPECT_EQ(server.received(), want);
  EXPECT_EQ(client.smtpSendData(""), -1);  // nothing to send is a failure
}

}  // namespace
}  // namespace rc::test
