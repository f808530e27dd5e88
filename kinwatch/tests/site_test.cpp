// diffUlr's documented cases and the names that may reach the log.
#include "fixture.h"

namespace rc::test {
namespace {

TEST(DiffUlr, DocumentedCases) {
  const std::string x127(127, 'x');
  struct Case {
    std::string name, last;
    int want;
  } cases[] = {
      {"mail.example.com", "www.example.com", 0},  // only the leftmost label differs
      {"www.example.com", "www.example.org", 1},   // top-level label differs
      {"www.example.com", "www.sample.com", 1},
      {"example.com", "test.com", 0},              // two labels each: the top level decides
      {"example.com", "example.org", 1},
      {"localhost", "www.example.com", 0},         // no dot: same as anything
      {"www.example.com", "router", 0},
      {"WWW.Example.COM", "mail.EXAMPLE.com", 0},  // case does not count
      {"a.b.example.com", "example.com", 0},       // fewer dots: its leftmost label left out
      {"news.bbc.co.uk", "www.bbc.co.uk", 0},
      {"www.ab.com", "x.b.com", 0},                // "ab" against "b": only the b compared
      {"www.ab.com", "x.cb.com", 1},
      {"a." + x127, "b.com", 0},                   // the dot lies outside the 127-character tail
      {"b.com", "a." + x127, 0},
      {std::string(130, 'z') + ".example.com", "mail.example.com", 0},  // long: the tail decides
      {std::string(130, 'z') + ".example.com", "mail.example.net", 1},
      {"", "www.example.com", 0},
  };
  for (const auto &c : cases)
    EXPECT_EQ(diffUlr(c.name.c_str(), c.last.c_str()), c.want) << c.name << " / " << c.last;
}

TEST(RecordName, OnlySafeNamesAreTaken) {
  struct Case {
    std::string bytes;  // the 128 name bytes (NUL-padded when shorter)
    bool taken;
  } cases[] = {
      {"www.example.com", true},
      {std::string(127, 'a'), true},
      {std::string(128, 'a'), false},  // no NUL within the record
      {"www.example.com;<b>x</b>", false},
      {"www.exa\nmple.com", false},
      {"www.\x7f.com", false},
      {"www.\xe4\xb8\xad.com", false},
      {"Mail-2_x.EXAMPLE.com", true},
      {"<img src=x onerror=alert(1)>.example", false},
      {"a b.com", false},
      {"$(reboot).com", false},
      {"`id`.x'y\"z.com", false},
      {"a&b|c>d.com", false},
      {"a/b\\c%41.com", false},
      {std::string("ok\0;hidden", 10), true},  // what follows the NUL does not count
  };
  for (const auto &c : cases) {
    std::string rec(KinWatch::kRecordSize, '\0');
    memcpy(&rec[4], c.bytes.data(), c.bytes.size());
    char out[KinWatch::kNameSize];
    bool got = record_name(reinterpret_cast<const unsigned char *>(rec.data()), out);
    EXPECT_EQ(got, c.taken) << c.bytes;
    if (got) {
      EXPECT_STREQ(out, c.bytes.c_str());
    }
  }
}

}  // namespace
}  // namespace rc::test
