// Runs recorded lines for real: each line ("D: " or "vk: " stripped) goes to
// /bin/sh inside a directory, after the absolute paths it names outside quotes
// (/etc/..., /var/...) are moved under that directory. Text inside quotes, the
// content being written, is left exactly as it is.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testkit_gtest.h"

namespace rc::test {

inline std::string rootedLine(const std::string &line, const std::string &dir) {
  std::string out;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quote) {
      if (c == quote) {
        quote = 0;
      } else if (quote == '"' && c == '\\' && i + 1 < line.size()) {
        out += c;
        c = line[++i];
      }
      out += c;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '\\' && i + 1 < line.size()) {
      out += c;
      c = line[++i];
    } else if ((i == 0 || line[i - 1] == ' ' || line[i - 1] == '>') &&
               (line.compare(i, 5, "/etc/") == 0 || line.compare(i, 5, "/var/") == 0)) {
      out += dir;
    }
    out += c;
  }
  return out;
}

// Runs every recorded line with /bin/sh -c in dir.
inline void runInDir(const std::vector<std::string> &recorded, const std::string &dir) {
  for (const auto &r : recorded) {
    size_t skip = r.compare(0, 3, "D: ") == 0 ? 3 : r.compare(0, 4, "vk: ") == 0 ? 4 : 0;
    ASSERT_NE(skip, 0u) << "not a recorded line: " << r;
    std::string line = rootedLine(r.substr(skip), dir);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
  }
}

}  // namespace rc::test
