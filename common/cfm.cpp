#include "common/cfm.h"

#include <cstdlib>

#include "common/bstr.h"
#include "platform/nvram.h"

namespace rc {

int ConfigStore::Init_vxm810_cfm() {
  open();
  return 1;
}

int ConfigStore::CloseCfm() {
  close();
  return 0;
}

int ConfigStore::GetCfmValue(const char *key, char *dst, size_t size) {
  if (size == 0) return 0;
  dst[0] = '\0';
  if (!lookup(key, dst, size)) {
    dst[0] = '\0';
    return 0;
  }
  return 1;
}

int ConfigStore::GetCfmNumber(const char *key) {
  char value[64];  // a number needs no more; a longer value is cut, as atoi stops anyway
  GetCfmValue(key, value);
  return atoi(value);
}

void NvramStore::open() { nvram_init(0); }
void NvramStore::close() { nvram_close(0); }

bool NvramStore::lookup(const char *key, char *dst, size_t size) {
  char *value = nvram_bufget(0, key);
  if (!value) return false;
  bcopy_text(dst, size, value);
  free(value);
  return true;
}

}  // namespace rc
