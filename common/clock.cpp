#include "common/clock.h"

#include <unistd.h>

namespace rc {

bool seams_doubled = false;

time_t ClockRef::now() const {
  if (seams_doubled && clock_) return clock_->now();
  return time(nullptr);
}

void ClockRef::localNow(struct tm *out) const {
  if (seams_doubled && clock_) return clock_->localNow(out);
  time_t t = time(nullptr);
  localtime_r(&t, out);
}

void ClockRef::sleepSeconds(unsigned s) const {
  if (seams_doubled && clock_) return clock_->sleepSeconds(s);
  sleep(s);
}

void ClockRef::sleepMicros(unsigned us) const {
  if (seams_doubled && clock_) return clock_->sleepMicros(us);
  usleep(us);
}

long ClockRef::monotonicMs() const {
  if (seams_doubled && clock_) return clock_->monotonicMs();
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace rc
