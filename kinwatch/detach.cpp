// The logger's process set-up: background, SIGTERM ends it, the other
// asynchronous signals are taken and ignored.
#include "kinwatch/detach.h"

#include <unistd.h>

#include <cstring>

namespace rc {

volatile sig_atomic_t kinwatch_run = 1;

namespace {

void onTerm(int) { kinwatch_run = 0; }
void onIgnored(int) {}

void install(int sig, void (*fn)(int)) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = fn;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: SIGTERM must end the 5-second wait and a blocked read.
  sigaction(sig, &sa, nullptr);
}

}  // namespace

void kinwatch_detach() {
  if (daemon(1, 1) < 0) perror("daemon");
  install(SIGTERM, onTerm);
  // Taken and ignored. The synchronous fault signals (SIGSEGV, SIGBUS,
  // SIGILL, SIGFPE, SIGTRAP, SIGSYS) keep their default action: a handler
  // that returned would repeat the fault forever.
  const int ignored[] = {SIGHUP,  SIGQUIT, SIGABRT, SIGALRM, SIGPIPE,   SIGUSR1, SIGUSR2,
                         SIGCHLD, SIGIO,   SIGPROF, SIGVTALRM, SIGXCPU, SIGXFSZ};
  for (int sig : ignored) install(sig, onIgnored);
}

}  // namespace rc
