/* libnvram: the configuration store in a text file (see nvram.h).
 *
 * The whole store is read into a sorted table of key/value pairs. Readers
 * read the file under a shared flock; writers take an exclusive flock, read
 * the current file, change the table, write it to "<file>.tmp", fsync it and
 * rename it over the file. The lock is held on a separate file,
 * "<file>.lock", because the data file itself is replaced on every write.
 */
#define _GNU_SOURCE
#include "platform/nvram.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define DEFAULT_PATH "/etc/nvram.conf"
#define MAX_WARNINGS 5

struct entry {
  char *key;
  char *value;
  size_t seq; /* line order while loading, so the later duplicate wins */
};

struct table {
  struct entry *e;
  size_t n, cap;
};

static struct table g_store;
static int g_loaded;

const char *nvram_path(void) {
  const char *p = getenv("NVRAM_FILE");
  return (p && *p) ? p : DEFAULT_PATH;
}

/* ---- table ---- */

static void table_free(struct table *t) {
  for (size_t i = 0; i < t->n; ++i) {
    free(t->e[i].key);
    free(t->e[i].value);
  }
  free(t->e);
  t->e = NULL;
  t->n = t->cap = 0;
}

static int table_reserve(struct table *t, size_t want) {
  if (want <= t->cap) return 0;
  size_t cap = t->cap ? t->cap * 2 : 64;
  while (cap < want) cap *= 2;
  struct entry *e = realloc(t->e, cap * sizeof *e);
  if (!e) return -1;
  t->e = e;
  t->cap = cap;
  return 0;
}

static int entry_cmp(const void *a, const void *b) {
  const struct entry *x = a, *y = b;
  int c = strcmp(x->key, y->key);
  if (c) return c;
  return (x->seq > y->seq) - (x->seq < y->seq);
}

/* Sorts by key and keeps only the last line of each key. */
static void table_settle(struct table *t) {
  if (t->n < 2) return;
  qsort(t->e, t->n, sizeof *t->e, entry_cmp);
  size_t out = 0;
  for (size_t i = 0; i < t->n; ++i) {
    if (i + 1 < t->n && strcmp(t->e[i].key, t->e[i + 1].key) == 0) {
      free(t->e[i].key);
      free(t->e[i].value);
      continue;
    }
    t->e[out++] = t->e[i];
  }
  t->n = out;
}

/* Index of key, or -(insertion point) - 1. */
static long table_find(const struct table *t, const char *key) {
  size_t lo = 0, hi = t->n;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    int c = strcmp(t->e[mid].key, key);
    if (c == 0) return (long)mid;
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return -(long)lo - 1;
}

/* Sets key to value in a settled table (copies both). */
static int table_put(struct table *t, const char *key, const char *value) {
  char *v = strdup(value);
  if (!v) return -1;
  long at = table_find(t, key);
  if (at >= 0) {
    free(t->e[at].value);
    t->e[at].value = v;
    return 0;
  }
  char *k = strdup(key);
  if (!k || table_reserve(t, t->n + 1) < 0) {
    free(k);
    free(v);
    errno = ENOMEM;
    return -1;
  }
  size_t pos = (size_t)(-at - 1);
  memmove(&t->e[pos + 1], &t->e[pos], (t->n - pos) * sizeof *t->e);
  t->e[pos].key = k;
  t->e[pos].value = v;
  t->e[pos].seq = 0;
  t->n++;
  return 0;
}

static void table_remove(struct table *t, const char *key) {
  long at = table_find(t, key);
  if (at < 0) return;
  free(t->e[at].key);
  free(t->e[at].value);
  memmove(&t->e[at], &t->e[at + 1], (t->n - (size_t)at - 1) * sizeof *t->e);
  t->n--;
}

/* ---- text format ---- */

static int needs_escape(char c) { return c == '\\' || c == '\n' || c == '\r'; }

/* Length of value once escaped. */
static size_t escaped_len(const char *value) {
  size_t n = 0;
  for (; *value; ++value) n += needs_escape(*value) ? 2 : 1;
  return n;
}

/* Writes the escaped value at out (escaped_len bytes, no NUL); returns the end. */
static char *put_escaped(char *out, const char *value) {
  for (; *value; ++value) {
    char c = *value;
    if (needs_escape(c)) {
      *out++ = '\\';
      *out++ = c == '\\' ? '\\' : c == '\n' ? 'n' : 'r';
    } else {
      *out++ = c;
    }
  }
  return out;
}

char *nvram_escape(const char *value) {
  char *out = malloc(escaped_len(value) + 1);
  if (!out) return NULL;
  *put_escaped(out, value) = '\0';
  return out;
}

/* Decodes len bytes of an escaped value into a new string. An unknown escape
 * or a trailing lone backslash is kept as written. */
static char *unescape(const char *s, size_t len) {
  char *out = malloc(len + 1);
  if (!out) return NULL;
  size_t o = 0;
  for (size_t i = 0; i < len; ++i) {
    if (s[i] == '\\' && i + 1 < len) {
      char n = s[i + 1];
      if (n == '\\' || n == 'n' || n == 'r') {
        out[o++] = n == '\\' ? '\\' : n == 'n' ? '\n' : '\r';
        ++i;
        continue;
      }
    }
    out[o++] = s[i];
  }
  out[o] = '\0';
  return out;
}

static int valid_key(const char *key) {
  if (!key || !*key || key[0] == '#') return 0;
  if (strlen(key) >= NVRAM_MAX_LINE) return 0;
  return strpbrk(key, "=\r\n") == NULL;
}

struct warner {
  const char *path;
  unsigned count;
};

static void warn_line(struct warner *w, size_t lineno, const char *why) {
  if (++w->count <= MAX_WARNINGS)
    fprintf(stderr, "nvram: %s:%zu: %s, line skipped\n", w->path, lineno, why);
}

/* Parses a whole file image into t (appending; the caller settles). */
static int parse(const char *buf, size_t len, const char *path, struct table *t) {
  struct warner w = {path, 0};
  size_t lineno = 0, pos = 0;
  while (pos < len) {
    const char *line = buf + pos;
    const char *nl = memchr(line, '\n', len - pos);
    size_t n = nl ? (size_t)(nl - line) : len - pos;
    pos += n + (nl ? 1 : 0);
    ++lineno;
    if (n > 0 && line[n - 1] == '\r') --n;
    if (n == 0 || line[0] == '#') continue;
    if (n > NVRAM_MAX_LINE) {
      warn_line(&w, lineno, "line too long");
      continue;
    }
    if (memchr(line, '\0', n)) {
      warn_line(&w, lineno, "NUL byte in line");
      continue;
    }
    const char *eq = memchr(line, '=', n);
    if (!eq) {
      warn_line(&w, lineno, "no '='");
      continue;
    }
    if (eq == line) {
      warn_line(&w, lineno, "empty key");
      continue;
    }
    if (table_reserve(t, t->n + 1) < 0) goto nomem;
    char *key = strndup(line, (size_t)(eq - line));
    char *value = unescape(eq + 1, n - (size_t)(eq - line) - 1);
    if (!key || !value) {
      free(key);
      free(value);
      goto nomem;
    }
    t->e[t->n].key = key;
    t->e[t->n].value = value;
    t->e[t->n].seq = t->n;
    t->n++;
  }
  if (w.count > MAX_WARNINGS)
    fprintf(stderr, "nvram: %s: %u more malformed lines skipped\n", path, w.count - MAX_WARNINGS);
  return 0;
nomem:
  fprintf(stderr, "nvram: %s: out of memory\n", path);
  errno = ENOMEM;
  return -1;
}

/* Reads path into t. missing_ok: a missing file is an empty table. */
static int read_file(const char *path, struct table *t, int missing_ok) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT && missing_ok) return 0;
    int e = errno;
    fprintf(stderr, "nvram: cannot open %s: %s\n", path, strerror(e));
    errno = e;
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) < 0) {
    int e = errno;
    fprintf(stderr, "nvram: cannot stat %s: %s\n", path, strerror(e));
    close(fd);
    errno = e;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    fprintf(stderr, "nvram: %s is not a regular file\n", path);
    close(fd);
    errno = EINVAL;
    return -1;
  }
  if (st.st_size > NVRAM_MAX_FILE) {
    fprintf(stderr, "nvram: %s is larger than %d bytes\n", path, NVRAM_MAX_FILE);
    close(fd);
    errno = EFBIG;
    return -1;
  }
  size_t cap = (size_t)st.st_size + 1, len = 0;
  char *buf = malloc(cap);
  if (!buf) {
    close(fd);
    errno = ENOMEM;
    return -1;
  }
  for (;;) {
    if (len == cap) { /* the file grew after fstat: read no more than the limit */
      if (cap > NVRAM_MAX_FILE) {
        fprintf(stderr, "nvram: %s is larger than %d bytes\n", path, NVRAM_MAX_FILE);
        free(buf);
        close(fd);
        errno = EFBIG;
        return -1;
      }
      char *nb = realloc(buf, cap * 2);
      if (!nb) {
        free(buf);
        close(fd);
        errno = ENOMEM;
        return -1;
      }
      buf = nb;
      cap *= 2;
    }
    ssize_t got = read(fd, buf + len, cap - len);
    if (got < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      fprintf(stderr, "nvram: cannot read %s: %s\n", path, strerror(e));
      free(buf);
      close(fd);
      errno = e;
      return -1;
    }
    if (got == 0) break;
    len += (size_t)got;
  }
  close(fd);
  int rc = parse(buf, len, path, t);
  free(buf);
  return rc;
}

/* ---- locking and atomic replacement ---- */

static int sibling(char *out, size_t size, const char *path, const char *suffix) {
  int n = snprintf(out, size, "%s%s", path, suffix);
  if (n < 0 || (size_t)n >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}

/* Takes the lock on "<path>.lock". Returns the descriptor, or -1 when no lock
 * could be had: a reader then reads without it (the rename still keeps it
 * from seeing half a write), a writer gives up. */
static int take_lock(const char *path, int op) {
  char lockpath[PATH_MAX + 8];
  if (sibling(lockpath, sizeof lockpath, path, ".lock") < 0) return -1;
  int fd = open(lockpath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0 && op == LOCK_SH) fd = open(lockpath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (op == LOCK_EX) {
      int e = errno;
      fprintf(stderr, "nvram: cannot open lock file %s: %s\n", lockpath, strerror(e));
      errno = e;
    }
    return -1;
  }
  while (flock(fd, op) < 0) {
    if (errno == EINTR) continue;
    int e = errno;
    fprintf(stderr, "nvram: cannot lock %s: %s\n", lockpath, strerror(e));
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

static void drop_lock(int fd) {
  if (fd >= 0) {
    int e = errno;
    close(fd); /* closing the only descriptor releases the flock */
    errno = e;
  }
}

static unsigned long slow_write_usec(void) {
  const char *s = getenv("NVRAM_TEST_SLOW_WRITE");
  if (!s || !*s) return 0;
  char *end;
  unsigned long v = strtoul(s, &end, 10);
  return *end ? 0 : v;
}

static int write_all(int fd, const char *p, size_t len) {
  unsigned long pause = slow_write_usec();
  size_t chunk = pause ? NVRAM_WRITE_CHUNK : len;
  while (len > 0) {
    size_t want = len < chunk ? len : chunk;
    ssize_t n = write(fd, p, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    p += n;
    len -= (size_t)n;
    if (pause) {
      struct timespec ts = {(time_t)(pause / 1000000), (long)(pause % 1000000) * 1000};
      while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
      }
    }
  }
  return 0;
}

/* Renders t as file text into a new buffer. */
static char *render(const struct table *t, size_t *len) {
  size_t total = 0;
  for (size_t i = 0; i < t->n; ++i) total += strlen(t->e[i].key) + escaped_len(t->e[i].value) + 2;
  char *buf = malloc(total + 1);
  if (!buf) return NULL;
  char *o = buf;
  for (size_t i = 0; i < t->n; ++i) {
    size_t kl = strlen(t->e[i].key);
    memcpy(o, t->e[i].key, kl);
    o += kl;
    *o++ = '=';
    o = put_escaped(o, t->e[i].value);
    *o++ = '\n';
  }
  *len = (size_t)(o - buf);
  return buf;
}

static void fsync_dir(const char *path) {
  char dir[PATH_MAX];
  const char *slash = strrchr(path, '/');
  if (!slash) {
    strcpy(dir, ".");
  } else if (slash == path) {
    strcpy(dir, "/");
  } else {
    size_t n = (size_t)(slash - path);
    if (n >= sizeof dir) return;
    memcpy(dir, path, n);
    dir[n] = '\0';
  }
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

/* Writes t to path through "<path>.tmp" and rename. The caller holds the
 * exclusive lock, so the temporary name is the writer's alone. */
static int replace_file(const char *path, const struct table *t) {
  char tmp[PATH_MAX + 8];
  if (sibling(tmp, sizeof tmp, path, ".tmp") < 0) return -1;
  size_t len;
  char *text = render(t, &len);
  if (!text) {
    errno = ENOMEM;
    return -1;
  }
  mode_t mode = 0644;
  struct stat st;
  if (stat(path, &st) == 0) mode = st.st_mode & 07777;
  int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    int e = errno;
    fprintf(stderr, "nvram: cannot create %s: %s\n", tmp, strerror(e));
    free(text);
    errno = e;
    return -1;
  }
  const char *what = "write";
  int ok = write_all(fd, text, len) == 0;
  if (ok && !(ok = fchmod(fd, mode) == 0)) what = "chmod";
  if (ok && !(ok = fsync(fd) == 0)) what = "fsync";
  int e = errno;
  if (close(fd) < 0 && ok) {
    ok = 0;
    what = "close";
    e = errno;
  }
  free(text);
  if (ok && rename(tmp, path) < 0) {
    ok = 0;
    what = "rename";
    e = errno;
  }
  if (!ok) {
    fprintf(stderr, "nvram: cannot %s %s: %s\n", what, tmp, strerror(e));
    unlink(tmp);
    errno = e;
    return -1;
  }
  fsync_dir(path);
  return 0;
}

/* Reads the current store, lets change() alter it, and writes it back, all
 * under the exclusive lock. On success the new table becomes the loaded one. */
static int transact(int (*change)(struct table *, const void *), const void *arg) {
  const char *path = nvram_path();
  int lock = take_lock(path, LOCK_EX);
  if (lock < 0) return -1;
  struct table t = {0};
  int rc = read_file(path, &t, 1);
  if (rc == 0) {
    table_settle(&t);
    rc = change(&t, arg);
  }
  if (rc == 0) rc = replace_file(path, &t);
  drop_lock(lock);
  if (rc < 0) {
    int e = errno;
    table_free(&t);
    errno = e;
    return -1;
  }
  table_free(&g_store);
  g_store = t;
  g_loaded = 1;
  return 0;
}

/* ---- API ---- */

static int check_area(int area) {
  if (area != 0) {
    errno = EINVAL;
    return -1;
  }
  return 0;
}

int nvram_init(int area) {
  if (check_area(area) < 0) return -1;
  const char *path = nvram_path();
  struct table t = {0};
  int lock = take_lock(path, LOCK_SH);
  int rc = read_file(path, &t, 1);
  drop_lock(lock);
  if (rc < 0) {
    int e = errno;
    table_free(&t);
    errno = e;
    return -1;
  }
  table_settle(&t);
  table_free(&g_store);
  g_store = t;
  g_loaded = 1;
  return 0;
}

static int ensure_loaded(int area) {
  if (check_area(area) < 0) return -1;
  return g_loaded ? 0 : nvram_init(area);
}

char *nvram_bufget(int area, const char *key) {
  if (!key || ensure_loaded(area) < 0) return NULL;
  long at = table_find(&g_store, key);
  return at >= 0 ? strdup(g_store.e[at].value) : NULL;
}

int nvram_close(int area) {
  (void)area;
  table_free(&g_store);
  g_loaded = 0;
  return 0;
}

struct kv {
  const char *key, *value;
};

static int change_set(struct table *t, const void *arg) {
  const struct kv *kv = arg;
  return table_put(t, kv->key, kv->value);
}

int nvram_bufset(int area, const char *key, const char *value) {
  if (check_area(area) < 0) return -1;
  if (!valid_key(key) || !value || strlen(key) + 1 + escaped_len(value) > NVRAM_MAX_LINE) {
    errno = EINVAL;
    return -1;
  }
  struct kv kv = {key, value};
  return transact(change_set, &kv);
}

static int change_unset(struct table *t, const void *arg) {
  table_remove(t, arg);
  return 0;
}

int nvram_unset(int area, const char *key) {
  if (check_area(area) < 0) return -1;
  if (!key) {
    errno = EINVAL;
    return -1;
  }
  return transact(change_unset, key);
}

static int change_merge(struct table *t, const void *arg) {
  const struct table *add = arg;
  for (size_t i = 0; i < add->n; ++i)
    if (table_put(t, add->e[i].key, add->e[i].value) < 0) return -1;
  return 0;
}

int nvram_load(int area, const char *path) {
  if (check_area(area) < 0) return -1;
  struct table add = {0};
  if (!path || read_file(path, &add, 0) < 0) {
    int e = path ? errno : EINVAL;
    table_free(&add);
    errno = e;
    return -1;
  }
  table_settle(&add);
  int rc = transact(change_merge, &add);
  int e = errno;
  table_free(&add);
  errno = e;
  return rc;
}

int nvram_commit(int area) { return check_area(area); }

int nvram_foreach(int area, void (*fn)(const char *key, const char *value, void *ctx), void *ctx) {
  if (ensure_loaded(area) < 0) return -1;
  for (size_t i = 0; i < g_store.n; ++i) fn(g_store.e[i].key, g_store.e[i].value, ctx);
  return 0;
}
