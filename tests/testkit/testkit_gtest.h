// The unit tests' kit: the test doubles (doubles.h) and the GoogleTest
// helpers that compare recorded command lines and stored GBK texts.
#pragma once
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "doubles.h"

namespace rc::test {

// Compares the recorded lines with an expected literal list, reports the first
// line that differs.
inline ::testing::AssertionResult SameLines(const std::vector<std::string> &actual,
                                            const std::vector<std::string> &expected) {
  size_t n = std::min(actual.size(), expected.size());
  for (size_t i = 0; i < n; ++i) {
    if (actual[i] != expected[i])
      return ::testing::AssertionFailure() << "line " << i + 1 << " differs\n  expected: "
                                           << expected[i] << "\n  actual:   " << actual[i];
  }
  if (actual.size() != expected.size()) {
    auto f = ::testing::AssertionFailure();
    f << "expected " << expected.size() << " lines, got " << actual.size();
    if (actual.size() > n) f << "; first extra: " << actual[n];
    if (expected.size() > n) f << "; first missing: " << expected[n];
    return f;
  }
  return ::testing::AssertionSuccess();
}

// The same with the shell's record, which it clears.
inline ::testing::AssertionResult SameLines(RecordingShell &shell, const std::vector<std::string> &expected) {
  return SameLines(shell.take(), expected);
}

// The GBK bytes of a UTF-8 text, by the C library's iconv: the reference the
// daemons' stored GBK texts are checked against.
inline std::string toGbk(const std::string &utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string in = utf8;
  char out[256];
  char *ip = &in[0], *op = out;
  size_t il = in.size(), ol = sizeof out;
  EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1));
  iconv_close(cd);
  return std::string(out, op);
}

}  // namespace rc::test
