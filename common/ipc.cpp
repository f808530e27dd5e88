#include "common/ipc.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/tick.h"

namespace rc {

void print_errno() { printf("errno = %d , errstr: %s\n", errno, strerror(errno)); }

int createsem(int *semid, key_t key, int count) {
  *semid = semget(key, count, kIpcFlags);
  if (*semid < 0) {
    print_errno();
    *semid = semget(key, 0, 0);
    if (*semid < 0) {
      print_errno();
      return -1;
    }
  }
  for (int i = 0; i < count; ++i) {
    if (semctl(*semid, i, SETVAL, 0) < 0) {
      print_errno();
      return -1;
    }
  }
  return 1;
}

int locksem(int semid, int num) {
  struct sembuf op;
  op.sem_num = static_cast<unsigned short>(num);
  op.sem_op = -1;
  op.sem_flg = 0;
  int ret = semop(semid, &op, 1);
  if (ret < 0 && errno == EINTR) ret = semop(semid, &op, 1);
  return ret;
}

int unlocksem(int semid, int num) {
  struct sembuf op;
  op.sem_num = static_cast<unsigned short>(num);
  op.sem_op = 1;
  op.sem_flg = IPC_NOWAIT;
  if (semop(semid, &op, 1) < 0) {
    printf("unlocksem errno = %d , errstr: %s\n", errno, strerror(errno));
    return -1;
  }
  return 0;
}

int set_timer() {
  struct itimerval tv;
  tv.it_value.tv_sec = 1;
  tv.it_value.tv_usec = 0;
  tv.it_interval.tv_sec = 1;
  tv.it_interval.tv_usec = 0;
  return setitimer(ITIMER_REAL, &tv, nullptr);
}

int createshm(int *shmid, key_t key, size_t size, void **addr, bool clear) {
  *shmid = shmget(key, size, kIpcFlags);
  if (*shmid < 0) {
    puts("shmget failed");
    return -1;
  }
  void *p = shmat(*shmid, nullptr, 0);
  if (p == reinterpret_cast<void *>(-1)) {
    puts("shmat failed");
    return -1;
  }
  *addr = p;
  if (clear) memset(p, 0, size);
  return 1;
}

int open_cmd_queue(key_t key) {
  int id = msgget(key, kIpcFlags);
  if (id < 0) {
    printf("msgget failed nmsgid=%d\n", id);
    print_errno();
  }
  return id;
}

long poll_cmd(int msqid) {
  static cmdmsg msg;  // one buffer for the process: the loops never allocate
  // A message with an empty text is a command too: msgrcv returns 0 for it,
  // and taking it off the queue without acting on it would lose it.
  ssize_t got = msgrcv(msqid, &msg, sizeof msg.mtext, 0, IPC_NOWAIT);
  if (got < 0 && errno == E2BIG) {
    // The queues are writable by every local user. A message longer than the
    // text buffer stays at the head of the queue and would block every later
    // command: take it off (MSG_NOERROR cuts it to fit) and ignore it.
    if (msgrcv(msqid, &msg, sizeof msg.mtext, 0, IPC_NOWAIT | MSG_NOERROR) >= 0)
      printf("ignored an oversized message (type %ld) on queue %d\n", msg.mtype, msqid);
    return 0;
  }
  return got >= 0 ? msg.mtype : 0;
}

int IpcRef::createsem(int *semid, key_t key, int count) const {
  if (seams_doubled && ipc_) return ipc_->createsem(semid, key, count);
  return rc::createsem(semid, key, count);
}
int IpcRef::locksem(int semid, int num) const {
  if (seams_doubled && ipc_) return ipc_->locksem(semid, num);
  return rc::locksem(semid, num);
}
void IpcRef::startTimer(int semid) const {
  if (seams_doubled && ipc_) return ipc_->startTimer(semid);
  start_tick_timer(semid);
}
int IpcRef::createshm(int *shmid, key_t key, size_t size, void **addr, bool clear) const {
  if (seams_doubled && ipc_) return ipc_->createshm(shmid, key, size, addr, clear);
  return rc::createshm(shmid, key, size, addr, clear);
}
int IpcRef::openQueue(key_t key) const {
  if (seams_doubled && ipc_) return ipc_->openQueue(key);
  return open_cmd_queue(key);
}
long IpcRef::pollCmd(int msqid) const {
  if (seams_doubled && ipc_) return ipc_->pollCmd(msqid);
  return poll_cmd(msqid);
}

}  // namespace rc
