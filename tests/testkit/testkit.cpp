#include "testkit.h"

#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/bstr.h"

namespace rc::test {

int RecordingShell::run(RunKind kind, const char *line) {
  std::string l = line;
  lines_.push_back((kind == RunKind::VK ? "vk: " : kind == RunKind::D ? "D: " : "sys: ") + l);
  for (auto &e : effects_)
    if (l.compare(0, e.first.size(), e.first) == 0) e.second(l);
  for (auto &r : results_)
    if (l.compare(0, r.first.size(), r.first) == 0) return r.second;
  return 0;
}

::testing::AssertionResult SameLines(const std::vector<std::string> &actual,
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

::testing::AssertionResult SameLines(RecordingShell &shell, const std::vector<std::string> &expected) {
  return SameLines(shell.take(), expected);
}

std::set<std::string> &MemStore::keysRead() {
  static std::set<std::string> keys;
  return keys;
}

bool MemStore::lookup(const char *key, char *dst, size_t size) {
  keysRead().insert(key);
  auto it = values_.find(key);
  if (it == values_.end()) return false;
  bcopy_text(dst, size, it->second.c_str());
  return true;
}

void FakeClock::setWeekTime(int wday, int hour, int min) {
  // 1970-01-04 was a Sunday.
  now_ = (3 + wday) * 86400L + hour * 3600L + min * 60L;
}

std::string FakeProcesses::lower(std::string s) {
  for (auto &c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

int FakeProcesses::get_proc_pid(const char *name) {
  auto it = table_.find(lower(name));
  return it == table_.end() ? 0 : it->second;
}

int FakeProcesses::send_signal(int sig, const char *name) {
  if (!running(name)) return 0;
  signals.push_back(std::to_string(sig) + " " + name);
  if (onSignal)
    onSignal(sig, name);
  else if (sig == SIGKILL || sig == SIGTERM)
    remove(name);
  return 0;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/rctest.XXXXXX";
  char *p = mkdtemp(tmpl);
  if (!p) abort();
  path_ = p;
}

TempDir::~TempDir() {
  std::string cmd = "rm -rf '" + path_ + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

void TempDir::write(const std::string &rel, const std::string &content) const {
  std::string full = path_ + "/" + rel;
  for (size_t i = path_.size() + 1; i < full.size(); ++i)
    if (full[i] == '/') mkdir(full.substr(0, i).c_str(), 0755);
  std::ofstream(full, std::ios::binary) << content;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string TempDir::read(const std::string &rel) const { return read_file(path_ + "/" + rel); }

bool TempDir::exists(const std::string &rel) const { return access((path_ + "/" + rel).c_str(), F_OK) == 0; }

std::string toGbk(const std::string &utf8) {
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
