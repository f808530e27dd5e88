// The status CGI's inputs: the first byte chooses which one the rest is
// (0 udhcpd's lease file, 1 /var/url.log, 2 /proc/net/route, 3
// /etc/resolv.conf, else the bytes of segments 205, 201 and 206 one after
// the other, zero-filled); the whole JSON is written to /dev/null.
#include <cstring>

#include "fuzzkit.h"
#include "www/status.h"

namespace {
bool noAddr(const char *, bool, uint32_t *) { return false; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static FILE *null = fopen("/dev/null", "w");
  static rc::test::MemStore store;
  static struct {
    rc::syslog_ring ring;
    rc::hosttable hosts;
    rc::sysstat sys;
  } seg;
  static const char *files[] = {"etc/udhcpd.leases", "var/url.log", "proc/net/route", "etc/resolv.conf"};
  if (size == 0) return 0;
  memset(&seg, 0, sizeof seg);
  if (data[0] < 4)
    rc::fuzz::put_file(files[data[0]], data + 1, size - 1);
  else
    memcpy(&seg, data + 1, size - 1 < sizeof seg ? size - 1 : sizeof seg);
  rc::WanState wan;
  rc::read_wan(store, rc::fuzz::scratch_paths(), noAddr, wan);
  rc::status_json(null, {&seg.ring, &seg.hosts, &seg.sys}, wan, rc::fuzz::scratch_paths(), 1000);
  return 0;
}
