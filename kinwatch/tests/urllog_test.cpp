// /var/url.log: the counter rule, the fresh log, the lines and their batches.
#include <signal.h>
#include <sys/resource.h>

#include "fixture.h"

namespace rc::test {
namespace {

using UrlLogTest = KinWatchTest;

TEST_F(UrlLogTest, CounterGrowsToFiveHundredOneThenTheLogStartsAfresh) {
  ASSERT_EQ(kw.createLogFile(), 0);
  EXPECT_EQ(log(), "000\n");
  char slots[3][KinWatch::kSlotSize] = {"a\n", "b\n", "c\n"};
  for (int batch = 1; batch <= 167; ++batch) ASSERT_EQ(kw.writeTofile(3, slots), 0);
  std::string full = log();
  EXPECT_EQ(full.substr(0, 4), "501\n");
  EXPECT_EQ(full.size(), 4u + 167 * 6);
  // The 168th batch empties the log and is counted in the fresh one.
  char next[3][KinWatch::kSlotSize] = {"x\n", "y\n", "z\n"};
  ASSERT_EQ(kw.writeTofile(3, next), 0);
  EXPECT_EQ(log(), "003\nx\ny\nz\n");
  ASSERT_EQ(kw.writeTofile(3, slots), 0);
  EXPECT_EQ(log(), "006\nx\ny\nz\na\nb\nc\n");
}

TEST_F(UrlLogTest, DamagedCounterLineStartsAFreshLogInsteadOfOverwritingARecord) {
  dir.write("var/url.log", "7\nold;line\n");
  char slots[3][KinWatch::kSlotSize] = {"a\n", "b\n", "c\n"};
  ASSERT_EQ(kw.writeTofile(3, slots), 0);
  EXPECT_EQ(log(), "003\na\nb\nc\n");
}

TEST_F(UrlLogTest, MissingLogLosesTheBatchWithItsMessage) {
  char slots[3][KinWatch::kSlotSize] = {"a\n", "b\n", "c\n"};
  EXPECT_EQ(kw.writeTofile(3, slots), -1);
  EXPECT_FALSE(dir.exists("var/url.log"));
}

// A file system that takes no more bytes (here a file size limit): the batch
// is reported lost and the log stays as it was, its counter matching its
// lines, instead of counting lines that never arrived.
TEST_F(UrlLogTest, FailedAppendIsReportedAndLeavesTheLogWhole) {
  // Old lines long enough that the limit leaves room for the captured output.
  const std::string old1(100, '1'), old2(100, '2');
  const std::string before = "002\n" + old1 + "\n" + old2 + "\n";
  dir.write("var/url.log", before);
  char slots[3][KinWatch::kSlotSize] = {"aaaaaaaaaaaaaaaaaaaa\n", "bbbbbbbbbbbbbbbbbbbb\n",
                                        "cccccccccccccccccccc\n"};
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = before.size() + 10;  // the old lines and part of the first new one
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  testing::internal::CaptureStdout();
  int r = kw.writeTofile(3, slots);
  std::string out = testing::internal::GetCapturedStdout();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(out, "writeTofile: cannot write /var/url.log: File too large\n");
  EXPECT_EQ(log(), before);
  // Room again: the next batch goes in.
  ASSERT_EQ(kw.writeTofile(3, slots), 0);
  EXPECT_EQ(log().substr(0, 4), "005\n");
}

TEST_F(UrlLogTest, RepeatsOfASiteByTheSameHostGiveOneLine) {
  ASSERT_EQ(kw.createLogFile(), 0);
  take(record("192.168.0.100", "www.example.com") + record("192.168.0.100", "mail.example.com") +
       record("192.168.0.101", "mail.example.com") + record("192.168.0.100", "www.example.org"));
  EXPECT_EQ(log(),
            "003\n"
            "1970-01-01 00:00:00;192.168.0.100;www.example.com\n"
            "1970-01-01 00:00:00;192.168.0.101;mail.example.com\n"
            "1970-01-01 00:00:00;192.168.0.100;www.example.org\n");
}

TEST_F(UrlLogTest, AnotherHostInBetweenLogsTheSameNameAgain) {
  ASSERT_EQ(kw.createLogFile(), 0);
  clock.set(86400 + 3600 + 61);
  take(record("192.168.0.100", "www.example.com") + record("192.168.0.101", "www.example.com") +
       record("192.168.0.100", "www.example.com"));
  EXPECT_EQ(log(),
            "003\n"
            "1970-01-02 01:01:01;192.168.0.100;www.example.com\n"
            "1970-01-02 01:01:01;192.168.0.101;www.example.com\n"
            "1970-01-02 01:01:01;192.168.0.100;www.example.com\n");
}

// Addresses with parts of one, two and three digits and zeros; the time of
// a line follows the clock from one record to the next.
TEST_F(UrlLogTest, LinesShowEveryAddressAndTheTimeOfTheirRecord) {
  ASSERT_EQ(kw.createLogFile(), 0);
  take(record("0.9.10.255", "a.com"));
  clock.set(59);
  take(record("100.20.3.0", "b.com"));
  clock.set(60);
  take(record("255.255.255.255", "c.com"));
  EXPECT_EQ(log(),
            "003\n"
            "1970-01-01 00:00:00;0.9.10.255;a.com\n"
            "1970-01-01 00:00:59;100.20.3.0;b.com\n"
            "1970-01-01 00:01:00;255.255.255.255;c.com\n");
}

TEST_F(UrlLogTest, ReadOfOneThousandBytesTakesSevenRecords) {
  ASSERT_EQ(kw.createLogFile(), 0);
  std::string recs;
  for (int i = 0; i < 8; ++i) recs += record(("10.0.0." + std::to_string(i + 1)).c_str(), "a.com");
  recs.resize(1000);  // 7 records and 76 bytes of the eighth
  take(recs);
  EXPECT_EQ(kw.slot, 1);  // two batches written, the seventh line waits
  EXPECT_EQ(log().substr(0, 4), "006\n");
  EXPECT_EQ(std::string(kw.urlRecord[0]), "1970-01-01 00:00:00;10.0.0.7;a.com\n");
  EXPECT_EQ(kw.lastIp, htonl(0x0a000007));
}

TEST_F(UrlLogTest, UnsafeNamesAreDroppedAndDoNotChangeTheLastHost) {
  ASSERT_EQ(kw.createLogFile(), 0);
  take(record("192.168.0.100", "www.example.com") + record("192.168.0.101", "a.com;<script>") +
       record("192.168.0.100", "mail.example.com"));
  EXPECT_EQ(kw.slot, 1);
  EXPECT_EQ(kw.lastIp, htonl(0xc0a80064));
}

TEST_F(UrlLogTest, LongNameKeepsItsRightEndAndTheNewline) {
  ASSERT_EQ(kw.createLogFile(), 0);
  std::string name = std::string(100, 'a') + ".example.com";  // 112 characters
  take(record("192.168.100.200", name));
  std::string line = kw.urlRecord[0];
  EXPECT_EQ(line.size(), 127u);
  EXPECT_EQ(line, "1970-01-01 00:00:00;192.168.100.200;" + name.substr(name.size() - 90) + "\n");
  EXPECT_STREQ(kw.lastUrl, name.c_str());
}

TEST_F(UrlLogTest, PassReadsTheKernelFile) {
  ASSERT_EQ(kw.createLogFile(), 0);
  kw.pass();  // no file yet: nothing
  dir.write("kernel/proc/dns_log2", "");
  kw.pass();
  EXPECT_EQ(kw.slot, 0);
  dir.write("kernel/proc/dns_log2", record("192.168.0.100", "a.com") + record("192.168.0.101", "b.com") +
                                        record("192.168.0.102", "c.com"));
  kw.pass();
  EXPECT_EQ(log(),
            "003\n"
            "1970-01-01 00:00:00;192.168.0.100;a.com\n"
            "1970-01-01 00:00:00;192.168.0.101;b.com\n"
            "1970-01-01 00:00:00;192.168.0.102;c.com\n");
}

}  // namespace
}  // namespace rc::test
