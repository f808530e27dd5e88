// arpguard: builds the production services and runs the ARP defence daemon,
// one pass a second.
#include <unistd.h>

#include "arpguard/arpguard.h"
#include "common/ipc.h"
#include "common/shell.h"

int main() {
  rc::stdio_line_buffered();
  static rc::NvramStore store;
  static rc::PacketLink link;
  static rc::ArpGuard guard(store, link);
  sleep(5);
  if (!guard.start()) return 0;
  int msqid = rc::open_cmd_queue(rc::ArpGuard::kQueueKey);
  if (msqid < 0) {
    link.close();
    return 0;
  }
  for (;;) {
    long cmd = rc::poll_cmd(msqid);
    if (cmd > 0) guard.onCommand(cmd);
    guard.onTick();
    sleep(1);
  }
}
