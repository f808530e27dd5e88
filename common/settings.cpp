#include "common/settings.h"

#include <cstdio>
#include <cstring>

namespace rc {

namespace {

// "client_filter_12" and "client_filter_0" are one family: the same text
// before a run of digits that ends the key. A family is declared by its
// member 0: a key that ends in a lone "0".
bool sameKey(const char *declared, const char *key) {
  if (strcmp(declared, key) == 0) return true;
  size_t n = strlen(declared);
  if (n == 0 || declared[n - 1] != '0' || (n > 1 && declared[n - 2] >= '0' && declared[n - 2] <= '9'))
    return false;  // not a family's member 0
  // The key: the same text before the 0, then one or more digits alone.
  if (strncmp(declared, key, n - 1) != 0 || key[n - 1] == '\0') return false;
  for (const char *p = key + n - 1; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

}  // namespace

const Setting *SettingTable::find(const char *key) const {
  for (size_t g = 0; g < count; ++g)
    for (size_t i = 0; i < groups[g].count; ++i)
      if (sameKey(groups[g].keys[i].key, key)) return &groups[g].keys[i];
  return nullptr;
}

bool SettingsStore::declared(const char *key) const {
  if (table_.find(key)) return true;
  printf("%s: store key \"%s\" is not declared; not read\n", table_.program, key);
  return false;
}

int SettingsStore::get(const char *key, char *dst, size_t size) {
  if (declared(key)) return cfm_.GetCfmValue(key, dst, size);
  if (size) dst[0] = '\0';
  return 0;
}

int SettingsStore::number(const char *key) { return declared(key) ? cfm_.GetCfmNumber(key) : 0; }

}  // namespace rc
