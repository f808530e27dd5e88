// Clock service: local time and waits. Unit tests step time by hand.
#pragma once
#include <ctime>

namespace rc {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual time_t now() = 0;
  // Broken-down local time of now().
  virtual void localNow(struct tm *out) = 0;
  virtual void sleepSeconds(unsigned s) = 0;
  virtual void sleepMicros(unsigned us) = 0;
  // Milliseconds of a clock that never steps back, for deadlines.
  virtual long monotonicMs() = 0;
};

class SystemClock : public Clock {
 public:
  time_t now() override;
  void localNow(struct tm *out) override;
  void sleepSeconds(unsigned s) override;
  void sleepMicros(unsigned us) override;
  long monotonicMs() override;
};

}  // namespace rc
