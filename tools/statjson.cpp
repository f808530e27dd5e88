#include "tools/statjson.h"

#include <arpa/inet.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

namespace rc {

bool copy_segment(key_t key, void *dst, size_t size) {
  int id = shmget(key, 0, 0);
  if (id < 0) return false;
  struct shmid_ds ds;
  if (shmctl(id, IPC_STAT, &ds) < 0 || ds.shm_segsz < size) return false;
  void *p = shmat(id, nullptr, SHM_RDONLY);
  if (p == reinterpret_cast<void *>(-1)) return false;
  memcpy(dst, p, size);
  shmdt(p);
  return true;
}

namespace {

// The length of the valid UTF-8 sequence at s (n bytes left), 0 when the
// bytes there are not one.
size_t utf8Sequence(const unsigned char *s, size_t n) {
  unsigned char c = s[0];
  size_t len;
  unsigned char lo = 0x80, hi = 0xbf;  // range of the second byte
  if (c >= 0xc2 && c <= 0xdf) {
    len = 2;
  } else if (c >= 0xe0 && c <= 0xef) {
    len = 3;
    if (c == 0xe0) lo = 0xa0;
    if (c == 0xed) hi = 0x9f;  // no UTF-16 surrogates
  } else if (c >= 0xf0 && c <= 0xf4) {
    len = 4;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;
  } else {
    return 0;
  }
  if (n < len || s[1] < lo || s[1] > hi) return 0;
  for (size_t i = 2; i < len; ++i)
    if (s[i] < 0x80 || s[i] > 0xbf) return 0;
  return len;
}

}  // namespace

void json_string(FILE *out, const char *s, size_t max) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
  size_t n = strnlen(s, max);
  putc('"', out);
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    if (c == '"' || c == '\\') {
      putc('\\', out);
      putc(c, out);
    } else if (c == '\n') {
      fputs("\\n", out);
    } else if (c < 0x20 || c == 0x7f) {
      fprintf(out, "\\u%04x", c);
    } else if (c >= 0x80) {
      size_t len = utf8Sequence(p + i, n - i);
      if (len == 0) {
        fputs("\\ufffd", out);
        ++i;
        continue;
      }
      fwrite(p + i, 1, len, out);
      i += len;
      continue;
    } else {
      putc(c, out);
    }
    ++i;
  }
  putc('"', out);
}

RingRecords::RingRecords(const syslog_ring &ring) : ring_(ring) {
  count_ = ring.count < 0 ? 0 : ring.count > kRingSlots ? kRingSlots : ring.count;
  next_ = ring.next < 0 || ring.next >= kRingSlots ? 0 : ring.next;
  first_ = count_ < kRingSlots ? 0 : next_;
}

const char *RingRecords::utf8(int i, iconv_t cd, char *out, size_t size) const {
  if (size == 0) return out;
  char slot[kRingSlotSize + 1];
  memcpy(slot, ring_.slot[(first_ + i) % kRingSlots], kRingSlotSize);
  slot[kRingSlotSize] = '\0';
  char *ip = slot;
  size_t il = strlen(slot);
  char *op = out;
  size_t ol = size - 1;
  while (il > 0 && ol > 0) {
    if (iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1)) break;
    if (ol == 0) break;
    *op++ = '?';
    --ol;
    ++ip;
    --il;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  *op = '\0';
  size_t len = strlen(out);
  if (len && out[len - 1] == '\n') out[len - 1] = '\0';
  return out;
}

void json_log(FILE *out, const syslog_ring &ring, iconv_t cd, int last) {
  RingRecords r(ring);
  fprintf(out, "\"count\":%d,\"next\":%d,\"records\":[", r.count(), r.next());
  int from = last < 0 || last > r.count() ? 0 : r.count() - last;
  for (int i = from; i < r.count(); ++i) {
    char text[kRecordUtf8];
    if (i > from) putc(',', out);
    json_string(out, r.utf8(i, cd, text, sizeof text), sizeof text);
  }
  putc(']', out);
}

int host_count(const hosttable &table) {
  return table.n < 0 ? 0 : table.n > kMaxHosts ? kMaxHosts : table.n;
}

void host_texts(const hoststat &h, char (&addr)[16], char (&mac)[sizeof(hoststat::mac)]) {
  inet_ntop(AF_INET, &h.addr, addr, sizeof addr);
  memcpy(mac, h.mac, sizeof mac);
  mac[sizeof mac - 1] = '\0';
}

void json_hosts(FILE *out, const hosttable *table) {
  if (!table) {
    fputs("\"hosts\":\"absent\"", out);
    return;
  }
  fputs("\"hosts\":[", out);
  int n = host_count(*table);
  for (int i = 0; i < n; ++i) {
    const hoststat &h = table->host[i];
    char addr[16], mac[sizeof h.mac];
    host_texts(h, addr, mac);
    fprintf(out, "%s{\"addr\":\"%s\",\"mac\":", i ? "," : "", addr);
    json_string(out, mac, sizeof mac);
    fprintf(out,
            ",\"pkts_sent\":%u,\"pkts_recv\":%u,\"bytes_sent\":%u,\"bytes_recv\":%u,"
            "\"up_rate\":%u,\"down_rate\":%u,\"conns\":%u}",
            h.psent, h.precv, h.bsent, h.brecv, h.upspeed, h.downspeed, h.conns);
  }
  putc(']', out);
}

void json_system(FILE *out, const sysstat *s) {
  if (!s) {
    fputs("\"system\":\"absent\"", out);
    return;
  }
  fprintf(out, "\"system\":{\"cpu\":%d,\"mem\":%d,\"wan_up\":%u,\"wan_down\":%u}", s->cpupercent,
          s->mempercent, s->wanupspeed, s->wandownspeed);
}

}  // namespace rc
