// One trafmon for the trafmon targets, its segments in plain memory and the
// LAN 192.168.0.1/24, as in the daemon after start-up.
#pragma once
#include <arpa/inet.h>

#include "fuzzkit.h"
#include "trafmon/trafmon.h"

namespace rc::fuzz {

inline TrafMon &trafmon() {
  static rc::test::CountingShell sh;
  static rc::test::MemStore store;
  static rc::test::FixedClock clock(rc::fuzz::kStillTime);
  static hosttable *seg = new hosttable{};
  static sysstat *sys = new sysstat{};
  static TrafMon *mon = [] {
    quiet_stdout();
    auto *m = new TrafMon(TrafServices{sh, store, clock, scratch_paths()});
    m->attach(seg, sys);
    m->setLan(inet_addr("192.168.0.1"), inet_addr("255.255.255.0"));
    return m;
  }();
  return *mon;
}

}  // namespace rc::fuzz
