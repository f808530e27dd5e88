// The JSON of the router's published figures, shared by routerstat --json and
// the status page's CGI: the system-log ring (segment 205, GBK shown as
// UTF-8), the host table (201) and the system figures (206).
//
//   "count":N,"next":N,"records":["...", ...]
//   "hosts":"absent"|[{"addr":"a.b.c.d","mac":"..","pkts_sent":N,"pkts_recv":N,
//            "bytes_sent":N,"bytes_recv":N,"up_rate":N,"down_rate":N,"conns":N}, ...]
//   "system":"absent"|{"cpu":N,"mem":N,"wan_up":N,"wan_down":N}
//
// Every field of a segment is read within its record, whatever its bytes
// (counts are clamped, texts are cut at their field's end), and every string
// is written with json_string, so no segment content can break the JSON.
#pragma once
#include <iconv.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>

#include "common/abi/syslog_ring.h"
#include "common/abi/trafstat.h"

namespace rc {

// Copies a whole segment read-only; false when it does not exist or is
// smaller than size.
bool copy_segment(key_t key, void *dst, size_t size);

// A JSON string of the first max bytes of s (up to a NUL): quote and
// backslash escaped, newline as \n, every other control character (below
// 0x20, and 0x7f) as \u00XX, bytes that are not valid UTF-8 as \ufffd.
void json_string(FILE *out, const char *s, size_t max);

// The records of a ring copy, oldest first.
class RingRecords {
 public:
  explicit RingRecords(const syslog_ring &ring);
  int count() const { return count_; }  // records held, 0..256
  int next() const { return next_; }    // slot of the next record, 0..255
  // Record i (0 = oldest) converted from GBK to UTF-8 without its final
  // newline into out[size] (bytes iconv cannot convert shown as '?').
  const char *utf8(int i, iconv_t gbkToUtf8, char *out, size_t size) const;

 private:
  const syslog_ring &ring_;
  int count_, next_, first_;
};

// UTF-8 room for one converted record.
constexpr size_t kRecordUtf8 = kRingSlotSize * 3 + 1;

// "count":N,"next":N,"records":[...] with the last `last` records (all
// when last < 0).
void json_log(FILE *out, const syslog_ring &ring, iconv_t gbkToUtf8, int last);
// "hosts":... ; a null table is "absent".
void json_hosts(FILE *out, const hosttable *table);
// "system":... ; null is "absent".
void json_system(FILE *out, const sysstat *s);

// The number of hosts in a table copy, 0..1024.
int host_count(const hosttable &table);
// A host's address in dotted form and its MAC as NUL-terminated text.
void host_texts(const hoststat &h, char (&addr)[16], char (&mac)[sizeof(hoststat::mac)]);

}  // namespace rc
