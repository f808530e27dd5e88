// kinwatch, the URL access logger: has the kernel log the DNS queries that
// arrive from the LAN (a ULOG rule in the mangle PREROUTING chain), reads the
// logged queries from /proc/dns_log2 every 5 seconds, drops repeats of the
// same site by the same host and appends the rest, three lines at a time, to
// /var/url.log, which the web management server reads under the same
// whole-file fcntl lock.
//
// With "fmg_enable_manage" other than 1 it removes the rule and stops every
// running kinwatch instead.
#pragma once
#include <signal.h>

#include <cstddef>
#include <cstdint>

#include "common/abi/dnslog.h"
#include "common/cfm.h"
#include "common/clock.h"
#include "common/paths.h"
#include "common/shell.h"

namespace rc {

struct KinServices {
  Shell &sh;
  ConfigStore &cfm;
  Clock &clock;
  const Paths &paths;
  // Puts the process into the background with its handlers installed
  // (production: daemon(3) and the signal handlers); tests pass a no-op.
  void (*detach)();
  // The run flag: 1 until SIGTERM arrives.
  volatile sig_atomic_t *run;
};

// 1 when the two names belong to different sites, 0 when they count as the
// same site (their right ends compared up to the dot that the name with fewer
// dots has furthest left).
int diffUlr(const char *name, const char *last);

class KinWatch {
 public:
  static constexpr size_t kRecordSize = sizeof(dnslog_record);
  static constexpr size_t kNameSize = kDnsNameSize;
  static constexpr size_t kReadSize = kDnsLogPerRead * kRecordSize;
  static constexpr size_t kSlotSize = 128;
  static constexpr int kSlots = 3;
  static constexpr int kPassSeconds = 5;
  static constexpr int kFreshAt = 500;  // counter from which the next batch starts a new log

  explicit KinWatch(const KinServices &s);

  // Reads the setting, takes the old rule out, and either adds the rule and
  // runs the logger (setting 1) or stops every kinwatch. Always 0.
  int kinwatch_cmd();
  // The logger: detaches, starts a fresh log and takes the queries every
  // 5 seconds until the run flag is cleared. 0.
  int kinwatch_proc();

  // One pass: reads /proc/dns_log2 once and logs the records it holds.
  void pass();
  // Logs the whole records of buf[len]; a trailing partial record is ignored.
  void takeRecords(const unsigned char *buf, size_t len);

  int createLogFile();
  int writeTofile(int count, char (*slots)[kSlotSize]);
  const char *GetTime();

  // --- Process-wide state, under its documented names ---
  uint32_t lastIp = 0;  // network byte order
  char lastUrl[kNameSize] = "";
  char urlRecord[kSlots][kSlotSize] = {};
  int slot = 0;  // lines waiting in urlRecord

 private:
  void logRecord(uint32_t ip, const char *name);

  KinServices s_;
  unsigned char buf_[kReadSize] = {};
  char timeBuf_[64] = "";
  time_t timeOf_ = 0;  // the second timeBuf_ shows
};

// fcntl whole-file lock (F_SETLKW) of type F_WRLCK or F_UNLCK; fcntl's result.
int lock_set(int fd, int type);

// The queried name of a record: the text up to the NUL within its 128 bytes,
// copied into out. False (the record is dropped) when the name has no NUL in
// its 128 bytes or holds any byte but a letter, a digit, "-", "_" and ".":
// the web management server splits the log's lines at ";" and shows them in
// a page.
bool record_name(const unsigned char *record, char (&out)[KinWatch::kNameSize]);

}  // namespace rc
