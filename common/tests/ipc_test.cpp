// Runs in a private IPC namespace (see tests/sandbox/in-ipc-ns.sh), so the
// fixed keys below never meet a real daemon's objects.
#include <signal.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/time.h>

#include <cstring>

#include "common/ipc.h"
#include "common/tick.h"
#include "testkit_gtest.h"

namespace rc::test {
namespace {

int semValue(int semid) { return semctl(semid, 0, GETVAL); }

void post(int qid, long type, size_t textLen = 0) {
  cmdmsg m{};
  m.mtype = type;
  ASSERT_EQ(msgsnd(qid, &m, textLen, IPC_NOWAIT), 0);
}

TEST(Semaphore, CreateResetsAnExistingSetToZero) {
  int id1 = -1, id2 = -1;
  ASSERT_EQ(createsem(&id1, 1204, 1), 1);
  EXPECT_EQ(semValue(id1), 0);
  EXPECT_EQ(unlocksem(id1, 0), 0);
  EXPECT_EQ(unlocksem(id1, 0), 0);
  EXPECT_EQ(semValue(id1), 2);
  ASSERT_EQ(createsem(&id2, 1204, 1), 1);
  EXPECT_EQ(id2, id1);
  EXPECT_EQ(semValue(id1), 0);
}

TEST(Semaphore, CountedPostsAreConsumedOneByOne) {
  int id = -1;
  ASSERT_EQ(createsem(&id, 1205, 1), 1);
  for (int i = 0; i < 3; ++i) unlocksem(id, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(locksem(id, 0), 0);
  EXPECT_EQ(semValue(id), 0);
}

TEST(Semaphore, UnlockOnBadSetPrintsAndFails) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(unlocksem(999999, 0), -1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("unlocksem errno = ", 0), 0u) << out;
}

TEST(SharedMemory, OwnerClearsOthersKeep) {
  int id = -1;
  void *a = nullptr, *b = nullptr;
  ASSERT_EQ(createshm(&id, 1206, 64, &a, true), 1);
  memset(a, 0xAB, 64);
  ASSERT_EQ(createshm(&id, 1206, 64, &b, false), 1);
  EXPECT_EQ(static_cast<unsigned char *>(b)[63], 0xAB);
  ASSERT_EQ(createshm(&id, 1206, 64, &b, true), 1);
  EXPECT_EQ(static_cast<unsigned char *>(a)[0], 0);
  shmdt(a);
  shmdt(b);
}

TEST(SharedMemory, FailureIsReported) {
  int id = -1;
  void *a = nullptr;
  ASSERT_EQ(createshm(&id, 1207, 16, &a, false), 1);
  shmdt(a);
  testing::internal::CaptureStdout();
  // An existing segment cannot be opened with a larger size.
  EXPECT_EQ(createshm(&id, 1207, 1 << 20, &a, false), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "shmget failed\n");
}

TEST(Queue, OneCommandPerPollInPostingOrder) {
  int q = open_cmd_queue(1208);
  ASSERT_GE(q, 0);
  post(q, 2);
  post(q, 9, 5);
  post(q, 77);
  EXPECT_EQ(poll_cmd(q), 2);  // an empty text is a command too
  EXPECT_EQ(poll_cmd(q), 9);
  EXPECT_EQ(poll_cmd(q), 77);
  EXPECT_EQ(poll_cmd(q), 0);
  EXPECT_EQ(poll_cmd(-1), 0);
}

struct Recorder : TickDaemon {
  std::vector<std::string> events;
  void onCommand(long cmd) override { events.push_back("cmd " + std::to_string(cmd)); }
  void onTick() override { events.push_back("tick"); }
};

TEST(Tick, PassTakesOneCommandThenTicks) {
  int semid = -1;
  ASSERT_EQ(createsem(&semid, 1209, 1), 1);
  int q = open_cmd_queue(1209);
  post(q, 4);
  post(q, 5);
  Recorder r;
  for (int i = 0; i < 3; ++i) unlocksem(semid, 0);
  for (int i = 0; i < 3; ++i) tick_pass(semid, q, r);
  EXPECT_EQ(r.events, (std::vector<std::string>{"cmd 4", "tick", "cmd 5", "tick", "tick"}));
}

TEST(Tick, AlarmEndsTheWait) {
  int semid = -1;
  ASSERT_EQ(start_tick(1210, &semid), 1);
  int q = open_cmd_queue(1210);
  Recorder r;
  tick_pass(semid, q, r);  // returns after the first expiry (about 1 s)
  struct itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  signal(SIGALRM, SIG_IGN);
  EXPECT_EQ(r.events, (std::vector<std::string>{"tick"}));
}

}  // namespace
}  // namespace rc::test
