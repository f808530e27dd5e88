// arp_defence: "a,b,flag,interval", read at start and on command 1, then the
// passes that announce at that interval.
#include "arpguard/arpguard.h"
#include "fuzzkit.h"

namespace {
class QuietLink : public rc::ArpLink {
 public:
  int open() override { return 0; }
  int bindDevice(const char *) override { return 0; }
  void close() override {}
  int getIfIp(const char *, uint8_t out[4]) override {
    static const uint8_t ip[4] = {192, 168, 0, 1};
    memcpy(out, ip, 4);
    return 0;
  }
  int getIfMac(const char *, uint8_t out[6]) override {
    static const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0x44, 0x55};
    memcpy(out, mac, 6);
    return 0;
  }
  int send(const uint8_t *, size_t len) override { return static_cast<int>(len); }
};
const char *const kKeys[] = {"arp_defence", "arp_defence"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace rc::fuzz;
  quiet_stdout();
  static rc::test::MemStore store;
  static QuietLink link;
  // The first value is read at start, the second (if any) by command 1.
  const uint8_t *nul = static_cast<const uint8_t *>(memchr(data, 0, size));
  size_t first = nul ? static_cast<size_t>(nul - data) : size;
  fill_store(store, kKeys, 1, data, first);
  rc::ArpGuard guard(store, link);
  guard.start();
  for (int i = 0; i < 3; ++i) guard.onTick();
  if (nul) {
    fill_store(store, kKeys, 1, nul + 1, size - first - 1);
    guard.onCommand(1);
    for (int i = 0; i < 3; ++i) guard.onTick();
  }
  return 0;
}
