// trafmon, the traffic monitor: once a second takes a snapshot of the
// kernel's per-host accounting pages, turns it into per-host rates with
// connection counts and MAC addresses, measures the WAN rates, CPU and
// memory use, and publishes it all in segments 201 (host table) and 206
// (system figures). Queue 201 carries WAN up (2) and WAN down (3).
//
// All process-wide state lives in this object under the names the system's
// documents use; the outside world is reached only through the services
// passed in, so every command line and parsed file can be checked in tests.
#pragma once
#include <cstdint>

#include "common/abi/account.h"
#include "common/abi/trafstat.h"
#include "common/daemon.h"
#include "common/services.h"
#include "trafmon/hosthash.h"

namespace rc {

// The MAC address published for a host that is not in the ARP table.
constexpr char kNoMac[] = "00:00:00:00:00:00";

// One accounting page of the kernel's list: its kernel address and the /24
// block it covers.
struct acctpage {
  uint32_t page;
  int16_t third;
  int16_t second;
};
static_assert(sizeof(acctpage) == 8, "page list entry is 8 bytes");

// One host of a snapshot, taken from a page entry.
struct acctstat {
  uint32_t addr;  // network byte order
  uint32_t psent, bsent, precv, brecv;
};
static_assert(sizeof(acctstat) == 20, "snapshot record is 20 bytes");

// The WAN interface's counters (low 32 bits).
struct wanstat {
  uint32_t psent, bsent, precv, brecv;
};

struct linknode {
  uint32_t addr;  // network byte order
  uint32_t count;
  int32_t next;
};
static_assert(sizeof(linknode) == 12, "connection-count entry is 12 bytes");

struct arpnode {
  uint32_t addr;  // network byte order
  char mac[18];
  int32_t next;
};
static_assert(sizeof(arpnode) == 28, "ARP entry is 28 bytes");

// part * 100 / whole in 0..100, truncated (100 when whole is 0).
uint32_t percent(uint32_t part, uint32_t whole);

// Ignores signals 1 to 31 but SIGKILL and SIGALRM (the tick).
void ignore_signals_but_kill();

class TrafMon : public Daemon {
 public:
  // The start wait, signals ignored and the tick semaphore before the
  // start-up; queue 201 after it, then the tick.
  static constexpr DaemonSpec kDaemon{kTrafKey, DaemonSpec::kStartWait, DaemonSpec::kTickSemaphoreFirst,
                                       ignore_signals_but_kill};

  explicit TrafMon(const Services &s);
  ~TrafMon();

  // Start-up: segments 201 and 206 (kept as they are), br0's address and
  // mask, then start().
  bool onStart() override;

  // The attached segments; null when one could not be created or attached
  // (then nothing is written there).
  void attach(void *hosts, void *sys);
  // LAN address and mask of br0 (network byte order); sets netsize/ndepth.
  void setLan(uint32_t ip, uint32_t mask);
  // Start-up after the segments: the accounting rule, /dev/mem, the page
  // mappings and the empty tables.
  void start();

  void onCommand(long cmd) override;  // 2 WAN up, 3 WAN down, others ignored
  void onTick() override;             // one cycle

  // --- Accounting pages, snapshots and rates (account.cpp) ---
  // Parses one line of /proc/vkproc/account; false when it does not hold
  // three name=value fields, a page in the mapped segment and octets 0..255.
  static bool parseAccountLine(const char *line, acctpage *out);
  // Sorts n entries by second * 256 + third with the exchange sort.
  static void sortPages(acctpage *pages, int n);
  void getaccountaddr();
  void getmapaddr();
  int getstatistics(acctstat *snap);
  // Fills pweb[0..n) up to the rates; old holds nold records.
  static void calcspeed(const acctstat *old, int nold, const acctstat *snap, int n, hoststat *out);
  // Sets the rates of out[0..n) that lie on a page of mapfresh to 0 and
  // clears mapfresh.
  void zeroFreshRates(hoststat *out, int n);

  // --- Connection counts (links.cpp) ---
  void getlinkinfo();

  // --- ARP table and the MAC join (arp.cpp) ---
  void getarpinfo();
  void getarplink(hoststat *recs, int n);

  // --- WAN, CPU and memory figures (sysfig.cpp) ---
  // 1 when the interface was found and the record filled, else 0.
  int getwanstatics(const char *name, wanstat *rec);
  void getmemuse(int32_t *out);
  void getcpustat(uint32_t *total, uint32_t *idle);

  // --- Publishing ---
  void writeshminfo(const hoststat *recs, int n);
  void writesysshminfo();

  // --- Process-wide state, under its documented names ---
  int nshmid = -1, nsysshmid = -1;
  hosttable *shmptr = nullptr;
  void *sysshmptr = nullptr;
  sysstat *psysstat = nullptr;
  uint32_t lanip = 0, lanmask = 0;
  int netsize = 0, ndepth = 0;
  int wanconnflag = 0;
  char wanname[16] = "";
  wanstat wan1 = {}, wan2 = {};
  // The previous WAN reading is one of the same interface, one cycle old.
  bool wanprevok = false;
  int32_t cpupercent = 0, mempercent = 60;
  uint32_t wanupspeed = 0, wandownspeed = 0;
  uint32_t cycle = 0;
  uint32_t cputotal[2] = {0, 0}, cpuidle[2] = {0, 0};  // [0] even, [1] odd cycles
  int memfd = -1;

  // The page lists: at most kMaxPages pages, then an entry of zeros.
  acctpage account_data[kMaxPages + 1] = {};
  acctpage mapaddr[kMaxPages + 1] = {};  // page: the kernel address it maps
  const acctentry *mapped[kMaxPages + 1] = {};  // where each page of mapaddr is mapped
  // Page of mapaddr that the last getmapaddr mapped and the one before had
  // not: its hosts' counters ran unseen until now, so they give no rate yet.
  bool mapfresh[kMaxPages + 1] = {};
  int mapflag = 0;

  acctstat pacc1[kMaxHosts] = {}, pacc2[kMaxHosts] = {};
  int nprev = 0;  // records of the previous snapshot
  hoststat pweb[kMaxHosts] = {};
  HostHash<linknode> plink;
  HostHash<arpnode> parp;

 private:
  void unmapPages();

  Services s_;
  Shell &sh_;
  acctentry pagecopy_[kAcctEntries];
  char connbuf_[kConnFileSize];
};

}  // namespace rc
