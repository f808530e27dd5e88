// The one-second pass must not allocate: logmail runs for months on a board
// with 32 MB. Counted through the sanitizer's allocation hooks, so this runs
// in the sanitizer build (the one CI tests).
#include "fixture.h"

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
namespace {
volatile int g_counting = 0;
volatile long g_allocs = 0;
void onMalloc(const volatile void *, size_t) {
  if (g_counting) g_allocs = g_allocs + 1;
}
void onFree(const volatile void *) {}
}  // namespace
#endif

namespace rc::test {
namespace {

TEST_F(LogMailTest, PassesWithoutMailAllocateNothing) {
#ifndef ROUTER_HAVE_ALLOC_HOOKS
  GTEST_SKIP() << "allocation counting needs the sanitizer build (-DROUTER_SANITIZE=ON)";
#else
  __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
  store.set("email_num", "5");
  mail.onCommand(1);
  // No record, then records below the threshold: the ring is copied and
  // the body built every pass, and nothing is sent.
  for (int records = 0; records < 3; ++records) {
    if (records) addRecord("kernel: event");
    mail.onTick();
    g_allocs = 0;
    g_counting = 1;
    for (int i = 0; i < 3; ++i) mail.onTick();
    g_counting = 0;
    EXPECT_EQ(g_allocs, 0) << records << " records pending";
  }
  __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr);
  EXPECT_TRUE(net.hosts.empty());
#endif
}

}  // namespace
}  // namespace rc::test
