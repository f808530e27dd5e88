// logmail: builds the production services and runs the system-log mailer.
#include "logmail/logmail.h"

int main() {
  static const rc::Forever<rc::SystemServices> sys(rc::kNoShell);  // logmail runs no command line
  static rc::Forever<rc::SmtpSocket> net;
  static rc::Forever<rc::LogMail> mail(sys->services(), *net, rc::LogMail::minuteSecondsFromEnvironment());
  return rc::run_daemon(*mail, rc::LogMail::kDaemon, sys->services());
}
