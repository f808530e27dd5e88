// Test doubles for the daemons' services, shared by the unit tests, the fuzz
// targets and the benchmarks (no test framework here; testkit.h adds the
// GoogleTest helpers): shells that record or count command lines, an
// in-memory configuration store, clocks, a process table, temporary
// directories and file writers.
#pragma once
#include <cstddef>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/cfm.h"
#include "common/clock.h"
#include "common/ipc.h"
#include "common/proc.h"
#include "common/shell.h"

namespace rc::test {

// Records lines as "vk: <line>" (vk_SystemEx), "D: <line>" (doSystemCmd) or
// "sys: <line>" (systemQuiet).
class RecordingShell : public Shell {
 public:
  explicit RecordingShell(ShellOptions opts = {}) : Shell(opts) {}

  // A scripted side effect for every line that starts with prefix.
  void on(const std::string &prefix, std::function<void(const std::string &line)> fn) {
    effects_.push_back({prefix, std::move(fn)});
  }
  // The result run() returns for every line that starts with prefix (0 for
  // the others): a shell status such as 256 for "exit 1".
  void result(const std::string &prefix, int status) { results_.push_back({prefix, status}); }
  std::vector<std::string> take() {
    std::vector<std::string> out;
    out.swap(lines_);
    return out;
  }
  const std::vector<std::string> &lines() const { return lines_; }
  void clear() { lines_.clear(); }

 protected:
  int run(RunKind kind, const char *line, RunAlone) override;

 private:
  std::vector<std::string> lines_;
  std::vector<std::pair<std::string, std::function<void(const std::string &)>>> effects_;
  std::vector<std::pair<std::string, int>> results_;
};

// Runs nothing and keeps nothing but the number of lines it was given: for
// the fuzz targets and the benchmarks, where recording would allocate.
class CountingShell : public Shell {
 public:
  explicit CountingShell(ShellOptions opts = ShellOptions{1024, false}) : Shell(opts) {}
  long lines = 0;

 protected:
  int run(RunKind, const char *, RunAlone) override {
    ++lines;
    return 0;
  }
};

// Looking up a key that is already known allocates nothing, so a periodic
// pass that reads the store can be measured with it.
class MemStore : public ConfigStore {
 public:
  MemStore() = default;
  MemStore(std::initializer_list<std::pair<const std::string, std::string>> init) : values_(init) {}
  void set(const std::string &k, const std::string &v) { values_[k] = v; }
  void unset(const std::string &k) { values_.erase(k); }
  bool has(const std::string &k) const { return values_.count(k) != 0; }
  void clear() { values_.clear(); }
  int opens = 0, closes = 0;
  bool isOpen() const { return opens > closes; }
  // Every key any MemStore of this program looked up, present or not: what
  // the program under test reads (checked against the documented keys).
  static std::set<std::string, std::less<>> &keysRead();

 protected:
  void open() override { ++opens; }
  void close() override { ++closes; }
  bool lookup(const char *key, char *dst, size_t size) override;

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

// Time starts at `start` (seconds since the epoch, read as local time in UTC)
// and moves only when set or slept through.
class FakeClock : public Clock {
 public:
  explicit FakeClock(time_t start = 0) : now_(start) {}
  time_t now() override { return now_; }
  void localNow(struct tm *out) override { gmtime_r(&now_, out); }
  void sleepSeconds(unsigned s) override {
    sleeps.push_back(1000000L * s);
    now_ += s;
  }
  void sleepMicros(unsigned us) override {
    sleeps.push_back(us);
    micros_ += us;
    now_ += micros_ / 1000000;
    micros_ %= 1000000;
  }
  long monotonicMs() override { return static_cast<long>(now_) * 1000 + micros_ / 1000; }
  void set(time_t t) { now_ = t; }
  // Sets the clock to a given weekday (0 = Sunday) and time of day.
  void setWeekTime(int wday, int hour, int min);
  std::vector<long> sleeps;  // every wait, in microseconds

 private:
  time_t now_;
  long micros_ = 0;
};

// Always `at` (read as local time in UTC); waits return at once and record
// nothing: for the fuzz targets and the benchmarks, which run the same code
// many times over.
class FixedClock : public Clock {
 public:
  explicit FixedClock(time_t at) : at_(at) {}
  time_t now() override { return at_; }
  void localNow(struct tm *out) override { gmtime_r(&at_, out); }
  void sleepSeconds(unsigned) override {}
  void sleepMicros(unsigned) override {}
  long monotonicMs() override { return static_cast<long>(at_) * 1000; }

 private:
  time_t at_;
};

class FakeProcesses : public Processes {
 public:
  void add(const std::string &name, int pid) { table_[lower(name)] = pid; }
  void remove(const std::string &name) { table_.erase(lower(name)); }
  bool running(const std::string &name) const { return table_.count(lower(name)) != 0; }
  int get_proc_pid(const char *name) override;
  int send_signal(int sig, const char *name) override;
  std::vector<std::string> signals;  // "<sig> <name>" for each signal sent to a live process
  // Called on every signal sent to a live process; default: SIGKILL/SIGTERM end it.
  std::function<void(int sig, const std::string &name)> onSignal;

 private:
  static std::string lower(std::string s);
  std::map<std::string, int> table_;
};

// IPC in memory: segments are buffers kept per key (zeroed on clear), the
// queue hands out `commands`, and every call is noted in `calls` ("createsem
// 201 1", "createshm 205 32776 clear", "queue 201", "timer 201", "lock",
// "poll"). `queueFails` makes openQueue fail; every tick wait returns `lockResult`.
class FakeIpc : public Ipc {
 public:
  int createsem(int *semid, key_t key, int count) override {
    return note("createsem " + std::to_string(key) + " " + std::to_string(count)), *semid = key, 1;
  }
  int locksem(int, int) override { return note("lock"), lockResult; }
  void startTimer(int semid) override { note("timer " + std::to_string(semid)); }
  int createshm(int *shmid, key_t key, size_t size, void **addr, bool clear) override {
    note("createshm " + std::to_string(key) + " " + std::to_string(size) + (clear ? " clear" : ""));
    std::vector<unsigned char> &seg = segments[key];
    seg.resize(size);
    if (clear) seg.assign(size, 0);
    return *shmid = key, *addr = seg.data(), 1;
  }
  int openQueue(key_t key) override { return note("queue " + std::to_string(key)), queueFails ? -1 : key; }
  long pollCmd(int) override {
    note("poll");
    long cmd = commands.empty() ? 0 : commands.front();
    if (!commands.empty()) commands.erase(commands.begin());
    return cmd;
  }

  std::vector<std::string> calls;
  std::vector<long> commands;
  bool queueFails = false;
  int lockResult = 0;
  std::map<key_t, std::vector<unsigned char>> segments;

 private:
  void note(std::string call) { calls.push_back(std::move(call)); }
};

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &rel) const { return path_ + "/" + rel; }
  // Writes a file (creating parent directories), relative to the directory.
  void write(const std::string &rel, const std::string &content) const;
  std::string read(const std::string &rel) const;
  bool exists(const std::string &rel) const;

 private:
  std::string path_;
};

// Writes len bytes to dir/rel, making the directories below dir on the way;
// a write that fails ends the program (the fixture would be wrong).
void put_file(const std::string &dir, const std::string &rel, const void *data, size_t len);
void put_text(const std::string &dir, const std::string &rel, const std::string &text);

// Reads a whole file; "" when it cannot be opened.
std::string read_file(const std::string &path);

// The parts one after the other (expected lines built from named groups).
inline std::vector<std::string> cat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (auto &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace rc::test
