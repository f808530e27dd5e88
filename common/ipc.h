// System V IPC of the daemons: command queues, the tick semaphore, shared
// memory segments and the one-second timer.
//
// Every object is created with IPC_CREAT | 0666 (950) and never removed; a
// daemon started again finds it under the same key.
#pragma once
#include <sys/types.h>

#include <cstddef>

#include "common/abi/cmdmsg.h"

namespace rc {

constexpr int kIpcFlags = 950;  // IPC_CREAT | 0666

// Prints "errno = %d , errstr: %s\n" for the current errno.
void print_errno();

int createsem(int *semid, key_t key, int count);  // 1, or -1
int locksem(int semid, int num);                  // 0, or -1
int unlocksem(int semid, int num);                // 0, or -1 (message printed)
int set_timer();                                  // setitimer's result
// Segment of `size` bytes under `key`, attached at *addr. With clear the
// whole segment is zeroed (the owner of a segment that is rebuilt at start).
int createshm(int *shmid, key_t key, size_t size, void **addr, bool clear);

// Opens (creating) the command queue; prints "msgget failed nmsgid=%d\n" and
// the errno line on failure. Returns the queue id or -1.
int open_cmd_queue(key_t key);
// Takes the oldest message of any type without waiting. Returns its command
// number, or 0 when there is none (empty queue or any error).
long poll_cmd(int msqid);

}  // namespace rc
