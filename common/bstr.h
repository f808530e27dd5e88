// Bounded text helpers: every copy is cut to the destination and always
// NUL-terminated, so no configuration value or file line can overrun a buffer.
#pragma once
#include <cstddef>
#include <cstring>

namespace rc {

// Copies src into dst[size], cutting it to size-1 characters. Returns dst.
inline char *bcopy_text(char *dst, size_t size, const char *src) {
  if (size == 0) return dst;
  size_t n = src ? strnlen(src, size - 1) : 0;
  if (n) memcpy(dst, src, n);
  dst[n] = '\0';
  return dst;
}

template <size_t N>
inline char *bcopy_text(char (&dst)[N], const char *src) {
  return bcopy_text(dst, N, src);
}

// Appends src to the text in dst[size], cutting to fit. Returns dst.
inline char *bappend_text(char *dst, size_t size, const char *src) {
  size_t used = strnlen(dst, size);
  if (used >= size) {  // not terminated: repair rather than overrun
    dst[size - 1] = '\0';
    return dst;
  }
  bcopy_text(dst + used, size - used, src);
  return dst;
}

}  // namespace rc
