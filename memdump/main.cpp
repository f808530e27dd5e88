// memdump: the marker search over /dev/mem (under ROUTER_KERNEL_ROOT).
#include <cstdio>

#include "common/paths.h"
#include "memdump/memdump.h"

int main() {
  static const rc::Paths paths = rc::Paths::fromEnvironment();
  rc::Paths::Buf mem;
  return rc::memdump_main(paths.kernel("/dev/mem", mem), stdout, stderr);
}
