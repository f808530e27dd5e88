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

#include "common/cfm.h"
#include "common/clock.h"
#include "common/tick.h"
#include "common/abi/syslog_ring.h"
#include "smtp/smtp.h"

namespace rc {

struct MailServices {
  ConfigStore &cfm;
  Clock &clock;
  SmtpSocket &net;
  // Seconds in a minute of "email_time": 60, fewer only in tests.
  int minuteSeconds = 60;
};

class LogMail : public TickDaemon, public SmtpContent {
 public:
  static constexpr key_t kQueueKey = 210;
  static constexpr size_t kBodySize = 32768;
  static constexpr size_t kHeadSize = 512;
  // Longest wait between two failed mails, in seconds.
  static constexpr int kMaxBackoff = 300;

  explicit LogMail(const MailServices &s);

  // Start: 5 s of grace for netmgr, then the settings.
  void start();

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
  int nmsgid = -1, nshmid = -1;
  // Failed mails wait 1, 2, 4 ... kMaxBackoff s before the next try.
  int backoff = 1;
  int holdoff = 0;  // passes still to wait
  bool bodyFull = false;  // the last getlogbuffer left records out
  char syslogbuf[kBodySize] = "";

 private:
  void mailSent(int n);
  void mailFailed();

  MailServices s_;
  char slotcopy_[kRingSlotSize] = "";  // the record being added to the body
  char scratch_[64] = "";
};

// The GBK words of the table heading (shown here in UTF-8): 时间 (time),
// 类型 (type), 内容 (content).
extern const char kWordTime[];
extern const char kWordType[];
extern const char kWordContent[];

}  // namespace rc
