// logmail start-up, settings, command 1 and the sending rule.
#include "logmail/logmail.h"

#include <cstdio>
#include <cstdlib>

#include "common/bstr.h"

namespace rc {

LogMail::LogMail(const Services &s, SmtpSocket &net, int minuteSeconds)
    : smtp(net, *this, s.clock), s_(s), minuteSeconds_(minuteSeconds) {}

int LogMail::minuteSecondsFromEnvironment() {
  const char *minute = getenv("LOGMAIL_MINUTE_SECONDS");
  return minute && atoi(minute) > 0 ? atoi(minute) : 60;
}

void LogMail::start() {
  bcopy_text(smtp.local_host, "testhost");
  currsendindex = 0;
  readmailconfig();
}

void LogMail::onQueue() {
  void *ring = nullptr;
  if (s_.ipc.createshm(&nshmid, kRingKey, sizeof(syslog_ring), &ring, false) < 0) ring = nullptr;
  logshmptr = static_cast<const syslog_ring *>(ring);
}

namespace {

// Values that reach the SMTP wire or the header must not carry line breaks
// or other control bytes: a CR LF in an address would end the command and
// smuggle in another one. Prints the reason for a value that does.
bool wireSafe(const char *key, const char *value) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(value); *p; ++p) {
    if (*p < 0x20 || *p == 0x7f) {
      printf("logmail: %s holds a control character; no mail is sent\n", key);
      return false;
    }
  }
  return true;
}

}  // namespace

void LogMail::readmailconfig() {
  ConfigStore &c = s_.cfm;
  auto number = [&](const char *key) {
    c.GetCfmValue(key, scratch_);
    return atoi(scratch_);
  };
  c.Init_vxm810_cfm();
  c.GetCfmValue("email_from", smtp.from_mail);
  c.GetCfmValue("email_to", smtp.to_mail);
  c.GetCfmValue("email_server", smtp.server_host);
  c.GetCfmValue("email_user", smtp.user_name);
  c.GetCfmValue("email_pwd", smtp.passwd);
  smtp.domail = number("email_en");
  timeen = number("email_timeen");
  sendTime = number("email_time");
  numen = number("email_numen");
  sendRecords = number("email_num");
  tzone = number("timezone");
  c.CloseCfm();
  // Every bad value is reported, not only the first.
  int unsafe = !wireSafe("email_from", smtp.from_mail);
  unsafe += !wireSafe("email_to", smtp.to_mail);
  unsafe += !wireSafe("email_server", smtp.server_host);
  unsafe += !wireSafe("email_user", smtp.user_name);
  unsafe += !wireSafe("email_pwd", smtp.passwd);
  if (unsafe) smtp.domail = 0;
}

void LogMail::onCommand(long cmd) {
  if (cmd != 1) return;
  readmailconfig();
  seconds = 0;
  backoff = 1;  // new settings deserve a try at once
  holdoff = 0;
}

void LogMail::mailSent(int n) {
  seconds = 0;
  currsendindex = (currsendindex + n) % kRingSlots;
  backoff = 1;
  holdoff = 0;
}

void LogMail::mailFailed() {
  // The records stay pending; the next try waits, each time twice as long.
  holdoff = backoff - 1;
  printf("logmail: mail not sent; next try in %d s\n", backoff);
  fflush(stdout);
  backoff = backoff * 2 > kMaxBackoff ? kMaxBackoff : backoff * 2;
}

void LogMail::onTick() {
  if (smtp.domail) {
    if (holdoff > 0) {
      holdoff--;
    } else {
      int n = getlogbuffer(syslogbuf);
      bool intervalOver = timeen && seconds >= static_cast<long>(sendTime) * minuteSeconds_;
      // A full body goes out at once: its records cannot wait for more.
      bool due = intervalOver || n >= sendRecords || bodyFull;
      // With no new record there is nothing to mail, whatever the rule.
      if (n > 0 && due) {
        if (smtp.transmit_message() == 1)
          mailSent(n);
        else
          mailFailed();
      }
    }
  }
  seconds++;
}

}  // namespace rc
