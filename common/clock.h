// Clock service: local time and waits. Unit tests step time by hand.
#pragma once
#include <ctime>

#include "common/seams.h"

namespace rc {

// The clock interface: what a test's clock implements (tests/testkit).
class Clock {
 public:
  // Never destroyed through a pointer to this base: no virtual destructor.
 protected:
  ~Clock() = default;

 public:
  virtual time_t now() = 0;
  // Broken-down local time of now().
  virtual void localNow(struct tm *out) = 0;
  virtual void sleepSeconds(unsigned s) = 0;
  virtual void sleepMicros(unsigned us) = 0;
  // Milliseconds of a clock that never steps back, for deadlines.
  virtual long monotonicMs() = 0;
};

// The clock as the daemons hold it (Services::clock): a reference to a Clock
// (a test's), or, made without one, the system's clock itself. The system
// clock is no object: each call of an empty ClockRef calls time(),
// localtime_r, sleep, usleep or clock_gettime directly, so a program links
// the calls it makes and no others (a vtable would link them all; see
// docs/cross-build.md, "Size").
class ClockRef {
 public:
  constexpr ClockRef() = default;            // the system's clock
  ClockRef(Clock &clock) : clock_(&clock) { seams_doubled = true; }  // NOLINT: a test's clock, as it is passed
  time_t now() const;
  void localNow(struct tm *out) const;
  void sleepSeconds(unsigned s) const;
  void sleepMicros(unsigned us) const;
  long monotonicMs() const;

 private:
  Clock *clock_ = nullptr;
};

// The system's clock as a Clock object, for tests that need a real one
// behind the interface.
class SystemClock : public Clock {
 public:
  time_t now() override { return ClockRef().now(); }
  void localNow(struct tm *out) override { ClockRef().localNow(out); }
  void sleepSeconds(unsigned s) override { ClockRef().sleepSeconds(s); }
  void sleepMicros(unsigned us) override { ClockRef().sleepMicros(us); }
  long monotonicMs() override { return ClockRef().monotonicMs(); }
};

}  // namespace rc
