#include <cstring>

#include "testkit_gtest.h"

namespace rc::test {
namespace {

TEST(ConfigStore, ResultConvention) {
  MemStore store{{"empty", ""}, {"lan_ip", "192.168.0.1"}};
  char buf[16];
  struct Case {
    const char *key;
    int result;
    const char *text;
  } cases[] = {
      {"absent", 0, ""},
      {"empty", 1, ""},
      {"lan_ip", 1, "192.168.0.1"},
  };
  EXPECT_EQ(store.Init_vxm810_cfm(), 1);
  for (const auto &c : cases) {
    memcpy(buf, "garbagegarbage!", 16);
    EXPECT_EQ(store.GetCfmValue(c.key, buf), c.result) << c.key;
    EXPECT_STREQ(buf, c.text) << c.key;
  }
  EXPECT_EQ(store.CloseCfm(), 0);
  EXPECT_FALSE(store.isOpen());
}

TEST(ConfigStore, LongValueIsCutAndTerminated) {
  MemStore store{{"name", "abcdefghijklmnopqrstuvwxyz"}};
  char buf[8];
  char guard[4] = {'G', 'G', 'G', 'G'};
  EXPECT_EQ(store.GetCfmValue("name", buf), 1);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(memcmp(guard, "GGGG", 4), 0);
}

}  // namespace
}  // namespace rc::test
