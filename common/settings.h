// The store keys a program reads, declared in one table per feature: the
// key, the state it sets, how its value is taken, the value it stands for
// when absent, and the commands of the program's queue that read it again.
// Reads go through the table (SettingsStore): a key no table declares is not
// read. A test holds the tables against the key list of docs/operations.md
// and config/default.nvram.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/cfm.h"

namespace rc {

enum class Parse : uint8_t {
  Number,   // atoi of the value
  Text,     // the value as it stands (cut to its buffer)
  Address,  // an IPv4 address; anything else is refused
  Port,     // 1..65535; anything else gives the fallback
  Network,  // an address or address/prefix; anything else is refused
  List,     // records a feature splits and checks one by one
};

// A column kept for the reader of the source, not for the program: it takes
// any text and stores none of it (the table's rows stay as they read, and
// the program carries only the key and how it is taken). A column the
// program comes to read becomes a member of its own type.
struct Note {
  constexpr Note(const char *) {}  // NOLINT: the text, as the rows write it
};

struct Setting {
  const char *key;  // a numbered family by its first member: "client_filter_0"
  Note field;       // the state it sets
  Parse parse;
  Note fallback;  // what the read gives when the key is absent
  Note commands;  // commands that read it again ("4,9"); "" = start-up only
};

struct SettingGroup {
  const Setting *keys;
  uint16_t count;
  Note feature;
};

template <size_t N>
constexpr SettingGroup settingGroup(const char *feature, const Setting (&keys)[N]) {
  static_assert(N <= UINT16_MAX, "a group of at most 65535 keys");
  return {keys, N, feature};
}

struct SettingTable {
  const char *program;
  const SettingGroup *groups;
  size_t count;
  // The declaration of key; a numbered key ("client_filter_12") is found
  // by its family's first member. nullptr when no group declares it.
  const Setting *find(const char *key) const;
};

// The store seen through a program's table. A key the table does not
// declare is printed and not read: the destination is left empty.
class SettingsStore {
 public:
  SettingsStore(ConfigStore &cfm, const SettingTable &table) : cfm_(cfm), table_(table) {}
  int get(const char *key, char *dst, size_t size);
  template <size_t N>
  int get(const char *key, char (&dst)[N]) {
    return get(key, dst, N);
  }
  int number(const char *key);

 private:
  bool declared(const char *key) const;  // prints when it is not
  ConfigStore &cfm_;
  const SettingTable &table_;
};

}  // namespace rc
