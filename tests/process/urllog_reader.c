/* urllog_reader FILE HOLD_MS: reads FILE the way the web management server
 * reads /var/url.log: under a blocking whole-file write lock (fcntl). Holds
 * the lock HOLD_MS milliseconds and checks that the file did not change
 * meanwhile and that it is a whole log: a three-digit counter line, then
 * complete "time;address;name" lines, their number a multiple of three and
 * equal to the counter (the writer raises the counter and appends the lines
 * in one lock period). Prints "lines N" and exits 0, or says what is wrong
 * and exits 1. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static size_t slurp(int fd, char *buf, size_t size) {
  size_t got = 0;
  ssize_t n;
  while (got < size && (n = pread(fd, buf + got, size - got, (off_t)got)) > 0) got += (size_t)n;
  return got;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: urllog_reader FILE HOLD_MS\n");
    return 2;
  }
  int fd = open(argv[1], O_RDWR);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  struct flock lk;
  memset(&lk, 0, sizeof lk);
  lk.l_type = F_WRLCK;
  lk.l_whence = SEEK_SET;
  if (fcntl(fd, F_SETLKW, &lk) < 0) {
    perror("lock");
    return 1;
  }
  static char a[1 << 20], b[1 << 20];
  size_t na = slurp(fd, a, sizeof a - 1);
  usleep((useconds_t)atoi(argv[2]) * 1000);
  size_t nb = slurp(fd, b, sizeof b - 1);
  lk.l_type = F_UNLCK;
  fcntl(fd, F_SETLK, &lk);
  close(fd);
  if (na != nb || memcmp(a, b, na) != 0) {
    printf("changed while locked: %zu then %zu bytes\n", na, nb);
    return 1;
  }
  a[na] = 0;
  if (na < 4 || a[3] != '\n' || strspn(a, "0123456789") != 3) {
    printf("bad counter line: [%.8s]\n", a);
    return 1;
  }
  int counter = atoi(a), lines = 0;
  for (char *p = a + 4; *p; ++lines) {
    char *nl = strchr(p, '\n');
    if (!nl) {
      printf("cut line: [%s]\n", p);
      return 1;
    }
    *nl = 0;
    int semis = 0;
    for (char *q = p; *q; ++q) semis += *q == ';';
    if (semis != 2 || strlen(p) < 24 || p[4] != '-' || p[10] != ' ' || p[19] != ';') {
      printf("bad line: [%s]\n", p);
      return 1;
    }
    p = nl + 1;
  }
  if (lines % 3 != 0 || lines != counter) {
    printf("counter %d with %d lines\n", counter, lines);
    return 1;
  }
  printf("lines %d\n", lines);
  return 0;
}
