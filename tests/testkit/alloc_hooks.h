// Counting the allocations of the one-second passes, which must make none
// (the daemons run for months on a board with 32 MB). Counted through the
// sanitizer's allocation hooks, so only the sanitizer build (the one CI
// tests) defines ROUTER_HAVE_ALLOC_HOOKS; other builds skip such tests.
#pragma once
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

namespace rc::test {

// Installs the hooks for its lifetime; count(fn) runs fn and returns how
// many allocations it made.
class AllocHooks {
 public:
  AllocHooks() { __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree); }
  ~AllocHooks() { __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr); }
  template <class Fn>
  long count(Fn fn) {
    allocs_ = 0;
    counting_ = 1;
    fn();
    counting_ = 0;
    return allocs_;
  }

 private:
  static void onMalloc(const volatile void *, size_t) {
    if (counting_) allocs_ = allocs_ + 1;
  }
  static void onFree(const volatile void *) {}
  static inline volatile int counting_ = 0;
  static inline volatile long allocs_ = 0;
};

}  // namespace rc::test
#endif
