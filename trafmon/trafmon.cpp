// trafmon start-up, commands of queue 201, the one-second cycle and the two
// segments.
#include "trafmon/trafmon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"

namespace rc {

void ignore_signals_but_kill() {
  for (int sig = 1; sig <= 31; ++sig)
    if (sig != SIGKILL && sig != SIGALRM) signal(sig, SIG_IGN);
}

TrafMon::TrafMon(const Services &s) : s_(s), sh_(s.sh) {
  plink.reset();
  parp.reset();
}

TrafMon::~TrafMon() {
  unmapPages();
  if (memfd >= 0) close(memfd);
}

void TrafMon::attach(void *hosts, void *sys) {
  shmptr = static_cast<hosttable *>(hosts);
  sysshmptr = sys;
  psysstat = static_cast<sysstat *>(sys);
}

void TrafMon::setLan(uint32_t ip, uint32_t mask) {
  lanip = ip;
  lanmask = mask;
  netsize = 0;
  ndepth = 0;
  getdepth(lanmask, netsize, ndepth);
}

bool TrafMon::onStart() {
  void *hosts = nullptr, *sys = nullptr;
  if (s_.ipc.createshm(&nshmid, kTrafKey, sizeof(hosttable), &hosts, false) < 0) hosts = nullptr;
  if (s_.ipc.createshm(&nsysshmid, kSysStatKey, sizeof(sysstat), &sys, false) < 0) sys = nullptr;
  attach(hosts, sys);
  uint32_t ip = 0, mask = 0;
  s_.getipmask("br0", &ip, &mask);
  setLan(ip, mask);
  start();
  return true;
}

void TrafMon::start() {
  uint32_t net = ntohl(lanip & lanmask);
  sh_.vk_SystemEx("iptables -t filter -F %s", "account");
  sh_.vk_SystemEx("iptables -t filter -A %s -j ACCOUNT --addr %d.%d.%d.%d/%d --tname input_table",
                  "account", static_cast<int>(net >> 24), static_cast<int>((net >> 16) & 255),
                  static_cast<int>((net >> 8) & 255), static_cast<int>(net & 255), netsize);
  s_.clock.sleepSeconds(1);

  Paths::Buf path;
  memfd = open(s_.paths.kernel("/dev/mem", path), O_RDWR | O_CLOEXEC);
  if (memfd < 0) printf("open /dev/mem error\n");
  getmapaddr();

  memset(pacc1, 0, sizeof pacc1);
  memset(pacc2, 0, sizeof pacc2);
  memset(pweb, 0, sizeof pweb);
  parp.reset();
  plink.reset();
}

void TrafMon::onCommand(long cmd) {
  switch (cmd) {
    case 2: {
      wanconnflag = 1;
      char type[16];
      s_.cfm.Init_vxm810_cfm();
      s_.cfm.GetCfmValue("wan_connecttype", type);
      s_.cfm.CloseCfm();
      const char *name = atoi(type) == 3 ? "ppp0" : "eth2.2";
      // Counters of another interface are no previous reading.
      if (strcmp(name, wanname) != 0) wanprevok = false;
      bcopy_text(wanname, name);
      break;
    }
    case 3:
      wanconnflag = 0;
      wan1 = wanstat{};
      wan2 = wanstat{};
      wanprevok = false;
      break;
    default:
      break;
  }
}

void TrafMon::onTick() {
  if (cycle % 64 == 0) {
    getarpinfo();
    getmemuse(&mempercent);
  }
  ++cycle;
  if (ndepth > 0 && cycle % 60 == 0) getmapaddr();
  wanupspeed = 0;
  wandownspeed = 0;

  bool even = cycle % 2 == 0;
  acctstat *snap = even ? pacc2 : pacc1;
  const acctstat *old = even ? pacc1 : pacc2;
  wanstat &wnew = even ? wan2 : wan1;
  const wanstat &wold = even ? wan1 : wan2;
  int p = even ? 0 : 1;

  int n = getstatistics(snap);
  calcspeed(old, nprev, snap, n, pweb);
  if (cycle == 1) {
    // No previous snapshot: the cumulative counters are no rate.
    for (int i = 0; i < n; ++i) pweb[i].upspeed = pweb[i].downspeed = 0;
  }
  // Nor are they for hosts on a page mapped just now: a block's page is
  // picked up to 60 cycles after it got its first host.
  zeroFreshRates(pweb, n);
  nprev = n;
  getlinkinfo();
  getarplink(pweb, n);
  writeshminfo(pweb, n);

  if (wanconnflag == 1) {
    if (getwanstatics(wanname, &wnew)) {
      if (wanprevok) {
        wanupspeed = wnew.bsent - wold.bsent;  // modulo 2^32: a wrap still gives the difference
        wandownspeed = wnew.brecv - wold.brecv;
      }
      wanprevok = true;
    } else {
      wanprevok = false;  // no reading this cycle: next cycle has nothing to subtract
    }
  }

  getcpustat(&cputotal[p], &cpuidle[p]);
  uint32_t dtotal = cputotal[p] - cputotal[1 - p];
  uint32_t didle = cpuidle[p] - cpuidle[1 - p];
  if (static_cast<int32_t>(dtotal) < 1)
    cpupercent = 100;
  else
    cpupercent = 100 - static_cast<int32_t>(percent(didle, dtotal));
  writesysshminfo();
  s_.clock.sleepMicros(50000);
}

void TrafMon::writeshminfo(const hoststat *recs, int n) {
  if (!shmptr) return;
  __atomic_store_n(&shmptr->n, n, __ATOMIC_RELEASE);
  memcpy(shmptr->host, recs, static_cast<size_t>(n) * sizeof(hoststat));
}

void TrafMon::writesysshminfo() {
  if (!psysstat) return;
  psysstat->cpupercent = cpupercent;
  psysstat->mempercent = mempercent;
  psysstat->wanupspeed = wanupspeed;
  psysstat->wandownspeed = wandownspeed;
}

}  // namespace rc
