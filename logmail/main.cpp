// logmail: builds the production services and runs the system-log mailer.
#include <cstdlib>

#include "common/ipc.h"
#include "common/shell.h"
#include "logmail/logmail.h"

int main() {
  rc::stdio_line_buffered();
  static rc::NvramStore store;
  static rc::SystemClock clock;
  static rc::SmtpSocket net;
  // Tests shorten the minutes of "email_time"; the router never sets this.
  const char *minute = getenv("LOGMAIL_MINUTE_SECONDS");
  int minuteSeconds = minute && atoi(minute) > 0 ? atoi(minute) : 60;
  static rc::LogMail mail({store, clock, net, minuteSeconds});

  mail.start();
  mail.nmsgid = rc::open_cmd_queue(rc::LogMail::kQueueKey);
  if (mail.nmsgid < 0) exit(0);
  void *ring = nullptr;
  if (rc::createshm(&mail.nshmid, rc::kRingKey, sizeof(rc::syslog_ring), &ring, false) < 0) ring = nullptr;
  mail.logshmptr = static_cast<const rc::syslog_ring *>(ring);
  rc::run_sleep_loop(mail.nmsgid, mail, clock);
}
