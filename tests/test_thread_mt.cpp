// BQThread: states, results, and the waiting of execute, interrupt and the
// destructor.
#include "brackwell/thread.h"
#include "brackwell/utilSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

using namespace Brackwell;

namespace {

void pause(int ms) { BQUtilSync::sleep(ms); }

// Waits until released (unless built ungated), then returns `result` (or
// its run count when 0) or throws. Records the scheduling policy it ran
// under and what calls on its own object answered from inside.
class Task : public BQThread {
public:
  explicit Task(int result = 0, bool gated = true) : release(!gated), result(result) {}
  ~Task() override { interrupt(); }
  std::atomic<bool> release, started{false}, finished{false}, throws{false}, nested{false};
  std::atomic<int> runs{0}, policy{-1};
  int result;
  BQ_STATUS inner[3] = {-1, -1, -1};

  bool interruptedFlag(bool& handle) {
    mutex.lock();
    handle = thread != 0;
    bool r = interrupted;
    mutex.unlock();
    return r;
  }

protected:
  std::int32_t task() override {
    started = true;
    int p = -1;
    sched_param sp{};
    pthread_getschedparam(pthread_self(), &p, &sp);
    policy = p;
    if (nested)
      inner[0] = execute(), inner[1] = executeInCurrentThread(), inner[2] = interrupt();
    while (!release)
      pause(1);
    finished = true;
    if (throws)
      throw 1;
    return result ? result : ++runs;
  }
};

void releaseLater(Task& t) { std::thread([&t] { pause(20); t.release = true; }).detach(); }

} // namespace

TEST(ThreadMt, ExecuteInterruptAndResults) {
  Task t(7);
  EXPECT_EQ(BQ_STS_Success, t.interrupt()); // idle: at once
  EXPECT_TRUE(pthread_equal(BQThread::getCurrentThreadID(), pthread_self()));
  ASSERT_EQ(BQ_STS_Success, t.execute());
  EXPECT_TRUE(t.started); // execute returns once the task has begun
  EXPECT_EQ(BQ_STS_ThreadBusy, t.execute());
  EXPECT_EQ(BQ_STS_ThreadBusy, t.executeInCurrentThread());
  releaseLater(t);
  EXPECT_EQ(BQ_STS_Success, t.interrupt());
  EXPECT_TRUE(t.finished);
  EXPECT_EQ(7, t.getTaskReturnValue());
  bool handle = true;
  EXPECT_TRUE(t.interruptedFlag(handle)); // the request's trace
  EXPECT_FALSE(handle);                   // cleared by the ended thread
  t.release = false;
  ASSERT_EQ(BQ_STS_Success, t.execute(BQThread::PRIORITY_HIGH));
  EXPECT_FALSE(t.interruptedFlag(handle)); // cleared by execute
  EXPECT_TRUE(handle);
  t.throws = true; // a task that throws gives 1, in any thread
  t.release = true;
  EXPECT_EQ(BQ_STS_Success, t.interrupt());
  EXPECT_EQ(1, t.getTaskReturnValue());
  EXPECT_EQ(BQ_STS_Success, t.executeInCurrentThread());
  EXPECT_EQ(1, t.getTaskReturnValue());
  t.throws = false;
  EXPECT_EQ(BQ_STS_Success, t.executeInCurrentThread());
  EXPECT_EQ(7, t.getTaskReturnValue());
}

// Tasks that end at once, often before execute sees them begin, and are
// never interrupted: execute answers 0, the object goes back to Idle by
// itself, the ended threads give back their 8 MiB stacks, and the priority
// leaves the creator's scheduling.
TEST(ThreadMt, TasksEndingOnTheirOwn) {
  Task t(0, false);
  EXPECT_EQ(0, t.getTaskReturnValue());
  auto vmKb = [] {
    std::ifstream in("/proc/self/status");
    std::string key;
    long kb = 0;
    while (in >> key && key != "VmSize:") {}
    return in >> kb ? kb : 0L;
  };
  long const before = vmKb();
  for (int i = 1; i <= 24; ++i) {
    BQ_STATUS s;
    while ((s = t.execute(BQThread::PRIORITY_LOW)) == BQ_STS_ThreadBusy)
      pause(1);
    ASSERT_EQ(BQ_STS_Success, s) << i;
    while (t.getTaskReturnValue() != i)
      pause(1);
  }
  EXPECT_LT(vmKb() - before, 64L * 1024);
  int policy = -1;
  sched_param sp{};
  pthread_getschedparam(pthread_self(), &policy, &sp);
  EXPECT_EQ(policy, t.policy);
}

// Two interrupts at once (one joins, one polls) and an interrupt of a task
// running in another caller's thread all wait for the task.
TEST(ThreadMt, InterruptsWaitForTheTask) {
  Task t(3), u(11);
  ASSERT_EQ(BQ_STS_Success, t.execute());
  std::thread runner([&] { EXPECT_EQ(0, u.executeInCurrentThread()); });
  while (!u.started)
    pause(1);
  EXPECT_EQ(BQ_STS_ThreadBusy, u.execute());
  EXPECT_EQ(BQ_STS_ThreadBusy, u.executeInCurrentThread());
  std::atomic<int> ok{0};
  auto stop = [&](Task* x) { ok += x->interrupt() == BQ_STS_Success && x->finished; };
  std::thread a(stop, &t), b(stop, &t), c(stop, &u);
  pause(20);
  EXPECT_EQ(0, ok.load());
  t.release = true;
  u.release = true;
  a.join(), b.join(), c.join(), runner.join();
  EXPECT_EQ(3, ok.load());
  EXPECT_EQ(11, u.getTaskReturnValue());
}

// The flags live outside the object: the task runs on while ~BQThread
// waits, after the derived part is gone.
std::atomic<bool> gStarted{false}, gFinished{false};

TEST(ThreadMt, DestructionBlocksUntilTaskEnds) {
  struct Local : BQThread { // no interrupt of its own: ~BQThread must wait
    std::int32_t task() override {
      gStarted = true;
      pause(30);
      gFinished = true;
      return 0;
    }
  };
  {
    Local t;
    ASSERT_EQ(BQ_STS_Success, t.execute());
    while (!gStarted) // the task's virtual call precedes the destructor
      pause(1);
  }
  EXPECT_TRUE(gFinished);
}

// execute and executeInCurrentThread answer 3110 from inside the task; a
// task cannot wait for itself, so interrupt gives 1 (chosen) at once.
TEST(ThreadMt, CallsFromInsideOwnTask) {
  for (bool inThread : {true, false}) {
    Task t(4, false);
    t.nested = true;
    ASSERT_EQ(BQ_STS_Success, inThread ? t.execute() : t.executeInCurrentThread());
    ASSERT_EQ(BQ_STS_Success, t.interrupt());
    EXPECT_EQ(BQ_STS_ThreadBusy, t.inner[0]) << inThread;
    EXPECT_EQ(BQ_STS_ThreadBusy, t.inner[1]) << inThread;
    EXPECT_EQ(BQ_STS_Failure, t.inner[2]) << inThread;
    EXPECT_EQ(4, t.getTaskReturnValue());
  }
}
