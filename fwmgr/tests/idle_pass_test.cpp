// The one-second pass with full filter tables and nothing crossing a schedule
// boundary runs no command line and allocates nothing: fwmgr runs for months
// on a board with 32 MB. Allocations are counted through the sanitizer's
// hooks, so the count runs in the sanitizer build (the one CI tests).
#include <string>

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

using IdlePassTest = FwMgrTest;

// 32 client, 32 URL and 32 MAC records, all enabled, whole day every day.
void fullTables(MemStore &store) {
  const char *days = "0:0-0:0;1;1;1;1;1;1;1;";
  for (const char *f : {"client", "url", "mac"}) {
    std::string name = f;
    store.set(name + "_filter_en", "1");
    store.set(name + "_filter_num", "32");
    int perKey = name == "mac" ? 16 : 8;
    for (int k = 0; k < 32 / perKey; ++k) {
      std::string list;
      for (int r = 0; r < perKey; ++r) {
        int n = k * perKey + r;
        std::string ip = "192.168.0." + std::to_string(n + 2);
        char mac[20];
        snprintf(mac, sizeof mac, "00:11:22:33:44:%02x", n);
        list += r ? "~" : "";
        if (name == "client") list += "0;" + ip + "-" + ip + ";6881-6889;2;" + days;
        if (name == "url") list += "0;" + ip + "-" + ip + ";qq,sina;" + days;
        if (name == "mac") list += std::string("0;") + mac + ";" + days;
      }
      store.set(name + "_filter_" + std::to_string(k), list);
    }
  }
}

TEST_F(IdlePassTest, FullTablesRunNothingAndAllocateNothing) {
  fullTables(store);
  mgr.start();
  ASSERT_EQ(mgr.clientnum, 32);
  ASSERT_EQ(mgr.urlnum, 32);
  ASSERT_EQ(mgr.macnum, 32);
  clock.setWeekTime(3, 12, 0);
  sh.clear();
  mgr.onTick();  // the first pass applies every record
  EXPECT_EQ(sh.take().size(), 32u * 2 + 32u * 2 + 32u);
#ifndef ROUTER_HAVE_ALLOC_HOOKS
  GTEST_SKIP() << "allocation counting needs the sanitizer build (-DROUTER_SANITIZE=ON)";
#else
  __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
  g_allocs = 0;
  g_counting = 1;
  // Passes 2 to 7: the watchdog's pass (the 8th) looks processes up.
  for (int i = 0; i < 6; ++i) {
    clock.set(clock.now() + 1);
    mgr.onTick();
  }
  g_counting = 0;
  __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr);
  EXPECT_EQ(g_allocs, 0);
  EXPECT_TRUE(SameLines(sh, {}));
#endif
}

}  // namespace
}  // namespace rc::test
