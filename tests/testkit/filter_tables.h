// Full filter tables for the idle-pass test and the benchmark: 32 client, 32
// URL and 32 MAC records, all enabled, whole day every day (no record ever
// crosses a schedule boundary). Store is anything with set(key, value).
#pragma once
#include <cstdio>
#include <string>

namespace rc::test {

template <typename Store>
void fillFilterTables(Store &store) {
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

}  // namespace rc::test
