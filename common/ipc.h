// System V IPC of the daemons: command queues, the tick semaphore, shared
// memory segments and the one-second timer.
//
// Every object is created with IPC_CREAT | 0666 (950) and never removed; a
// daemon started again finds it under the same key.
#pragma once
#include <sys/types.h>

#include <cstddef>

#include "common/abi/cmdmsg.h"
#include "common/seams.h"

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

// The IPC service of the daemons: the calls above, as the start-up and the
// loops make them. The interface is what a test's fake implements (FakeIpc,
// segments in memory and scripted commands); the daemons hold an IpcRef.
class Ipc {
 public:
  // Never destroyed through a pointer to this base: no virtual destructor.
 protected:
  ~Ipc() = default;

 public:
  virtual int createsem(int *semid, key_t key, int count) = 0;
  virtual int locksem(int semid, int num) = 0;
  // Installs the SIGALRM handler posting semaphore 0 of semid and starts the
  // one-second timer.
  virtual void startTimer(int semid) = 0;
  virtual int createshm(int *shmid, key_t key, size_t size, void **addr, bool clear) = 0;
  virtual int openQueue(key_t key) = 0;
  virtual long pollCmd(int msqid) = 0;
};

// IPC as the daemons hold it (Services::ipc): a reference to an Ipc (a
// test's), or, made without one, System V IPC itself: each call of an empty
// IpcRef is a direct call of the function above, so a program links the
// calls it makes and no others (a sleeping daemon no semaphore, timer or
// segment code; see docs/cross-build.md, "Size").
class IpcRef {
 public:
  constexpr IpcRef() = default;      // System V IPC
  IpcRef(Ipc &ipc) : ipc_(&ipc) { seams_doubled = true; }  // NOLINT: a test's fake, as it is passed
  int createsem(int *semid, key_t key, int count) const;
  int locksem(int semid, int num) const;
  void startTimer(int semid) const;
  int createshm(int *shmid, key_t key, size_t size, void **addr, bool clear) const;
  int openQueue(key_t key) const;
  long pollCmd(int msqid) const;

 private:
  Ipc *ipc_ = nullptr;
};

// System V IPC as an Ipc object, for tests that need the real calls behind
// the interface.
class SysvIpc final : public Ipc {
 public:
  int createsem(int *semid, key_t key, int count) override { return IpcRef().createsem(semid, key, count); }
  int locksem(int semid, int num) override { return IpcRef().locksem(semid, num); }
  void startTimer(int semid) override { IpcRef().startTimer(semid); }
  int createshm(int *shmid, key_t key, size_t size, void **addr, bool clear) override {
    return IpcRef().createshm(shmid, key, size, addr, clear);
  }
  int openQueue(key_t key) override { return IpcRef().openQueue(key); }
  long pollCmd(int msqid) override { return IpcRef().pollCmd(msqid); }
};

}  // namespace rc
