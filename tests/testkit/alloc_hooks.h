// Counts heap allocations through the sanitizer's hooks, for the tests that
// prove a daemon's periodic pass allocates nothing. Only the sanitizer build
// (the one CI tests) has the hooks; elsewhere such a test skips itself.
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
#endif

namespace rc::test {

// Runs fn and returns the number of allocations it made, or -1 when this
// build cannot count them.
template <typename Fn>
long count_allocations(Fn fn) {
#ifdef ROUTER_HAVE_ALLOC_HOOKS
  static volatile long allocs;
  static volatile int counting;
  allocs = 0;
  counting = 0;
  __sanitizer_install_malloc_and_free_hooks(
      [](const volatile void *, size_t) {
        if (counting) allocs = allocs + 1;
      },
      [](const volatile void *) {});
  counting = 1;
  fn();
  counting = 0;
  __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr);
  return allocs;
#else
  fn();
  return -1;
#endif
}

}  // namespace rc::test
