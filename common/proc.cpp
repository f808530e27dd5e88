#include "common/proc.h"

#include "common/netutil.h"

#include <dirent.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rc {

namespace {

// Reads "<pid> (<name>) ..." from a stat line; the last ")" ends the name, so
// names that themselves hold ")" are read whole. Returns false when the line
// has no ") " at all.
bool parse_stat_name(char *line, int *pid, char name[16]) {
  char *close = strrchr(line, ')');
  if (!close || close[1] != ' ') return false;
  *close = '\0';
  char *open = strchr(line, '(');
  if (!open) return false;
  *pid = atoi(line);
  size_t n = strnlen(open + 1, 15);
  memcpy(name, open + 1, n);
  name[n] = '\0';
  return true;
}

}  // namespace

int get_proc_pid_self(const Paths &paths, const char *name) {
  Paths::Buf dirPath;
  paths.sys("/proc", dirPath);
  DIR *dir = opendir(dirPath);
  if (!dir) return 0;
  int found = 0;
  while (struct dirent *ent = readdir(dir)) {
    if (!isdigit(static_cast<unsigned char>(ent->d_name[0]))) continue;
    int pid = atoi(ent->d_name);
    if (pid < 12) continue;
    char path[Paths::kMax + 32];
    if (snprintf(path, sizeof path, "%s/%s/stat", dirPath, ent->d_name) >= int(sizeof path)) continue;
    struct stat st;
    char *slash = strrchr(path, '/');
    *slash = '\0';
    if (stat(path, &st) != 0) continue;
    *slash = '/';
    char line[1024];
    if (read_head(path, line, sizeof line) <= 0) continue;
    line[strcspn(line, "\n")] = '\0';
    int statPid = 0;
    char comm[16];
    if (!parse_stat_name(line, &statPid, comm)) continue;
    if (strcasecmp(comm, name) == 0) {
      found = statPid;
      break;
    }
  }
  closedir(dir);
  return found;
}

int ProcProcesses::get_proc_pid(const char *name) {
  int pid = get_proc_pid_self(paths_, name);
  return pid > 0 ? pid : 0;
}

int ProcProcesses::send_signal(int sig, const char *name) {
  int pid = get_proc_pid(name);
  if (pid > 0) kill(pid, sig);
  return 0;
}

}  // namespace rc
