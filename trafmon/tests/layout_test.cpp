// The bytes of segments 201 and 206 for a known state, read at their
// documented offsets, so the same test proves the layout on the router
// (32-bit MIPS, under qemu-mipsel) and on the PC.
#include "fixture.h"

namespace rc::test {
namespace {

using LayoutTest = TrafMonTest;

TEST_F(LayoutTest, SegmentBytesForAKnownState) {
  alignas(4) static unsigned char hosts[53252];
  alignas(4) static unsigned char figures[16];
  static_assert(sizeof hosts == sizeof(hosttable) && sizeof figures == sizeof(sysstat), "sizes");
  memset(hosts, 0xee, sizeof hosts);
  memset(figures, 0xee, sizeof figures);
  mon.attach(hosts, figures);

  writeAccount({{pageAddr(0), 0, 0}});
  setEntry(pageAddr(0), 0x21, {0x01020304, 0x05060708, 0x090a0b0c, 0x0d0e0f10});
  dir.write("proc/net/arp", "head\n192.168.0.33 0x1 0x2 02:00:00:00:01:0a * br0\n");
  writeConn({{ip("192.168.0.33"), 0x11223344}});
  dir.write("proc/stat", "cpu 75 0 0 25 0 0 0\n");  // 75 %
  started();
  mon.onTick();
  setEntry(pageAddr(0), 0x21, {0x01020305, 0x05060709, 0x090a0b0d, 0x0d0e0f20});
  dir.write("proc/stat", "cpu 85 0 0 115 0 0 0\n");  // 10 busy of 100: 10 %
  mon.onTick();

  const unsigned char want[4 + 52] = {
      0x01, 0x00, 0x00, 0x00,                          // N = 1
      192,  168,  0,    33,                            // 0: address, network byte order
      0x05, 0x03, 0x02, 0x01,                          // 4: packets sent
      0x0d, 0x0b, 0x0a, 0x09,                          // 8: packets received
      0x09, 0x07, 0x06, 0x05,                          // 12: bytes sent
      0x20, 0x0f, 0x0e, 0x0d,                          // 16: bytes received
      0x01, 0x00, 0x00, 0x00,                          // 20: upload rate
      0x10, 0x00, 0x00, 0x00,                          // 24: download rate
      0x44, 0x33, 0x22, 0x11,                          // 28: connections
      '0',  '2',  ':',  '0',  '0',  ':',  '0',  '0',  ':',  '0',  '0',  ':',  '0',  '1',
      ':',  '0',  'a',  0,                             // 32: MAC text and NUL
      0x00, 0x00,                                      // 50: zero
  };
  EXPECT_EQ(memcmp(hosts, want, sizeof want), 0);
  EXPECT_EQ(hosts[sizeof want], 0xee) << "bytes behind the N records are not touched";

  const unsigned char fig[16] = {
      10, 0, 0, 0,  // CPU %
      50, 0, 0, 0,  // memory %
      0,  0, 0, 0,  // WAN up, down: the WAN is down
      0,  0, 0, 0,
  };
  EXPECT_EQ(memcmp(figures, fig, sizeof fig), 0);
}

}  // namespace
}  // namespace rc::test
