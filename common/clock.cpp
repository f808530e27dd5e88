#include "common/clock.h"

#include <unistd.h>

namespace rc {

time_t SystemClock::now() { return time(nullptr); }

void SystemClock::localNow(struct tm *out) {
  time_t t = time(nullptr);
  localtime_r(&t, out);
}

void SystemClock::sleepSeconds(unsigned s) { sleep(s); }
void SystemClock::sleepMicros(unsigned us) { usleep(us); }

long SystemClock::monotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace rc
