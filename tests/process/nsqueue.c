/* nsqueue: the command queues of many daemons, each in an IPC namespace of
 * its own, for the process tests that run many instances side by side.
 *
 *   nsqueue KEY post CMD[,CMD...] PID...
 *       posts the commands, in order, to queue KEY (decimal) of each PID's
 *       IPC namespace, as sendmsg does (type CMD, empty text); the queue
 *       must exist.
 *   nsqueue KEY wait SECONDS PID...
 *       waits until queue KEY exists and is empty in each PID's namespace
 *       (checked every 20 ms).
 *
 * Exit status: 0; 1 when a post failed, the time ran out or a process
 * ended (each such PID is named on standard error); 2 usage.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <time.h>
#include <unistd.h>

#include "common/abi/cmdmsg.h"

/* Enters PID's IPC namespace; -1 when it cannot. */
static int enter(int pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/ns/ipc", pid);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  int rc = setns(fd, CLONE_NEWIPC);
  close(fd);
  return rc;
}

static int post(key_t key, const char *cmds, int pid) {
  if (enter(pid) < 0) {
    fprintf(stderr, "nsqueue: pid %d: no IPC namespace (ended?)\n", pid);
    return -1;
  }
  int id = msgget(key, 0);
  if (id < 0) {
    fprintf(stderr, "nsqueue: pid %d: no queue %d\n", pid, (int)key);
    return -1;
  }
  for (const char *p = cmds; *p;) {
    struct cmdmsg msg = {strtol(p, NULL, 10), {0}};
    if (msg.mtype < 1 || msgsnd(id, &msg, 0, IPC_NOWAIT) < 0) {
      fprintf(stderr, "nsqueue: pid %d: cannot post %ld: %s\n", pid, msg.mtype, strerror(errno));
      return -1;
    }
    p = strchr(p, ',');
    if (!p) break;
    ++p;
  }
  return 0;
}

/* 1 when queue KEY of PID's namespace exists and is empty, 0 when not yet,
 * -1 when the process ended. */
static int drained(key_t key, int pid) {
  if (kill(pid, 0) < 0 || enter(pid) < 0) return -1;
  int id = msgget(key, 0);
  struct msqid_ds ds;
  return id >= 0 && msgctl(id, IPC_STAT, &ds) == 0 && ds.msg_qnum == 0;
}

static double now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
  if (argc < 5 || (strcmp(argv[2], "post") != 0 && strcmp(argv[2], "wait") != 0)) {
    fputs("usage: nsqueue KEY post CMD[,CMD...] PID... | nsqueue KEY wait SECONDS PID...\n", stderr);
    return 2;
  }
  key_t key = (key_t)atoi(argv[1]);
  int n = argc - 4, status = 0;
  int *pids = calloc((size_t)n, sizeof *pids);
  if (!pids) return 1;
  for (int i = 0; i < n; ++i) pids[i] = atoi(argv[4 + i]);

  if (strcmp(argv[2], "post") == 0) {
    for (int i = 0; i < n; ++i)
      if (post(key, argv[3], pids[i]) < 0) status = 1;
    free(pids);
    return status;
  }

  double deadline = now() + atof(argv[3]);
  int left = n;
  while (left > 0 && now() <= deadline) {
    for (int i = 0; i < n; ++i) {
      if (!pids[i]) continue;
      int d = drained(key, pids[i]);
      if (d == 0) continue;
      if (d < 0) {
        fprintf(stderr, "nsqueue: pid %d ended\n", pids[i]);
        status = 1;
      }
      pids[i] = 0;
      --left;
    }
    if (left > 0) usleep(20000);
  }
  for (int i = 0; i < n; ++i) {
    if (!pids[i]) continue;
    fprintf(stderr, "nsqueue: pid %d: queue %d not empty in time\n", pids[i], (int)key);
    status = 1;
  }
  free(pids);
  return status;
}
