// DHCP+ datagrams from the login server. Bits 0-1 of the first input byte
// pick which ack the rest is checked as. With bit 2 clear the rest is the
// datagram as received; with it set, the second byte is the packet code and
// the rest a plain option payload that is ciphered here the way the server
// does it, so the fuzzer reaches the option parser behind the cipher too.
#include <vector>

#include "dhcpauth.h"
#include "dhcpcrypt.h"
#include "fuzzkit.h"

namespace {
const uint8_t kKey[10] = {0x3c, 0x81, 0x07, 0xee, 0x52, 0x19, 0xa4, 0x60, 0xd3, 0x2b};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using dhcpplus::AckKind;
  rc::fuzz::quiet_stdout();
  static rc::DhcpPlusSocket net;  // never reached: the datagrams go straight to the parser
  static rc::test::FixedClock clock(rc::fuzz::kStillTime);
  static rc::DhcpPlusLogin login(net, clock);
  if (size < 1) return 0;
  static const AckKind kinds[] = {AckKind::Hangup, AckKind::Request, AckKind::User,
                                  AckKind::Password};
  AckKind kind = kinds[data[0] & 3];
  login.InitVar("user", "pwd");
  std::vector<uint8_t> pkt;
  if (data[0] & 4) {
    if (size < 2) return 0;
    const uint8_t *payload = data + 2;
    size_t n = size - 2;
    size_t length = n + 10;
    pkt.assign(length + 8, 0);
    pkt[0] = 5;
    pkt[1] = data[1];
    pkt[2] = static_cast<uint8_t>(length >> 8);
    pkt[3] = static_cast<uint8_t>(length);
    pkt[4] = 1;
    pkt[6] = 7;
    pkt[7] = 15;
    memcpy(pkt.data() + 8, kKey, 10);
    dhcpplus::encrypt_suboption(payload, n, pkt.data() + 8);
  } else {
    pkt.assign(data + 1, data + size);
  }
  int r = login.ParseAck(pkt.data(), pkt.size(), kind);
  char msg[48];
  dhcpplus::getdhcperrormsg(r, msg, sizeof msg);
  return 0;
}
