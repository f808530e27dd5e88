/* sendmsg KEY COMMAND: posts one command to a daemon's System V message queue.
 *
 * The message has type COMMAND and an empty text. The queue with key KEY is
 * created (mode 0666) when it does not exist. The tool never blocks: the
 * daemons wait for it, so a full queue of a daemon that no longer reads must
 * not freeze them; it is reported and the exit status is 1. Bad arguments
 * give the usage and exit status 2.
 */
#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include "common/abi/cmdmsg.h"

static int usage(void) {
  fputs("usage: sendmsg KEY COMMAND\n"
        "  KEY      decimal System V key of the queue (not 0)\n"
        "  COMMAND  decimal command number, 1 or more\n",
        stderr);
  return 2;
}

/* Parses a whole decimal argument into [min, max]. */
static int parse_long(const char *s, long min, long max, long *out) {
  /* Plain decimal only: no blanks, no '+', no hexadecimal. */
  const char *d = *s == '-' ? s + 1 : s;
  if (*d < '0' || *d > '9') return -1;
  char *end;
  errno = 0;
  long v = strtol(s, &end, 10);
  if (errno || *end || v < min || v > max) return -1;
  *out = v;
  return 0;
}

int main(int argc, char **argv) {
  long key, cmd;
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (argc != 3) return usage();
  if (parse_long(argv[1], INT_MIN, INT_MAX, &key) < 0 || key == IPC_PRIVATE) {
    fprintf(stderr, "sendmsg: bad queue key: %s\n", argv[1]);
    return usage();
  }
  if (parse_long(argv[2], 1, LONG_MAX, &cmd) < 0) {
    fprintf(stderr, "sendmsg: bad command number: %s\n", argv[2]);
    return usage();
  }
  int id = msgget((key_t)key, IPC_CREAT | 0666);
  if (id < 0) {
    fprintf(stderr, "sendmsg: cannot open queue %ld: %s\n", key, strerror(errno));
    return 1;
  }
  struct cmdmsg msg = {cmd, {0}};
  int rc;
  do {
    rc = msgsnd(id, &msg, 0, IPC_NOWAIT);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    if (errno == EAGAIN)
      fprintf(stderr, "sendmsg: queue %ld is full, command %ld not posted\n", key, cmd);
    else
      fprintf(stderr, "sendmsg: cannot post command %ld to queue %ld: %s\n", cmd, key, strerror(errno));
    return 1;
  }
  return 0;
}
