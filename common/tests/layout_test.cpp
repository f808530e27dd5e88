// Byte layouts of the records that cross a process boundary, checked on the
// bytes themselves so that the same test proves them on the router (32-bit
// MIPS, run under qemu-mipsel) and on the PC. Each shared record is defined
// with static_asserts on its size and offsets in common/abi/ and has one test
// that writes it through the code and reads the bytes at their documented
// offsets (netmgr's records: netmgr/tests/layout_test.cpp).
//
// cmdmsg travels through a real queue: runs in a private IPC namespace (see
// tests/sandbox/in-ipc-ns.sh).
#include <sys/msg.h>

#include <cstddef>
#include <cstring>

#include "common/ipc.h"
#include "testkit_gtest.h"

namespace rc::test {
namespace {

// mtype is the platform's long: 4 bytes on the router, 8 on a 64-bit PC.
#if __SIZEOF_LONG__ == 4
constexpr size_t kTextAt = 4;
#else
constexpr size_t kTextAt = 8;
#endif

// What another program posts (sendmsg, the web server): command 0x01020304
// in the native long, little-endian, then the text.
TEST(CmdmsgLayout, PollReadsTheTypeFromTheFirstNativeLong) {
  int q = open_cmd_queue(1290);
  ASSERT_GE(q, 0);
  unsigned char raw[16] = {0x04, 0x03, 0x02, 0x01};  // upper bytes 0 on a PC
  memcpy(raw + kTextAt, "ab", 2);
  ASSERT_EQ(msgsnd(q, raw, 2, IPC_NOWAIT), 0);
  EXPECT_EQ(poll_cmd(q), 0x01020304L);
  EXPECT_EQ(poll_cmd(q), 0L);  // taken off the queue
}

// A cmdmsg as the daemons fill it, seen as bytes on the other side.
TEST(CmdmsgLayout, PostedRecordArrivesAsTypeThenText) {
  int q = open_cmd_queue(1291);
  ASSERT_GE(q, 0);
  cmdmsg m{};
  m.mtype = 21;
  memcpy(m.mtext, "xyz", 3);
  ASSERT_EQ(msgsnd(q, &m, 3, IPC_NOWAIT), 0);
  unsigned char raw[16];
  memset(raw, 0xee, sizeof raw);
  ASSERT_EQ(msgrcv(q, raw, sizeof raw - kTextAt, 0, IPC_NOWAIT), 3);
  const unsigned char type[] = {21, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(memcmp(raw, type, kTextAt), 0);
  EXPECT_EQ(raw[kTextAt + 0], 'x');
  EXPECT_EQ(raw[kTextAt + 1], 'y');
  EXPECT_EQ(raw[kTextAt + 2], 'z');
  EXPECT_EQ(raw[kTextAt + 3], 0xee);  // nothing past the text
}

}  // namespace
}  // namespace rc::test
