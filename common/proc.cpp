#include "common/proc.h"

#include "common/netutil.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

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

// One entry of the kernel's getdents64 answer.
struct dirent64_rec {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

// The process whose /proc entry is named entry (digits), when its command
// name is name: its pid, else 0.
int match_entry(const char *dirPath, const char *entry, const char *name) {
  if (!isdigit(static_cast<unsigned char>(entry[0]))) return 0;
  int pid = atoi(entry);
  if (pid < 12) return 0;
  char path[Paths::kMax + 32];
  if (snprintf(path, sizeof path, "%s/%s/stat", dirPath, entry) >= int(sizeof path)) return 0;
  struct stat st;
  char *slash = strrchr(path, '/');
  *slash = '\0';
  if (stat(path, &st) != 0) return 0;
  *slash = '/';
  char line[1024];
  if (read_head(path, line, sizeof line) <= 0) return 0;
  line[strcspn(line, "\n")] = '\0';
  int statPid = 0;
  char comm[16];
  if (!parse_stat_name(line, &statPid, comm)) return 0;
  return strcasecmp(comm, name) == 0 ? statPid : 0;
}

}  // namespace

// The directory is read with getdents64 into a buffer on the stack rather
// than with opendir, which allocates: the watchdogs look processes up from
// the one-second loops, which allocate nothing.
int get_proc_pid_self(const Paths &paths, const char *name) {
  Paths::Buf dirPath;
  paths.sys("/proc", dirPath);
  int fd = open(dirPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  alignas(8) char buf[4096];
  int found = 0;
  long n;
  while (!found && (n = syscall(SYS_getdents64, fd, buf, sizeof buf)) > 0) {
    for (long off = 0; off < n && !found;) {
      const dirent64_rec *ent = reinterpret_cast<const dirent64_rec *>(buf + off);
      if (ent->d_reclen == 0) break;
      off += ent->d_reclen;
      found = match_entry(dirPath, ent->d_name, name);
    }
  }
  close(fd);
  return found;
}

int ProcessesRef::get_proc_pid(const char *name) const {
  if (seams_doubled && procs_) return procs_->get_proc_pid(name);
  int pid = get_proc_pid_self(*paths_, name);
  return pid > 0 ? pid : 0;
}

int ProcessesRef::send_signal(int sig, const char *name) const {
  if (seams_doubled && procs_) return procs_->send_signal(sig, name);
  int pid = get_proc_pid(name);
  if (pid > 0) kill(pid, sig);
  return 0;
}

}  // namespace rc
