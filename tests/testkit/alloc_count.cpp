#include "alloc_count.h"

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define ROUTER_HAVE_ALLOC_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ROUTER_HAVE_ALLOC_HOOKS 1
#endif
#endif

#ifdef ROUTER_HAVE_ALLOC_HOOKS
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                        void (*)(const volatile void *));
#endif

namespace rc::test {

namespace {
volatile int g_counting = 0;
volatile long g_allocs = 0;
[[maybe_unused]] void onMalloc(const volatile void *, size_t) {
  if (g_counting) g_allocs = g_allocs + 1;
}
[[maybe_unused]] void onFree(const volatile void *) {}
}  // namespace

#ifdef ROUTER_HAVE_ALLOC_HOOKS
bool alloc_counting() { return true; }
void alloc_count_start() {
  __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
  g_allocs = 0;
  g_counting = 1;
}
long alloc_count_stop() {
  g_counting = 0;
  __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr);
  return g_allocs;
}
#else
bool alloc_counting() { return false; }
void alloc_count_start() {}
long alloc_count_stop() { return 0; }
#endif

}  // namespace rc::test
