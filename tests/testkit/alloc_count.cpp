#include "alloc_count.h"

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define ROUTER_ALLOC_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ROUTER_ALLOC_HOOKS 1
#endif
#endif

#if defined(ROUTER_ALLOC_HOOKS) || defined(ROUTER_ALLOC_WRAP)
namespace {
volatile long g_allocs = 0;
}  // namespace
#endif

#if defined(ROUTER_ALLOC_HOOKS)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                        void (*)(const volatile void *));

namespace {
// The sanitizer keeps at most five hooks and never removes one, so the hook
// is installed once, before main, and counts for the program's whole life.
const int g_hooked = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void *, size_t) { g_allocs = g_allocs + 1; }, [](const volatile void *) {});
}  // namespace

long rc::test::allocations() { return g_hooked ? g_allocs : -1; }

#elif defined(ROUTER_ALLOC_WRAP)

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);

extern "C" void *malloc(size_t n) {
  g_allocs = g_allocs + 1;
  return __libc_malloc(n);
}
extern "C" void *calloc(size_t a, size_t b) {
  g_allocs = g_allocs + 1;
  return __libc_calloc(a, b);
}
extern "C" void *realloc(void *p, size_t n) {
  g_allocs = g_allocs + 1;
  return __libc_realloc(p, n);
}

long rc::test::allocations() { return g_allocs; }

#else

long rc::test::allocations() { return -1; }

#endif
