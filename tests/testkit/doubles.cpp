#include "doubles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/bstr.h"

namespace rc::test {

int RecordingShell::run(RunKind kind, const char *line, RunAlone) {
  std::string l = line;
  lines_.push_back((kind == RunKind::VK ? "vk: " : kind == RunKind::D ? "D: " : "sys: ") + l);
  for (auto &e : effects_)
    if (l.compare(0, e.first.size(), e.first) == 0) e.second(l);
  for (auto &r : results_)
    if (l.compare(0, r.first.size(), r.first) == 0) return r.second;
  return 0;
}

std::set<std::string, std::less<>> &MemStore::keysRead() {
  static std::set<std::string, std::less<>> keys;
  return keys;
}

bool MemStore::lookup(const char *key, char *dst, size_t size) {
  auto &read = keysRead();
  if (read.find(key) == read.end()) read.emplace(key);
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

void TempDir::write(const std::string &rel, const std::string &content) const { put_text(path_, rel, content); }

std::string TempDir::read(const std::string &rel) const { return read_file(path_ + "/" + rel); }

bool TempDir::exists(const std::string &rel) const { return access((path_ + "/" + rel).c_str(), F_OK) == 0; }

void put_file(const std::string &dir, const std::string &rel, const void *data, size_t len) {
  std::string path = dir + "/" + rel;
  for (size_t i = dir.size() + 1; i < path.size(); ++i)
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const char *p = static_cast<const char *>(data);
  while (fd >= 0 && len) {
    ssize_t n = write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    len -= static_cast<size_t>(n);
  }
  if (fd < 0 || len) {
    fprintf(stderr, "cannot write %s: %s\n", path.c_str(), strerror(errno));
    abort();
  }
  close(fd);
}

void put_text(const std::string &dir, const std::string &rel, const std::string &text) {
  put_file(dir, rel, text.data(), text.size());
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace rc::test
