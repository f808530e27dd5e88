// Where a daemon finds the files it opens itself.
//
// System files (/etc/udhcpd.conf, /proc/uptime, /var/url.log, ...) live under
// `root` ("" in production, a temporary directory in unit tests). The router
// kernel's own files (/proc/vkproc/*, /proc/dns_log2, /dev/flash0, /dev/mem)
// live under `kernelRoot`, which production takes from ROUTER_KERNEL_ROOT.
// Command lines keep their literal paths: only files opened by the daemon
// itself are rerouted. Resolving writes into the caller's fixed buffer, so
// the one-second loops never allocate.
#pragma once
#include <cstddef>

namespace rc {

class Paths {
 public:
  static constexpr size_t kMax = 256;
  using Buf = char[kMax];

  Paths(const char *root, const char *kernelRoot);
  // root "" and kernel root from ROUTER_KERNEL_ROOT (or "" when unset).
  static Paths fromEnvironment();

  const char *sys(const char *path, Buf &out) const;
  const char *kernel(const char *path, Buf &out) const;
  const char *root() const { return root_; }
  const char *kernelRoot() const { return kernelRoot_; }

 private:
  char root_[kMax];
  char kernelRoot_[kMax];
};

}  // namespace rc
