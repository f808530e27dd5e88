#include <cstdio>
#include <string>

#include "common/settings.h"
#include "testkit_gtest.h"

namespace rc::test {
namespace {

const Setting kKeys[] = {
    {"lan_ip", "lanip", Parse::Address, "", ""},
    {"client_filter_0", "clientinfo", Parse::List, "", "8"},
    {"ipbindlist0", "ipmacbindinfo", Parse::List, "", "11"},
    {"route10", "(a key that ends in 10 is no family)", Parse::Text, "", ""},
};
const SettingGroup kGroups[] = {settingGroup("test", kKeys)};
const SettingTable kTable = {"test", kGroups, 1};

// A key is declared by itself or, numbered, by its family's member 0.
TEST(SettingTable, FindsKeysAndNumberedFamilies) {
  struct Case {
    const char *key;
    const char *declaredBy;  // nullptr: not declared
  } cases[] = {
      {"lan_ip", "lan_ip"},
      {"client_filter_0", "client_filter_0"},
      {"client_filter_12", "client_filter_0"},
      {"client_filter_007", "client_filter_0"},
      {"ipbindlist3", "ipbindlist0"},
      {"route10", "route10"},
      {"lan_ip2", nullptr},
      {"client_filter_", nullptr},
      {"client_filter_1x", nullptr},
      {"client_filter", nullptr},
      {"client_filter_0_1", nullptr},
      {"ipbindlis3", nullptr},
      {"route11", nullptr},
      {"route1", nullptr},
      {"", nullptr},
  };
  for (const auto &c : cases) {
    const Setting *s = kTable.find(c.key);
    if (!c.declaredBy) {
      EXPECT_EQ(s, nullptr) << c.key;
    } else {
      ASSERT_NE(s, nullptr) << c.key;
      EXPECT_STREQ(s->key, c.declaredBy) << c.key;
    }
  }
}

TEST(SettingsStore, ReadsOnlyDeclaredKeys) {
  MemStore store{{"lan_ip", "192.168.0.1"}, {"other", "x"}, {"client_filter_3", "7"}};
  SettingsStore settings(store, kTable);
  char buf[32] = "garbage";
  EXPECT_EQ(settings.get("lan_ip", buf), 1);
  EXPECT_STREQ(buf, "192.168.0.1");
  EXPECT_EQ(settings.number("client_filter_3"), 7);
  testing::internal::CaptureStdout();
  EXPECT_EQ(settings.get("other", buf), 0);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "test: store key \"other\" is not declared; not read\n");
  EXPECT_STREQ(buf, "");
}

}  // namespace
}  // namespace rc::test
