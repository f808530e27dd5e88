// One fwmgr for the fwmgr targets: the settings that switch every feature
// on, the given keys filled from the input, then the start-up (every read
// step), WAN up (every load step) and WAN down (every unload step).
#pragma once
#include <arpa/inet.h>

#include "fuzzkit.h"
#include "fwmgr/fwmgr.h"

namespace rc::fuzz {

inline int wanAddress(const char *, uint32_t *addr, uint32_t *mask) {
  *addr = inet_addr("10.0.0.2");
  *mask = inet_addr("255.255.255.0");
  return 0;
}

inline void run_fwmgr(const char *const *keys, size_t n, const uint8_t *data, size_t size) {
  quiet_stdout();
  static rc::test::CountingShell sh;
  static rc::test::MemStore store;
  static rc::test::FixedClock clock(rc::fuzz::kStillTime);
  static rc::test::FakeProcesses procs;
  fill_store(store, keys, n, data, size);
  static const char *const kOn[][2] = {
      {"lan_ip", "192.168.0.1"}, {"lan_mask", "255.255.255.0"}, {"wan_connecttype", "2"},
      {"client_filter_en", "1"}, {"url_filter_en", "1"},         {"mac_filter_en", "1"},
      {"ipbindenable", "1"},     {"qos_enable", "1"},            {"natlimit_enble", "1"},
      {"dmzen", "1"},            {"webipen", "1"},               {"wanweben", "1"},
      {"ddns_en", "1"},          {"dnsen", "1"},                 {"upnpen", "1"},
  };
  for (auto &kv : kOn)
    if (!store.has(kv[0])) store.set(kv[0], kv[1]);  // the input's values win
  auto *mgr = new FwMgr(FwServices{sh, store, clock, scratch_paths(), procs, wanAddress});
  mgr->start();
  mgr->onCommand(2);
  mgr->onCommand(3);
  delete mgr;
}

}  // namespace rc::fuzz
