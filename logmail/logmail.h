// logmail, the system-log mailer: once a second it looks into the system-log
// ring that netmgr writes (segment 205), turns the records not yet mailed
// into a plain-text table and mails them with the SMTP client when enough
// have gathered or the interval has run out. Command 1 on queue 210 makes it
// read its settings again.
//
// Process-wide state lives in this object under its documented names; the
// SMTP settings (domail, server_host, user_name, ...) live in `smtp`, which
// the mailer fills. The store, the clock and the network are services.
#pragma once
#include <sys/types.h>

#include <cstddef>

#include "common/abi/syslog_ring.h"
#include "common/daemon.h"
#include "common/services.h"
#include "smtp/smtp.h"

namespace rc {

class LogMail : public Daemon, public SmtpContent {
 public:
  static constexpr key_t kQueueKey = 210;
  static constexpr size_t kBodySize = 32768;
  static constexpr size_t kHeadSize = 512;
  // Longest wait between two failed mails, in seconds.
  static constexpr int kMaxBackoff = 300;

  // The start wait (grace for netmgr), the start-up, queue 210, the ring,
  // then the sleep loop.
  static constexpr DaemonSpec kDaemon{kQueueKey, DaemonSpec::kStartWait, DaemonSpec::kSleep, nullptr};

  // minuteSeconds: seconds in a minute of "email_time", 60 but in tests.
  LogMail(const Services &s, SmtpSocket &net, int minuteSeconds = 60);
  // LOGMAIL_MINUTE_SECONDS when it is a number above 0 (tests shorten the
  // minutes with it; the router never sets it), else 60.
  static int minuteSecondsFromEnvironment();

  // Start: the SMTP host name, then the settings.
  void start();

  bool onStart() override {
    start();
    return true;
  }
  // The ring (segment 205), attached as it is; created empty without netmgr.
  void onQueue() override;

  void onCommand(long cmd) override;  // 1: re-read the settings
  void onTick() override;             // the sending rule, once a second

  void readmailconfig();
  // Puts the records from currsendindex up to the ring's `next` into body
  // (kBodySize bytes) as table lines; returns how many went in. Records that
  // do not fit stay for the next mail.
  int getlogbuffer(char *body);
  // The header block of the mail; returns its length.
  size_t mailHead(char (&out)[kHeadSize]);
  // "Tue, 08 Dec 2026 10:22:42 +0800": local time and the zone of `tzone`
  // (index 12 is +0000; indexes below 0 or above 26 give -1200 or +1400).
  void dateText(char (&out)[40]);

  int smtpSendHead() override;
  int smtpSendBody() override;

  // --- Process-wide state, under its documented names ---
  SmtpClient smtp;
  int timeen = 0;       // the interval rule is on
  int sendTime = 0;     // the interval, minutes
  int numen = 0;        // read but not consulted by the sending rule
  int sendRecords = 0;  // the record-count threshold
  int tzone = 0;        // time-zone index of the Date header
  int currsendindex = 0;
  long seconds = 0;     // since the start, the last reload or the last mail
  const syslog_ring *logshmptr = nullptr;
  int nshmid = -1;
  // Failed mails wait 1, 2, 4 ... kMaxBackoff s before the next try.
  int backoff = 1;
  int holdoff = 0;  // passes still to wait
  bool bodyFull = false;  // the last getlogbuffer left records out
  char syslogbuf[kBodySize] = "";

 private:
  void mailSent(int n);
  void mailFailed();

  Services s_;
  int minuteSeconds_;
  char slotcopy_[kRingSlotSize] = "";  // the record being added to the body
  char scratch_[64] = "";
};

// The GBK words of the table heading (shown here in UTF-8): 时间 (time),
// 类型 (type), 内容 (content).
extern const char kWordTime[];
extern const char kWordType[];
extern const char kWordContent[];

}  // namespace rc
