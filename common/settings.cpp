#include "common/settings.h"

#include <cstdio>
#include <cstring>

namespace rc {

namespace {

// "client_filter_12" and "client_filter_0" are one family: the same text
// before a run of digits that ends the key.
bool sameKey(const char *declared, const char *key) {
  size_t d = strlen(declared), k = strlen(key);
  size_t dstem = d, kstem = k;
  while (dstem > 0 && declared[dstem - 1] >= '0' && declared[dstem - 1] <= '9') --dstem;
  while (kstem > 0 && key[kstem - 1] >= '0' && key[kstem - 1] <= '9') --kstem;
  if (d == k && memcmp(declared, key, d) == 0) return true;
  // A family is declared by its member 0.
  return dstem < d && kstem < k && dstem == kstem && memcmp(declared, key, dstem) == 0 &&
         strcmp(declared + dstem, "0") == 0;
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
