// The sending rule over whole passes: what goes out when, against a scripted
// mail server; the index advances only for mails that went out; failures
// back off; command 1 re-reads the settings.
#include "fixture.h"

namespace rc::test {
namespace {

std::string startLine() { return " 2023-11-14 22:13:20 system " + started() + "\r\n"; }

// The body as it went over the wire in a received mail.
std::string bodyOf(const std::string &wire) {
  size_t from = wire.find("+\r\n", wire.find("|       ")) + 3;
  size_t to = wire.find("\r\n.\r\n", from);
  return wire.substr(from, to - from);
}

TEST_F(LogMailTest, EachMailHoldsOnlyNewerRecords) {
  addRecord(started());
  EXPECT_EQ(passes(1), 1u);
  addRecord("kernel: second");
  addRecord("third");
  EXPECT_EQ(passes(3), 1u);  // both in one pass, then nothing new
  auto mails = net.mails();
  ASSERT_EQ(mails.size(), 2u);
  std::string prefix =
      "EHLO testhost\r\nAUTH LOGIN cm91dGVy\r\nbWFpbHBhc3M=\r\nMAIL FROM:<router@isp.sim>\r\n"
      "RCPT TO:<admin@isp.sim>\r\nDATA\r\nSubject: ORBEX K5 Router System Log\r\n";
  EXPECT_EQ(mails[0].substr(0, prefix.size()), prefix);
  EXPECT_EQ(bodyOf(mails[0]), startLine());
  std::string tail = startLine() + "\r\n.\r\nQUIT\r\n";
  EXPECT_EQ(mails[0].substr(mails[0].size() - tail.size()), tail);
  EXPECT_EQ(bodyOf(mails[1]),
            " 2023-11-14 22:13:20 system second\r\n 2023-11-14 22:13:20 system third\r\n");
  EXPECT_EQ(mail.currsendindex, 3);
}

TEST_F(LogMailTest, CountRuleWaitsForEnoughRecords) {
  store.set("email_num", "3");
  mail.onCommand(1);
  addRecord("a");
  addRecord("b");
  EXPECT_EQ(passes(5), 0u);
  addRecord("c");
  EXPECT_EQ(passes(1), 1u);
  EXPECT_EQ(mail.currsendindex, 3);
}

TEST_F(LogMailTest, NoMailWithoutNewRecords) {
  store.set("email_num", "0");
  mail.onCommand(1);
  EXPECT_EQ(passes(10), 0u);
  addRecord("a");
  EXPECT_EQ(passes(1), 1u);
  EXPECT_EQ(passes(10), 0u);
}

TEST_F(LogMailTest, IntervalRuleMailsWhenTheTimeHasRunOut) {
  store.set("email_num", "5");
  store.set("email_timeen", "1");
  store.set("email_time", "2");
  mail.onCommand(1);
  EXPECT_EQ(passes(130), 0u);  // interval over, but nothing to mail
  addRecord("a");
  EXPECT_EQ(passes(1), 1u);
  addRecord("b");
  EXPECT_EQ(passes(119), 0u);  // the counter restarted with the mail
  EXPECT_EQ(passes(1), 1u);
  EXPECT_EQ(bodyOf(net.mails()[1]), " 2023-11-14 22:13:20 system b\r\n");
}

TEST_F(LogMailTest, FailuresBackOffAndKeepTheRecords) {
  net.refuse = true;
  addRecord("a");
  std::vector<int> tries;
  for (int pass = 0; pass < 64; ++pass)
    if (passes(1)) tries.push_back(pass);
  EXPECT_EQ(tries, (std::vector<int>{0, 1, 3, 7, 15, 31, 63}));
  passes(450);  // tries at 127, 255 and 511: the wait has reached its cap
  EXPECT_EQ(mail.backoff, LogMail::kMaxBackoff);
  EXPECT_EQ(mail.currsendindex, 0);
  // The server is back: the next try comes only when the wait is over ...
  net.refuse = false;
  addRecord("b");
  EXPECT_EQ(passes(mail.holdoff), 0u);
  EXPECT_EQ(passes(1), 1u);
  EXPECT_EQ(bodyOf(net.mails()[0]),
            " 2023-11-14 22:13:20 system a\r\n 2023-11-14 22:13:20 system b\r\n");
  EXPECT_EQ(mail.backoff, 1);
}

TEST_F(LogMailTest, WrongPasswordThenCommandOneSendsEverything) {
  net.script = kGoodAuth;
  net.script[3] = {"535 5.7.8 Error: authentication failed\r\n"};
  net.script.resize(4);
  addRecord("a");
  EXPECT_EQ(passes(10), 4u);  // passes 0, 1, 3 and 7
  addRecord("b");
  net.script = kGoodAuth;
  store.set("email_pwd", "mailpass");
  mail.onCommand(1);
  EXPECT_EQ(passes(1), 1u);
  auto mails = net.mails();
  EXPECT_EQ(bodyOf(mails.back()),
            " 2023-11-14 22:13:20 system a\r\n 2023-11-14 22:13:20 system b\r\n");
  EXPECT_EQ(mail.currsendindex, 2);
}

TEST_F(LogMailTest, CommandOneCanTurnMailingOff) {
  store.set("email_en", "0");
  mail.onCommand(1);
  addRecord("a");
  EXPECT_EQ(passes(5), 0u);
  mail.onCommand(7);  // unknown: ignored
  EXPECT_EQ(passes(1), 0u);
  store.set("email_en", "1");
  mail.onCommand(1);
  EXPECT_EQ(passes(1), 1u);
}

TEST_F(LogMailTest, ControlCharactersInSettingsKeepMailingOff) {
  store.set("email_from", "router@isp.sim>\r\nRCPT TO:<other@isp.sim");
  store.set("email_user", "router\n");
  testing::internal::CaptureStdout();
  mail.onCommand(1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "logmail: email_from holds a control character; no mail is sent\n"
            "logmail: email_user holds a control character; no mail is sent\n");
  addRecord("a");
  EXPECT_EQ(passes(3), 0u);
  store.set("email_from", "router@isp.sim");
  store.set("email_user", "router");
  mail.onCommand(1);
  EXPECT_EQ(passes(1), 1u);
}

TEST_F(LogMailTest, StartReadsTheSettings) {
  store.set("email_server", "mail.isp.sim");
  store.set("email_num", "7");
  store.set("email_numen", "1");
  mail.start();
  EXPECT_TRUE(clock.sleeps.empty());  // the start wait is the skeleton's
  EXPECT_STREQ(mail.smtp.local_host, "testhost");
  EXPECT_STREQ(mail.smtp.server_host, "mail.isp.sim");
  EXPECT_EQ(mail.sendRecords, 7);
  EXPECT_EQ(mail.numen, 1);
  EXPECT_EQ(mail.tzone, 20);
  EXPECT_FALSE(store.isOpen());
}

}  // namespace
}  // namespace rc::test
