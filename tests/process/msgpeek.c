/* msgpeek: inspects System V message queues for the process tests.
 *
 *   msgpeek KEY              takes every message now in queue KEY, without
 *                            waiting, and prints "TYPE SIZE" per message
 *   msgpeek --stat KEY       prints "mode=0NNN qnum=N" of queue KEY
 *   msgpeek --limit KEY N    sets the queue's byte limit (msg_qbytes) to N,
 *                            creating the queue; the kernel also caps the
 *                            message count at N, so N=2 makes it full after
 *                            two empty messages
 *   msgpeek --send KEY TYPE BYTES
 *                            posts one message of type TYPE with BYTES bytes
 *                            of text (at most 8192), creating the queue
 *
 * Exit status: 0, 1 when the queue does not exist or a call fails, 2 usage.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>

struct anymsg {
  long mtype;
  char mtext[8192];
};

static int usage(void) {
  fputs("usage: msgpeek KEY | msgpeek --stat KEY | msgpeek --limit KEY BYTES |"
        " msgpeek --send KEY TYPE BYTES\n", stderr);
  return 2;
}

static int number(const char *s, long *out) {
  char *end;
  errno = 0;
  *out = strtol(s, &end, 10);
  return (*s && !*end && !errno) ? 0 : -1;
}

static int open_queue(long key, int flags) {
  int id = msgget((key_t)key, flags);
  if (id < 0) fprintf(stderr, "msgpeek: queue %ld: %s\n", key, strerror(errno));
  return id;
}

int main(int argc, char **argv) {
  long key, n;
  if (argc == 2 && number(argv[1], &key) == 0) {
    int id = open_queue(key, 0);
    if (id < 0) return 1;
    static struct anymsg m;
    for (;;) {
      ssize_t got = msgrcv(id, &m, sizeof m.mtext, 0, IPC_NOWAIT | MSG_NOERROR);
      if (got < 0) {
        if (errno == ENOMSG) return 0;
        fprintf(stderr, "msgpeek: msgrcv: %s\n", strerror(errno));
        return 1;
      }
      printf("%ld %zd\n", m.mtype, got);
    }
  }
  if (argc == 3 && strcmp(argv[1], "--stat") == 0 && number(argv[2], &key) == 0) {
    int id = open_queue(key, 0);
    if (id < 0) return 1;
    struct msqid_ds ds;
    if (msgctl(id, IPC_STAT, &ds) < 0) {
      fprintf(stderr, "msgpeek: IPC_STAT: %s\n", strerror(errno));
      return 1;
    }
    printf("mode=0%03o qnum=%lu\n", (unsigned)(ds.msg_perm.mode & 0777), (unsigned long)ds.msg_qnum);
    return 0;
  }
  if (argc == 4 && strcmp(argv[1], "--limit") == 0 && number(argv[2], &key) == 0 &&
      number(argv[3], &n) == 0 && n >= 0) {
    int id = open_queue(key, IPC_CREAT | 0666);
    if (id < 0) return 1;
    struct msqid_ds ds;
    if (msgctl(id, IPC_STAT, &ds) < 0) {
      fprintf(stderr, "msgpeek: IPC_STAT: %s\n", strerror(errno));
      return 1;
    }
    ds.msg_qbytes = (msglen_t)n;
    if (msgctl(id, IPC_SET, &ds) < 0) {
      fprintf(stderr, "msgpeek: IPC_SET: %s\n", strerror(errno));
      return 1;
    }
    return 0;
  }
  long type;
  if (argc == 5 && strcmp(argv[1], "--send") == 0 && number(argv[2], &key) == 0 &&
      number(argv[3], &type) == 0 && type > 0 && number(argv[4], &n) == 0 && n >= 0 &&
      n <= (long)sizeof(struct anymsg) - (long)sizeof(long)) {
    int id = open_queue(key, IPC_CREAT | 0666);
    if (id < 0) return 1;
    static struct anymsg m;
    m.mtype = type;
    memset(m.mtext, 'x', (size_t)n);
    if (msgsnd(id, &m, (size_t)n, IPC_NOWAIT) < 0) {
      fprintf(stderr, "msgpeek: msgsnd: %s\n", strerror(errno));
      return 1;
    }
    return 0;
  }
  return usage();
}
