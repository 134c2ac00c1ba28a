// BQThread: states, results, and the waiting of execute, interrupt and the
// destructor.
#include "brackwell/thread.h"
#include "brackwell/utilSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

using namespace Brackwell;

namespace {

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A task that waits until released, then returns `result` or throws.
class Gated : public BQThread {
public:
  explicit Gated(std::int32_t result, bool gated = true)
      : release(!gated), result(result) {}
  ~Gated() override { interrupt(); }

  std::atomic<bool> release, started{false}, finished{false}, throws{false};
  std::int32_t result;
  bool nested = false;
  BQ_STATUS nestedExecute = -1, nestedInCurrent = -1, nestedInterrupt = -1;

  bool interruptedAndHandle(bool& handle) {
    mutex.lock();
    bool r = interrupted;
    handle = thread != 0;
    mutex.unlock();
    return r;
  }

protected:
  std::int32_t task() override {
    started = true;
    if (nested) {
      nestedExecute = execute();
      nestedInCurrent = executeInCurrentThread();
      nestedInterrupt = interrupt();
    }
    while (!release)
      pause(1);
    finished = true;
    if (throws)
      throw std::runtime_error("task failed");
    return result;
  }
};

// Counts its runs and records the scheduling of the thread it ran in.
class Counting : public BQThread {
public:
  std::atomic<int> runs{0}, policy{-1}, priority{-1};
  ~Counting() override { interrupt(); }

protected:
  std::int32_t task() override {
    int p = -1;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &p, &param);
    policy = p;
    priority = param.sched_priority;
    return ++runs;
  }
};

long virtualSizeKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kb = 0;
  while (status >> key && key != "VmSize:") {}
  status >> kb;
  return kb;
}

} // namespace

TEST(ThreadMt, ExecuteInterruptAndResults) {
  Gated t(7);
  EXPECT_EQ(BQ_STS_Success, t.interrupt()); // idle: at once
  EXPECT_TRUE(pthread_equal(BQThread::getCurrentThreadID(), pthread_self()));
  ASSERT_EQ(BQ_STS_Success, t.execute());
  EXPECT_TRUE(t.started); // execute returns once the task has begun
  EXPECT_EQ(BQ_STS_ThreadBusy, t.execute());
  EXPECT_EQ(BQ_STS_ThreadBusy, t.executeInCurrentThread());
  std::thread releaser([&] { pause(20); t.release = true; });
  EXPECT_EQ(BQ_STS_Success, t.interrupt());
  EXPECT_TRUE(t.finished);
  EXPECT_EQ(7, t.getTaskReturnValue());
  releaser.join();
  bool handle = true;
  EXPECT_TRUE(t.interruptedAndHandle(handle)); // trace of the request
  EXPECT_FALSE(handle);                        // cleared by the ended thread
  t.release = false;
  t.result = 8;
  ASSERT_EQ(BQ_STS_Success, t.execute(BQThread::PRIORITY_HIGH));
  EXPECT_FALSE(t.interruptedAndHandle(handle));
  EXPECT_TRUE(handle);
  t.release = true;
  EXPECT_EQ(BQ_STS_Success, t.interrupt());
  EXPECT_EQ(8, t.getTaskReturnValue());
  // A task that throws gives 1, in its own thread or in the caller's.
  t.throws = true;
  ASSERT_EQ(BQ_STS_Success, t.execute());
  EXPECT_EQ(BQ_STS_Success, t.interrupt());
  EXPECT_EQ(1, t.getTaskReturnValue());
  t.throws = false;
  EXPECT_EQ(BQ_STS_Success, t.executeInCurrentThread());
  EXPECT_EQ(8, t.getTaskReturnValue());
  t.throws = true;
  EXPECT_EQ(BQ_STS_Success, t.executeInCurrentThread());
  EXPECT_EQ(1, t.getTaskReturnValue());
}

// Tasks that end at once, often before execute sees them begin, and are
// never interrupted: execute still answers 0, the object goes back to Idle
// by itself, and the ended threads give back their stacks (8 MiB each).
TEST(ThreadMt, TasksEndingOnTheirOwn) {
  Counting t;
  EXPECT_EQ(0, t.getTaskReturnValue());
  long const sizeBefore = virtualSizeKb();
  for (int i = 1; i <= 24; ++i) {
    BQ_STATUS s;
    while ((s = t.execute(BQThread::PRIORITY_LOW)) == BQ_STS_ThreadBusy)
      BQUtilSync::sleep(1);
    ASSERT_EQ(BQ_STS_Success, s) << i;
    while (t.getTaskReturnValue() != i)
      BQUtilSync::sleep(1);
  }
  EXPECT_LT(virtualSizeKb() - sizeBefore, 64L * 1024);
  int policy = -1; // the priority changes nothing: the creator's scheduling
  sched_param param{};
  pthread_getschedparam(pthread_self(), &policy, &param);
  EXPECT_EQ(policy, t.policy);
  EXPECT_EQ(param.sched_priority, t.priority);
  EXPECT_EQ(BQ_STS_Success, t.executeInCurrentThread());
  EXPECT_EQ(25, t.getTaskReturnValue());
}

TEST(ThreadMt, TwoInterruptsAtOnceAndTaskInCallerThread) {
  Gated t(3);
  ASSERT_EQ(BQ_STS_Success, t.execute());
  std::atomic<int> returned{0};
  BQ_STATUS r[2] = {-1, -1};
  bool done[2] = {false, false};
  auto stop = [&](int i) { r[i] = t.interrupt(); done[i] = t.finished; ++returned; };
  std::thread a(stop, 0), b(stop, 1);
  pause(20);
  EXPECT_EQ(0, returned.load());
  t.release = true;
  a.join();
  b.join();
  for (int i : {0, 1}) {
    EXPECT_EQ(BQ_STS_Success, r[i]);
    EXPECT_TRUE(done[i]);
  }
  // Running in another caller's thread: busy, and interrupt waits for it.
  Gated u(11);
  std::thread runner([&] { EXPECT_EQ(0, u.executeInCurrentThread()); });
  while (!u.started)
    pause(1);
  EXPECT_EQ(BQ_STS_ThreadBusy, u.execute());
  EXPECT_EQ(BQ_STS_ThreadBusy, u.executeInCurrentThread());
  std::thread releaser([&] { pause(20); u.release = true; });
  EXPECT_EQ(BQ_STS_Success, u.interrupt());
  EXPECT_TRUE(u.finished);
  EXPECT_EQ(11, u.getTaskReturnValue());
  runner.join();
  releaser.join();
}

// Outside the object: the task runs on while ~BQThread waits, after the
// derived part is gone.
std::atomic<bool> gStarted{false}, gRelease{false}, gFinished{false};

TEST(ThreadMt, DestructionBlocksUntilTaskEnds) {
  struct Local : BQThread { // no interrupt of its own: ~BQThread must wait
    std::int32_t task() override {
      gStarted = true;
      while (!gRelease)
        pause(1);
      pause(10);
      gFinished = true;
      return 0;
    }
  };
  std::thread releaser([] { pause(20); gRelease = true; });
  {
    Local t;
    ASSERT_EQ(BQ_STS_Success, t.execute());
    while (!gStarted) // the task's virtual call precedes the destructor
      pause(1);
  }
  EXPECT_TRUE(gFinished);
  releaser.join();
}

TEST(ThreadMt, CallsFromInsideOwnTask) {
  for (bool inThread : {true, false}) {
    Gated t(4, false);
    t.nested = true;
    if (inThread) {
      ASSERT_EQ(BQ_STS_Success, t.execute());
      ASSERT_EQ(BQ_STS_Success, t.interrupt());
    } else {
      ASSERT_EQ(BQ_STS_Success, t.executeInCurrentThread());
      bool handle = true;
      EXPECT_FALSE(t.interruptedAndHandle(handle));
      EXPECT_FALSE(handle);
    }
    EXPECT_EQ(BQ_STS_ThreadBusy, t.nestedExecute) << inThread;
    EXPECT_EQ(BQ_STS_ThreadBusy, t.nestedInCurrent) << inThread;
    EXPECT_EQ(BQ_STS_Failure, t.nestedInterrupt) << inThread; // not itself
    EXPECT_EQ(4, t.getTaskReturnValue());
  }
}

TEST(ThreadMt, FailedCreateLeavesObjectIdle) {
  // A default stack of 64 TiB cannot be mapped: pthread_create fails.
  pthread_attr_t saved, huge;
  ASSERT_EQ(0, pthread_getattr_default_np(&saved));
  pthread_attr_init(&huge);
  ASSERT_EQ(0, pthread_attr_setstacksize(&huge, std::size_t(1) << 46));
  ASSERT_EQ(0, pthread_setattr_default_np(&huge));
  Counting t;
  BQ_STATUS const first = t.execute();
  BQ_STATUS const again = t.execute(); // not 3110: no handle was kept
  BQ_STATUS const stopped = t.interrupt();
  pthread_setattr_default_np(&saved);
  pthread_attr_destroy(&huge);
  pthread_attr_destroy(&saved);
  EXPECT_EQ(BQ_STS_Failure, first);
  EXPECT_EQ(BQ_STS_Failure, again);
  EXPECT_EQ(BQ_STS_Success, stopped);
  ASSERT_EQ(BQ_STS_Success, t.execute());
  EXPECT_EQ(BQ_STS_Success, t.interrupt());
  while (t.getTaskReturnValue() != 1)
    BQUtilSync::sleep(1);
}
