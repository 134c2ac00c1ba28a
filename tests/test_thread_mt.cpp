// Concurrency tests of BQThread: states, results and the waiting of execute,
// interrupt and the destructor.
#include "brackwell/thread.h"
#include "brackwell/utilSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <stdexcept>
#include <thread>

using namespace Brackwell;

namespace {

// A task that blocks until released, then returns a chosen result (or
// throws). `started` and `finished` are observed by the tests.
class GatedThread : public BQThread {
public:
  explicit GatedThread(std::int32_t result = 42, bool gated = true)
      : release(!gated), result(result) {}
  ~GatedThread() override { interrupt(); }

  std::atomic<bool> release;
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> throws{false};
  std::int32_t result;
  std::int32_t nestedExecute = -1;
  std::int32_t nestedInCurrent = -1;
  std::int32_t nestedInterrupt = -1;
  bool callNested = false;

  bool isInterrupted() {
    mutex.lock();
    bool r = interrupted;
    mutex.unlock();
    return r;
  }
  bool hasHandle() {
    mutex.lock();
    bool r = thread != 0;
    mutex.unlock();
    return r;
  }

protected:
  std::int32_t task() override {
    started = true;
    if (callNested) {
      nestedExecute = execute();
      nestedInCurrent = executeInCurrentThread();
      nestedInterrupt = interrupt();
    }
    while (!release)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    finished = true;
    if (throws)
      throw std::runtime_error("task failed");
    return result;
  }
};

// A task whose result is readable only through BQThread's state.
class CountingThread : public BQThread {
public:
  std::atomic<int> runs{0};
  std::atomic<int> policy{-1}, priority{-1}; // of the last task's thread
  ~CountingThread() override { interrupt(); }

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

// The process's virtual size in kB (VmSize of /proc/self/status), 0 if
// unreadable. Threads left unjoined and undetached keep their stacks mapped.
long virtualSizeKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmSize:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
  }
  return 0;
}

} // namespace

TEST(ThreadMt, IdleObject) {
  CountingThread t;
  EXPECT_EQ(t.getTaskReturnValue(), 0);
  EXPECT_EQ(t.interrupt(), BQ_STS_Success);
  EXPECT_TRUE(pthread_equal(BQThread::getCurrentThreadID(), pthread_self()));
}

TEST(ThreadMt, ExecuteTwiceBusyThenFree) {
  GatedThread t(7);
  ASSERT_EQ(t.execute(), BQ_STS_Success);
  // execute returns only once the task has begun.
  EXPECT_EQ(t.execute(), BQ_STS_ThreadBusy);
  EXPECT_EQ(t.executeInCurrentThread(), BQ_STS_ThreadBusy);
  t.release = true;
  EXPECT_EQ(t.interrupt(), BQ_STS_Success);
  EXPECT_TRUE(t.finished);
  EXPECT_EQ(t.getTaskReturnValue(), 7);
  t.release = false;
  t.finished = false;
  t.result = 8;
  EXPECT_EQ(t.execute(BQThread::PRIORITY_HIGH), BQ_STS_Success);
  t.release = true;
  EXPECT_EQ(t.interrupt(), BQ_STS_Success);
  EXPECT_EQ(t.getTaskReturnValue(), 8);
}

TEST(ThreadMt, TaskEndingOnItsOwnLeavesObjectReusable) {
  // Tasks that end at once, often before execute sees them begin, and are
  // never interrupted: execute still answers 0 and the object goes back to
  // Idle by itself.
  CountingThread t;
  long const sizeBefore = virtualSizeKb();
  for (int i = 1; i <= 300; ++i) {
    BQ_STATUS s;
    while ((s = t.execute(BQThread::PRIORITY_LOW)) == BQ_STS_ThreadBusy)
      BQUtilSync::sleep(1);
    ASSERT_EQ(s, BQ_STS_Success) << i;
    while (t.getTaskReturnValue() != i)
      BQUtilSync::sleep(1);
  }
  // Ended threads reclaim their own stacks (several MB each otherwise).
  EXPECT_LT(virtualSizeKb() - sizeBefore, 256L * 1024);
  // PRIORITY_LOW changed nothing: the default attributes inherit the
  // creator's scheduling.
  int policy = -1;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &policy, &param);
  EXPECT_EQ(t.policy, policy);
  EXPECT_EQ(t.priority, param.sched_priority);
  EXPECT_EQ(t.interrupt(), BQ_STS_Success);
  EXPECT_EQ(t.runs, 300);
  EXPECT_EQ(t.executeInCurrentThread(), BQ_STS_Success);
  EXPECT_EQ(t.getTaskReturnValue(), 301);
}

TEST(ThreadMt, ThrowingTaskGivesOne) {
  GatedThread t(5, false);
  t.throws = true;
  ASSERT_EQ(t.execute(), BQ_STS_Success);
  EXPECT_EQ(t.interrupt(), BQ_STS_Success);
  EXPECT_EQ(t.getTaskReturnValue(), 1);
  t.throws = false;
  EXPECT_EQ(t.executeInCurrentThread(), BQ_STS_Success);
  EXPECT_EQ(t.getTaskReturnValue(), 5);
  t.throws = true;
  EXPECT_EQ(t.executeInCurrentThread(), BQ_STS_Success);
  EXPECT_EQ(t.getTaskReturnValue(), 1);
}

TEST(ThreadMt, InterruptWaitsForRunningTask) {
  GatedThread t(99);
  ASSERT_EQ(t.execute(), BQ_STS_Success);
  EXPECT_TRUE(t.started);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    t.release = true;
  });
  EXPECT_EQ(t.interrupt(), BQ_STS_Success);
  EXPECT_TRUE(t.finished);
  EXPECT_EQ(t.getTaskReturnValue(), 99);
  releaser.join();
  // The request leaves its trace until the next execute clears it; the
  // ended thread has cleared its handle.
  EXPECT_TRUE(t.isInterrupted());
  EXPECT_FALSE(t.hasHandle());
  t.release = false;
  ASSERT_EQ(t.execute(), BQ_STS_Success);
  EXPECT_FALSE(t.isInterrupted());
  EXPECT_TRUE(t.hasHandle());
  t.release = true;
}

TEST(ThreadMt, TwoConcurrentInterrupts) {
  GatedThread t(3);
  ASSERT_EQ(t.execute(), BQ_STS_Success);
  std::atomic<int> returned{0};
  BQ_STATUS r1 = -1, r2 = -1;
  bool f1 = false, f2 = false;
  std::thread a([&] { r1 = t.interrupt(); f1 = t.finished; ++returned; });
  std::thread b([&] { r2 = t.interrupt(); f2 = t.finished; ++returned; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(returned, 0);
  t.release = true;
  a.join();
  b.join();
  EXPECT_EQ(r1, BQ_STS_Success);
  EXPECT_EQ(r2, BQ_STS_Success);
  EXPECT_TRUE(f1);
  EXPECT_TRUE(f2);
  EXPECT_EQ(t.getTaskReturnValue(), 3);
}

TEST(ThreadMt, InterruptWhileTaskRunsInCallerThread) {
  GatedThread t(11);
  std::thread runner([&] { EXPECT_EQ(t.executeInCurrentThread(), 0); });
  while (!t.started)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(t.execute(), BQ_STS_ThreadBusy);
  EXPECT_EQ(t.executeInCurrentThread(), BQ_STS_ThreadBusy);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    t.release = true;
  });
  EXPECT_EQ(t.interrupt(), BQ_STS_Success);
  EXPECT_TRUE(t.finished);
  EXPECT_EQ(t.getTaskReturnValue(), 11);
  runner.join();
  releaser.join();
}

// Flags of DestructionBlocksUntilTaskEnds. They live outside the thread
// object: its task goes on running while ~BQThread waits, after the derived
// part is gone, so the task must not touch members of its own.
std::atomic<bool> gRelease{false};
std::atomic<bool> gFinished{false};
std::atomic<bool> gStarted{false};

TEST(ThreadMt, DestructionBlocksUntilTaskEnds) {
  struct Local : BQThread {
    std::int32_t task() override {
      gStarted = true;
      while (!gRelease)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      gFinished = true;
      return 0;
    }
  };
  std::thread releaser([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    gRelease = true;
  });
  {
    // No interrupt in Local's destructor: ~BQThread itself must wait.
    Local t;
    ASSERT_EQ(t.execute(), BQ_STS_Success);
    // The task's virtual dispatch must precede the destructor's rewrite of
    // the vtable pointer; after that, only ~BQThread's wait protects it.
    while (!gStarted)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(gFinished);
  releaser.join();
}

TEST(ThreadMt, CallsFromInsideOwnTask) {
  for (bool inThread : {true, false}) {
    GatedThread t(4, false);
    t.callNested = true;
    if (inThread) {
      ASSERT_EQ(t.execute(), BQ_STS_Success);
      ASSERT_EQ(t.interrupt(), BQ_STS_Success);
    } else {
      ASSERT_EQ(t.executeInCurrentThread(), BQ_STS_Success);
      EXPECT_FALSE(t.hasHandle());
      EXPECT_FALSE(t.isInterrupted());
    }
    EXPECT_EQ(t.nestedExecute, BQ_STS_ThreadBusy) << inThread;
    EXPECT_EQ(t.nestedInCurrent, BQ_STS_ThreadBusy) << inThread;
    // A task cannot wait for itself: interrupt returns at once with 1.
    EXPECT_EQ(t.nestedInterrupt, BQ_STS_Failure) << inThread;
    EXPECT_EQ(t.getTaskReturnValue(), 4);
  }
}

TEST(ThreadMt, FailedCreateLeavesObjectIdle) {
  // A default stack of 64 TiB cannot be mapped: pthread_create fails.
  pthread_attr_t saved, huge;
  ASSERT_EQ(0, pthread_getattr_default_np(&saved));
  pthread_attr_init(&huge);
  ASSERT_EQ(0, pthread_attr_setstacksize(&huge, std::size_t(1) << 46));
  ASSERT_EQ(0, pthread_setattr_default_np(&huge));
  CountingThread t;
  BQ_STATUS const first = t.execute();
  BQ_STATUS const again = t.execute(); // not 3110: no handle was kept
  BQ_STATUS const stopped = t.interrupt();
  pthread_setattr_default_np(&saved);
  pthread_attr_destroy(&huge);
  pthread_attr_destroy(&saved);
  EXPECT_EQ(first, BQ_STS_Failure);
  EXPECT_EQ(again, BQ_STS_Failure);
  EXPECT_EQ(stopped, BQ_STS_Success);
  EXPECT_EQ(t.runs, 0);
  ASSERT_EQ(t.execute(), BQ_STS_Success);
  EXPECT_EQ(t.interrupt(), BQ_STS_Success);
  while (t.getTaskReturnValue() != 1)
    BQUtilSync::sleep(1);
}
