/* libnvram: the router's configuration store, file backed.
 *
 * The store is a text file, one "key=value" per line; in values "\\" stands
 * for a backslash, "\n" for a newline and "\r" for a carriage return. Its path
 * comes from the environment variable NVRAM_FILE (default /etc/nvram.conf).
 * Readers take a shared flock, writers an exclusive one and replace the file
 * atomically, so a reader never sees half a write and a crash never loses the
 * old file. Every call takes the store area as first argument; only area 0
 * exists.
 *
 * File format: empty lines and lines starting with '#' are skipped, so are
 * malformed lines (no '=', empty key, longer than NVRAM_MAX_LINE bytes,
 * holding a NUL byte), with a warning on standard error. A CR just before the
 * line's newline belongs to a CRLF line ending and is dropped. When a key
 * appears twice the later line wins. Keys are written as they are and may not
 * hold '=', CR or LF, nor start with '#'. Writers store the keys sorted.
 *
 * Test hook: when the environment variable NVRAM_TEST_SLOW_WRITE holds a
 * number of microseconds, writers write the temporary file in chunks of
 * NVRAM_WRITE_CHUNK bytes and sleep that long after each chunk, so a test can
 * kill a writer in the middle of a write. Nothing else reads it.
 */
#ifndef PLATFORM_NVRAM_H
#define PLATFORM_NVRAM_H

#ifdef __cplusplus
extern "C" {
#endif

#define NVRAM_MAX_LINE 65536           /* longest line read, newline excluded */
#define NVRAM_MAX_FILE (16 << 20)      /* largest store file read */
#define NVRAM_WRITE_CHUNK 4096         /* write size under NVRAM_TEST_SLOW_WRITE */

/* Opens area 0 (loads the file; a missing file is an empty store). Returns 0,
 * or -1 with errno when the area is unknown or the file cannot be read (a
 * message on standard error says why). */
int nvram_init(int area);
/* Returns a heap copy of the value that the caller frees, or NULL when the
 * key is absent. */
char *nvram_bufget(int area, const char *key);
/* Forgets what nvram_init loaded. Returns 0. */
int nvram_close(int area);

/* Writers, used by the nvram tool. Each one changes the file at once
 * (atomically, under the exclusive lock). Return 0, or -1 with errno. */
int nvram_bufset(int area, const char *key, const char *value);
int nvram_unset(int area, const char *key);
/* Merges "key=value" lines of a defaults file (same format and escapes) into
 * the store in one atomic write: the file's values replace those in the
 * store, other keys are kept. A missing file is an error (ENOENT). */
int nvram_load(int area, const char *path);
/* Kept for callers written against the platform API: writes are immediate. */
int nvram_commit(int area);

/* Calls fn for every key of the loaded store (loading it first when needed),
 * in byte order of the keys. Returns 0, or -1 with errno. */
int nvram_foreach(int area, void (*fn)(const char *key, const char *value, void *ctx), void *ctx);
/* Returns a heap copy of value with "\\", "\n" and "\r" escaped as in the
 * file, or NULL when out of memory. */
char *nvram_escape(const char *value);
/* The path of the store file: NVRAM_FILE when set and not empty, else
 * /etc/nvram.conf. */
const char *nvram_path(void);

#ifdef __cplusplus
}
#endif
#endif
