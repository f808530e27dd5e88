#include "common/paths.h"

#include <cstdio>
#include <cstdlib>

#include "common/bstr.h"

namespace rc {

Paths::Paths(const char *root, const char *kernelRoot) {
  bcopy_text(root_, root ? root : "");
  bcopy_text(kernelRoot_, kernelRoot ? kernelRoot : "");
}

Paths Paths::fromEnvironment() { return Paths("", getenv("ROUTER_KERNEL_ROOT")); }

const char *Paths::sys(const char *path, Buf &out) const {
  snprintf(out, kMax, "%s%s", root_, path);
  return out;
}

const char *Paths::kernel(const char *path, Buf &out) const {
  snprintf(out, kMax, "%s%s", kernelRoot_, path);
  return out;
}

}  // namespace rc
