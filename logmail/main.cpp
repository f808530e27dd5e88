// logmail: builds the production services and runs the system-log mailer.
#include "logmail/logmail.h"

int main() {
  static rc::PosixShell sh;
  static const rc::SystemServices sys(sh);
  static rc::SmtpSocket net;
  static rc::LogMail mail(sys.services(), net, rc::LogMail::minuteSecondsFromEnvironment());
  return rc::run_daemon(mail, rc::LogMail::kDaemon, sys.services());
}
