// The few C++ run-time functions the daemons use, so that an installed
// program needs no libstdc++ at run time (Debian's mipsel libstdc++.so alone
// is 2.3 MB). Daemon code has no exceptions and no RTTI: allocation failure
// and a pure virtual call cannot be thrown, so both end the process with a
// message. Anything else of the C++ library that a program comes to use is
// linked statically (-static-libstdc++) and cut by --gc-sections.
//
// Linked into installed programs only; tests keep the compiler's run time.
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void die(const char *why) {
  fputs(why, stderr);
  abort();
}

void *allocate(size_t n) {
  // malloc(0) may answer NULL; new must give a distinct pointer.
  void *p = malloc(n ? n : 1);
  if (!p) die("out of memory\n");
  return p;
}

}  // namespace

void *operator new(size_t n) { return allocate(n); }
void *operator new[](size_t n) { return allocate(n); }
void operator delete(void *p) noexcept { free(p); }
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }
void operator delete[](void *p, size_t) noexcept { free(p); }

extern "C" void __cxa_pure_virtual() { die("pure virtual method called\n"); }
