/* nvram: command-line access to the configuration store.
 *
 *   nvram get KEY            prints the value and a newline; exit 1 when absent
 *   nvram set KEY=VALUE...   sets each pair (the value is taken literally)
 *   nvram unset KEY...       removes each key (an absent key is no error)
 *   nvram show               prints every key=value, sorted, escaped as in the file
 *   nvram load FILE          merges a defaults file into the store
 *
 * Exit status: 0 done, 1 absent key or failure (with a message), 2 usage.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/nvram.h"

static int usage(void) {
  fputs("usage: nvram get KEY\n"
        "       nvram set KEY=VALUE...\n"
        "       nvram unset KEY...\n"
        "       nvram show\n"
        "       nvram load FILE\n",
        stderr);
  return 2;
}

static int fail(const char *what, const char *arg) {
  fprintf(stderr, "nvram: %s %s: %s\n", what, arg, strerror(errno));
  return 1;
}

static int cmd_get(const char *key) {
  if (nvram_init(0) < 0) return fail("cannot read", nvram_path());
  char *v = nvram_bufget(0, key);
  if (!v) return 1;
  fwrite(v, 1, strlen(v), stdout);
  putchar('\n');
  free(v);
  return 0;
}

static int cmd_set(int argc, char **argv) {
  /* Check every pair first, so a bad one changes nothing. */
  for (int i = 0; i < argc; ++i) {
    const char *eq = strchr(argv[i], '=');
    if (!eq || eq == argv[i] || argv[i][0] == '#') {
      fprintf(stderr, "nvram: not a KEY=VALUE pair: %s\n", argv[i]);
      return usage();
    }
    const char *brk = strpbrk(argv[i], "\r\n");
    if (brk && brk < eq) {
      fprintf(stderr, "nvram: key holds a line break: %s\n", argv[i]);
      return usage();
    }
  }
  for (int i = 0; i < argc; ++i) {
    char *eq = strchr(argv[i], '=');
    *eq = '\0';
    int rc = nvram_bufset(0, argv[i], eq + 1);
    if (rc < 0 && errno == EINVAL) {
      fprintf(stderr, "nvram: cannot set %s: the line would be longer than %d bytes\n", argv[i], NVRAM_MAX_LINE);
      return 1;
    }
    *eq = '=';
    if (rc < 0) return fail("cannot set", argv[i]);
  }
  return 0;
}

static int cmd_unset(int argc, char **argv) {
  for (int i = 0; i < argc; ++i)
    if (nvram_unset(0, argv[i]) < 0) return fail("cannot unset", argv[i]);
  return 0;
}

static void show_one(const char *key, const char *value, void *ctx) {
  int *failed = ctx;
  char *esc = nvram_escape(value);
  if (!esc) {
    *failed = 1;
    return;
  }
  printf("%s=%s\n", key, esc);
  free(esc);
}

static int cmd_show(void) {
  if (nvram_init(0) < 0) return fail("cannot read", nvram_path());
  int failed = 0;
  nvram_foreach(0, show_one, &failed);
  if (failed) {
    fputs("nvram: out of memory\n", stderr);
    return 1;
  }
  return 0;
}

int main(int argc, char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (argc < 2) return usage();
  const char *cmd = argv[1];
  int rc;
  if (strcmp(cmd, "get") == 0 && argc == 3) {
    rc = cmd_get(argv[2]);
  } else if (strcmp(cmd, "set") == 0 && argc >= 3) {
    rc = cmd_set(argc - 2, argv + 2);
  } else if (strcmp(cmd, "unset") == 0 && argc >= 3) {
    rc = cmd_unset(argc - 2, argv + 2);
  } else if (strcmp(cmd, "show") == 0 && argc == 2) {
    rc = cmd_show();
  } else if (strcmp(cmd, "load") == 0 && argc == 3) {
    rc = nvram_load(0, argv[2]) < 0 ? fail("cannot load", argv[2]) : 0;
  } else {
    return usage();
  }
  if (fflush(stdout) != 0 && rc == 0) rc = fail("cannot write", "output");
  return rc;
}
