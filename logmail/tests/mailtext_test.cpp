// The mail's text: the GBK heading, the header block with its Date and the
// body table that getlogbuffer builds from the ring.
#include <cstring>

#include "fixture.h"

namespace rc::test {
namespace {

TEST(GbkTexts, MatchTheirChineseOriginals) {
  EXPECT_EQ(kWordTime, toGbk("时间"));
  EXPECT_EQ(kWordType, toGbk("类型"));
  EXPECT_EQ(kWordContent, toGbk("内容"));
}

std::string head(const std::string &date) {
  return "Subject: ORBEX K5 Router System Log\r\n"
         "From: \"router\" <router@isp.sim>\r\n"
         "To: admin@isp.sim\r\n"
         "Date: " + date + "\r\n"
         "Content-Type: text/plain; charset=GBK\r\n"
         "\r\n\r\n"
         "+------------------------------------------------------+\r\n"
         "|       " + toGbk("时间") + "        | " + toGbk("类型") + " |      " + toGbk("内容") +
         "                 |\r\n"
         "+------------------------------------------------------+\r\n";
}

TEST_F(LogMailTest, HeaderForEachZoneRule) {
  struct Case {
    const char *timezone, *date;
  } cases[] = {
      {"0", "Tue, 14 Nov 2023 22:13:20 -1200"},
      {"11", "Tue, 14 Nov 2023 22:13:20 -0100"},
      {"12", "Tue, 14 Nov 2023 22:13:20 +0000"},
      {"20", "Tue, 14 Nov 2023 22:13:20 +0800"},
      {"", "Tue, 14 Nov 2023 22:13:20 -1200"},
      {"2147483647", "Tue, 14 Nov 2023 22:13:20 +1400"},
      {"-2147483648", "Tue, 14 Nov 2023 22:13:20 -1200"},
  };
  for (const auto &c : cases) {
    store.set("timezone", c.timezone);
    mail.readmailconfig();
    char out[LogMail::kHeadSize];
    size_t len = mail.mailHead(out);
    EXPECT_EQ(std::string(out, len), head(c.date)) << "timezone " << c.timezone;
  }
  // The heading row is as wide as the rulers.
  std::string h = head("x");
  size_t row = h.find("|       ");
  EXPECT_EQ(h.find("\r\n", row) - row, 56u);
}

TEST_F(LogMailTest, LongestSettingsStillFitTheHeader) {
  std::string v63(63, 'v');
  for (const char *k : {"email_from", "email_to", "email_user"}) store.set(k, v63);
  mail.readmailconfig();
  char out[LogMail::kHeadSize];
  size_t len = mail.mailHead(out);
  EXPECT_EQ(std::string(out + len - 58, 58), "+------------------------------------------------------+\r\n");
}

TEST_F(LogMailTest, BodyFromCurrentIndexToNext) {
  addRecord(started());
  addRecord("kernel: eth2.2: link up");
  addRecord("syslog: restart");
  addRecord("kernel:x");  // no space after the prefix: cut all the same
  EXPECT_EQ(mail.getlogbuffer(mail.syslogbuf), 4);
  EXPECT_EQ(std::string(mail.syslogbuf),
            " 2023-11-14 22:13:20 system " + started() + "\n" +
                " 2023-11-14 22:13:20 system eth2.2: link up\n"
                " 2023-11-14 22:13:20 system restart\n"
                " 2023-11-14 22:13:20 system \n");
  mail.currsendindex = 2;
  EXPECT_EQ(mail.getlogbuffer(mail.syslogbuf), 2);
  EXPECT_EQ(std::string(mail.syslogbuf),
            " 2023-11-14 22:13:20 system restart\n 2023-11-14 22:13:20 system \n");
  mail.currsendindex = 4;  // s = w: nothing new
  EXPECT_EQ(mail.getlogbuffer(mail.syslogbuf), 0);
  EXPECT_STREQ(mail.syslogbuf, "");
}

TEST_F(LogMailTest, BodyWrapsAroundTheRing) {
  char msg[16];
  for (int i = 0; i < 260; ++i) {
    snprintf(msg, sizeof msg, "rec%d", i);
    addRecord(msg);
  }
  ASSERT_EQ(ring.next, 4);
  mail.currsendindex = 250;
  EXPECT_EQ(mail.getlogbuffer(mail.syslogbuf), 10);
  std::string want;
  for (int i : {250, 251, 252, 253, 254, 255, 256, 257, 258, 259})
    want += " 2023-11-14 22:13:20 system rec" + std::to_string(i) + "\n";
  EXPECT_EQ(mail.syslogbuf, want);
}

TEST_F(LogMailTest, RecordsThatDoNotFitStayPending) {
  // 256 records of the longest message: 135 bytes a line, 242 fit.
  std::string longest(106, 'm');
  for (int i = 0; i < 256; ++i) addRecord(longest);
  ASSERT_EQ(ring.next, 0);
  mail.currsendindex = 1;  // s > w: 255 pending
  EXPECT_EQ(mail.getlogbuffer(mail.syslogbuf), 242);
  EXPECT_EQ(strlen(mail.syslogbuf), 242u * 135u);
  EXPECT_TRUE(mail.bodyFull);
}

TEST_F(LogMailTest, BrokenRingBytesAreNotTrusted) {
  addRecord("ok");
  ring.next = 300;
  EXPECT_EQ(mail.getlogbuffer(mail.syslogbuf), 0);
  ring.next = 1;
  memset(ring.slot[0], 'z', kRingSlotSize);  // no NUL in the slot
  EXPECT_EQ(mail.getlogbuffer(mail.syslogbuf), 1);
  EXPECT_EQ(std::string(mail.syslogbuf), " zzzzzzzzzzzzzzzzzzz system " + std::string(106, 'z') + "\n");
  mail.logshmptr = nullptr;
  EXPECT_EQ(mail.getlogbuffer(mail.syslogbuf), 0);
}

}  // namespace
}  // namespace rc::test
