// Counting heap allocations in a test, through the sanitizer's allocation
// hooks: the daemons' one-second loops must not allocate. Only the sanitizer
// build (the one CI tests) has the hooks; elsewhere ROUTER_HAVE_ALLOC_HOOKS
// stays undefined and the tests that need it skip.
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

// Counts the allocations made between start() and stop().
class AllocCounter {
 public:
  AllocCounter() { __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree); }
  ~AllocCounter() { __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr); }
  void start() {
    count() = 0;
    counting() = 1;
  }
  long stop() {
    counting() = 0;
    return count();
  }

 private:
  static volatile long &count() {
    static volatile long n = 0;
    return n;
  }
  static volatile int &counting() {
    static volatile int on = 0;
    return on;
  }
  static void onMalloc(const volatile void *, size_t) {
    if (counting()) count() = count() + 1;
  }
  static void onFree(const volatile void *) {}
};

}  // namespace rc::test
#endif
