// Linked into a daemon's unit test program: when all its tests have run,
// every store key the daemon looked up must be listed in its row of the key
// table in docs/operations.md and in config/default.nvram, so that neither
// drifts from the code. Numbered record keys (client_filter_3) count as the
// family the documents list by its first member (`client_filter_0`..).
// A program with a settings table (STORE_TABLE) is held to it as well: every
// key it read is declared there, and its keys are exactly the documented ones.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "testkit_gtest.h"

#ifdef ROUTER_STORE_TABLE
#include "common/settings.h"
namespace rc {
extern const SettingTable ROUTER_STORE_TABLE;
}
#endif

namespace {

// "client_filter_12" -> "client_filter_0"; other keys unchanged.
std::string familyHead(const std::string &key) {
  size_t end = key.find_last_not_of("0123456789");
  if (end == std::string::npos || end + 1 == key.size()) return key;
  return key.substr(0, end + 1) + "0";
}

// The backquoted names in the program's row of the store-key table.
std::set<std::string> documentedKeys(const std::string &program) {
  std::ifstream in(ROUTER_SOURCE_DIR "/docs/operations.md");
  std::set<std::string> keys;
  std::string line, row = "| " + program + " |";
  while (std::getline(in, line)) {
    if (line.compare(0, row.size(), row) != 0) continue;
    std::regex quoted("`([A-Za-z0-9_]+)`");
    for (std::sregex_iterator it(line.begin(), line.end(), quoted), e; it != e; ++it) keys.insert((*it)[1]);
    break;
  }
  return keys;
}

std::set<std::string> defaultKeys() {
  std::ifstream in(ROUTER_SOURCE_DIR "/config/default.nvram");
  std::set<std::string> keys;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#' && line.find('=') != std::string::npos) keys.insert(line.substr(0, line.find('=')));
  return keys;
}

class StoreKeysListed : public ::testing::Environment {
 public:
  void TearDown() override {
    const auto &read = rc::test::MemStore::keysRead();
    // A filtered run may read no key at all; the full run must read some.
    if (read.empty() || ::testing::GTEST_FLAG(filter) != "*") return;
    auto documented = documentedKeys(ROUTER_STORE_PROGRAM);
    auto defaults = defaultKeys();
    EXPECT_FALSE(documented.empty()) << "no row for " ROUTER_STORE_PROGRAM " in docs/operations.md";
#ifdef ROUTER_STORE_TABLE
    const rc::SettingTable &table = rc::ROUTER_STORE_TABLE;
    std::set<std::string> declared;
    for (size_t g = 0; g < table.count; ++g)
      for (size_t i = 0; i < table.groups[g].count; ++i) declared.insert(familyHead(table.groups[g].keys[i].key));
    for (const auto &key : read)
      EXPECT_TRUE(table.find(key.c_str())) << ROUTER_STORE_PROGRAM " reads \"" << key << "\", which its table does not declare";
    std::set<std::string> documentedHeads;
    for (const auto &key : documented) documentedHeads.insert(familyHead(key));
    EXPECT_EQ(declared, documentedHeads) << "the keys of " ROUTER_STORE_PROGRAM "'s table and its row in docs/operations.md";
    for (size_t g = 0; g < table.count; ++g)
      for (size_t i = 0; i < table.groups[g].count; ++i)
        EXPECT_TRUE(defaults.count(table.groups[g].keys[i].key)) << ROUTER_STORE_PROGRAM " declares \"" << table.groups[g].keys[i].key << "\", which config/default.nvram does not hold";
#endif
    for (const auto &key : read) {
      std::string head = familyHead(key);
      EXPECT_TRUE(documented.count(key) || documented.count(head))
          << ROUTER_STORE_PROGRAM " reads \"" << key << "\", which docs/operations.md does not list for it";
      EXPECT_TRUE(defaults.count(key) || defaults.count(head))
          << ROUTER_STORE_PROGRAM " reads \"" << key << "\", which config/default.nvram does not hold";
    }
  }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new StoreKeysListed);

}  // namespace
