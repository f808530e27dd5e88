// Configuration store access: open, read any number of keys, close.
//
// The result convention is the one every daemon relies on:
//   key absent       -> 0, destination ""
//   key present ""   -> 1, destination ""
//   key present "v"  -> 1, destination "v" (cut to the buffer, NUL-terminated)
#pragma once
#include <cstddef>

namespace rc {

class ConfigStore {
 public:
  // Never destroyed through a pointer to this base: no virtual destructor.
 protected:
  ~ConfigStore() = default;

 public:

  int Init_vxm810_cfm();  // always 1
  int CloseCfm();         // always 0
  int GetCfmValue(const char *key, char *dst, size_t size);
  template <size_t N>
  int GetCfmValue(const char *key, char (&dst)[N]) {
    return GetCfmValue(key, dst, N);
  }
  // The number a key holds, read as atoi reads it (0 when absent or empty).
  int GetCfmNumber(const char *key);

 protected:
  virtual void open() = 0;
  virtual void close() = 0;
  // Copies the value of key into dst[size] (cut, NUL-terminated).
  // Returns false when the key does not exist.
  virtual bool lookup(const char *key, char *dst, size_t size) = 0;
};

// The production store: the libnvram C API, area 0.
class NvramStore : public ConfigStore {
 protected:
  void open() override;
  void close() override;
  bool lookup(const char *key, char *dst, size_t size) override;
};

}  // namespace rc
