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

}  // namespace rc
