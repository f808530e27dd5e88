// The configuration store file as libnvram reads it: any bytes, then the
// lookups and the walk every program and the nvram tool make.
#include <stdlib.h>

#include "fuzzkit.h"
#include "platform/nvram.h"

namespace {
void count(const char *key, const char *value, void *ctx) {
  *static_cast<size_t *>(ctx) += strlen(key) + strlen(value);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = [] {
    std::string p = rc::fuzz::scratch() + "/etc/nvram.conf";
    setenv("NVRAM_FILE", p.c_str(), 1);
    return p;
  }();
  rc::fuzz::put_file("etc/nvram.conf", data, size);
  if (nvram_init(0) == 0) {
    for (const char *key : {"lan_ip", "wan_connecttype", "a", ""}) free(nvram_bufget(0, key));
    size_t total = 0;
    nvram_foreach(0, count, &total);
    nvram_close(0);
  }
  return 0;
}
