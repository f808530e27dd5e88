/* Load on the configuration store for the process tests.
 *
 *   storeload write ID N   sets w<ID>_<i>=v<ID>.<i> for i = 0..N-1, one
 *                          nvram_bufset (one whole atomic write) each
 *   storeload read STOP N  until the file STOP exists, reads the store over
 *                          and over and checks each reading: for each of N
 *                          writers the keys present are w<ID>_0 up to some
 *                          w<ID>_<m-1> with no gap and their right values, and
 *                          m never goes down from one reading to the next
 *                          (a reading that lost an update, or saw half a file,
 *                          breaks one of these); prints the count of readings
 *   storeload check N M    the store holds all N * M keys with their values
 *
 * Exits 1 with a message on the first fault, 0 otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/nvram.h"

#define MAX_WRITERS 16

struct scan {
  int n;                  /* writers */
  int seen[MAX_WRITERS];  /* keys of each writer in this reading */
  long max[MAX_WRITERS];  /* highest index seen */
  const char *fault;
  char key[64];
};

static void visit(const char *key, const char *value, void *ctx) {
  struct scan *s = ctx;
  int id;
  long i;
  char tail;
  if (sscanf(key, "w%d_%ld%c", &id, &i, &tail) != 2) return; /* another key */
  char want[64];
  snprintf(want, sizeof want, "v%d.%ld", id, i);
  if (id < 0 || id >= s->n || strcmp(value, want) != 0) {
    s->fault = "a key with a wrong value";
    snprintf(s->key, sizeof s->key, "%s", key);
    return;
  }
  s->seen[id]++;
  if (i > s->max[id]) s->max[id] = i;
}

/* One reading; 0 when it is whole. */
static int read_once(int n, int *last) {
  struct scan s;
  memset(&s, 0, sizeof s);
  s.n = n;
  for (int i = 0; i < n; ++i) s.max[i] = -1;
  if (nvram_init(0) < 0) {
    perror("storeload: nvram_init");
    return -1;
  }
  nvram_foreach(0, visit, &s);
  nvram_close(0);
  if (s.fault) {
    fprintf(stderr, "storeload: %s: %s\n", s.fault, s.key);
    return -1;
  }
  for (int i = 0; i < n; ++i) {
    if (s.seen[i] != s.max[i] + 1) {
      fprintf(stderr, "storeload: writer %d: %d keys up to index %ld (a gap)\n", i, s.seen[i],
              s.max[i]);
      return -1;
    }
    if (last) {
      if (s.seen[i] < last[i]) {
        fprintf(stderr, "storeload: writer %d: %d keys after %d (an update lost)\n", i,
                s.seen[i], last[i]);
        return -1;
      }
      last[i] = s.seen[i];
    }
  }
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 4 && strcmp(argv[1], "write") == 0) {
    int id = atoi(argv[2]), n = atoi(argv[3]);
    for (int i = 0; i < n; ++i) {
      char key[32], value[32];
      snprintf(key, sizeof key, "w%d_%d", id, i);
      snprintf(value, sizeof value, "v%d.%d", id, i);
      if (nvram_bufset(0, key, value) < 0) {
        perror("storeload: nvram_bufset");
        return 1;
      }
    }
    return 0;
  }
  if (argc == 4 && strcmp(argv[1], "read") == 0) {
    int n = atoi(argv[3]);
    if (n < 1 || n > MAX_WRITERS) return 2;
    int last[MAX_WRITERS] = {0};
    long reads = 0;
    while (access(argv[2], F_OK) != 0) {
      if (read_once(n, last) < 0) return 1;
      ++reads;
    }
    printf("%ld\n", reads);
    return 0;
  }
  if (argc == 4 && strcmp(argv[1], "check") == 0) {
    int n = atoi(argv[2]), m = atoi(argv[3]);
    if (n < 1 || n > MAX_WRITERS) return 2;
    int last[MAX_WRITERS] = {0};
    if (read_once(n, last) < 0) return 1;
    for (int i = 0; i < n; ++i) {
      if (last[i] != m) {
        fprintf(stderr, "storeload: writer %d: %d keys of %d\n", i, last[i], m);
        return 1;
      }
    }
    return 0;
  }
  fprintf(stderr, "usage: storeload write ID N | read STOPFILE N | check N M\n");
  return 2;
}
