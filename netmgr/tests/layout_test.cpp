// Byte layouts of netmgr's shared and kernel records, checked on the bytes
// written by the code at their documented offsets, so that the same test
// proves them on the router (32-bit MIPS, under qemu-mipsel) and on the PC.
// The pattern for every record that crosses a process boundary:
// static_asserts on size and offsets beside the definition (common/abi/ for
// the records other programs share), and one test that writes it through
// the code and reads literal bytes.
//   segment 205, the system-log ring: below
//   /dev/flash0 read request: below
//   /proc/vkproc/lanip: EthTest.KernelLanRecordIsEightBytesInNetworkOrder
//   /proc/vkproc/fwlog records (read at explicit offsets): FwLogTest
//   cmdmsg: common/tests/layout_test.cpp
#include <cstring>

#include "netmgr/flash_req.h"
#include "netmgr/syslog_ring.h"
#include "testkit_gtest.h"

namespace rc::test {
namespace {

// Segment 205: count at 0, next at 4 (native 32-bit little-endian), then 256
// slots of 128 bytes from offset 8; 32776 bytes in all.
TEST(RingLayout, RecordsWrittenByK3syslogSitAtTheirOffsets) {
  alignas(syslog_ring) static unsigned char seg[32776];
  static_assert(sizeof seg == sizeof(syslog_ring), "the segment is the ring");
  memset(seg, 0, sizeof seg);
  syslog_ring *ring = reinterpret_cast<syslog_ring *>(seg);
  FakeClock clock(0);
  K3syslog("boot", ring, clock);
  const unsigned char head[] = {0x01, 0x00, 0x00, 0x00,   // count
                                0x01, 0x00, 0x00, 0x00};  // next
  EXPECT_EQ(memcmp(seg, head, 8), 0);
  const char rec[] = "1970-01-01 00:00:00 boot\n";  // with its NUL
  EXPECT_EQ(memcmp(seg + 8, rec, sizeof rec), 0);

  for (int i = 1; i < 256; ++i) K3syslog("x", ring, clock);
  K3syslog("wrap", ring, clock);  // the 257th record overwrites slot 0
  const unsigned char full[] = {0x00, 0x01, 0x00, 0x00,   // count 256
                                0x01, 0x00, 0x00, 0x00};  // next 1
  EXPECT_EQ(memcmp(seg, full, 8), 0);
  const char last[] = "1970-01-01 00:00:00 x\n";
  EXPECT_EQ(memcmp(seg + 8 + 255 * 128, last, sizeof last), 0);  // slot 255 at 32648
  const char wrapped[] = "1970-01-01 00:00:00 wrap\n";
  EXPECT_EQ(memcmp(seg + 8, wrapped, sizeof wrapped), 0);
}

// The flash driver's read request: addr at 0, dst at 4, len at 8, two
// reserved words, status at 20; six little-endian 32-bit words.
TEST(FlashReqLayout, ReadRequestWords) {
  unsigned char dst[6];
  flash_req req = flash_read_req(0x40004, dst, 6);
  unsigned char raw[24];
  static_assert(sizeof raw == sizeof req, "24 bytes");
  memcpy(raw, &req, sizeof raw);
  const unsigned char addr[] = {0x04, 0x00, 0x04, 0x00};
  const unsigned char len[] = {0x06, 0x00, 0x00, 0x00};
  const unsigned char zero[12] = {};
  EXPECT_EQ(memcmp(raw + 0, addr, 4), 0);
  EXPECT_EQ(memcmp(raw + 8, len, 4), 0);
  EXPECT_EQ(memcmp(raw + 12, zero, 12), 0);  // reserved words and status
  uint32_t where;
  memcpy(&where, raw + 4, 4);
  EXPECT_EQ(where, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dst)));
}

}  // namespace
}  // namespace rc::test
