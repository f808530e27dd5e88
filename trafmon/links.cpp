// Connection counts per LAN address from the kernel's /proc/vkproc/currconn
// (connpair records, common/abi/account.h).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "trafmon/trafmon.h"

namespace rc {

void TrafMon::getlinkinfo() {
  memset(connbuf_, 0, sizeof connbuf_);
  Paths::Buf path;
  int fd = open(s_.paths.kernel("/proc/vkproc/currconn", path), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    printf("open /proc/vkproc/currconn failed\n");
    return;
  }
  ssize_t got;
  do {
    got = read(fd, connbuf_, sizeof connbuf_);
  } while (got < 0 && errno == EINTR);
  close(fd);
  // The buffer was zeroed, so what the read did not fill ends the walk; a
  // file without its end mark is walked to the buffer's end and no further.
  for (size_t off = 0; off + sizeof(connpair) <= sizeof connbuf_; off += sizeof(connpair)) {
    connpair pair;
    memcpy(&pair, connbuf_ + off, sizeof pair);
    if (pair.addr == 0) break;
    if (linknode *e = plink.get(pair.addr)) e->count = pair.count;
  }
}

}  // namespace rc
