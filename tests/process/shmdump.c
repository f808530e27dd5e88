/* shmdump: writes the bytes of a System V shared memory segment to standard
 * output, for the process tests' byte-level checks.
 *
 *   shmdump KEY SIZE      the first SIZE bytes of segment KEY
 *   shmdump --id KEY      the segment's id and size: "id=N size=N"
 *   shmdump --make KEY SIZE [BYTE]  creates segment KEY of SIZE bytes (mode
 *                         0666), every byte BYTE (a number, 0 when not given)
 *
 * Exit status: 0, 1 when the segment does not exist or is smaller, 2 usage.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

int main(int argc, char **argv) {
  if ((argc == 4 || argc == 5) && strcmp(argv[1], "--make") == 0) {
    size_t size = (size_t)strtoul(argv[3], NULL, 10);
    int made = shmget(atoi(argv[2]), size, IPC_CREAT | IPC_EXCL | 0666);
    if (made < 0) {
      perror("shmdump: shmget");
      return 1;
    }
    if (argc == 5) {
      void *p = shmat(made, NULL, 0);
      if (p == (void *)-1) {
        perror("shmdump: shmat");
        return 1;
      }
      memset(p, (int)strtol(argv[4], NULL, 0), size);
      shmdt(p);
    }
    return 0;
  }
  if (argc != 3) {
    fputs("usage: shmdump KEY SIZE | shmdump --id KEY | shmdump --make KEY SIZE [BYTE]\n", stderr);
    return 2;
  }
  int stat = strcmp(argv[1], "--id") == 0;
  int id = shmget(atoi(argv[stat ? 2 : 1]), 0, 0);
  if (id < 0) return 1;
  struct shmid_ds ds;
  if (shmctl(id, IPC_STAT, &ds) < 0) return 1;
  if (stat) {
    printf("id=%d size=%lu\n", id, (unsigned long)ds.shm_segsz);
    return 0;
  }
  size_t size = (size_t)strtoul(argv[2], NULL, 10);
  if (ds.shm_segsz < size) return 1;
  void *p = shmat(id, NULL, SHM_RDONLY);
  if (p == (void *)-1) return 1;
  fwrite(p, 1, size, stdout);
  shmdt(p);
  return 0;
}
