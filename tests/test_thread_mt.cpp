// Threads and their synchronisation: BQThread (states and results of
// execute, executeInCurrentThread and interrupt, called from several threads
// at once, and the waiting of interrupt and of the destructor), BQUtilMutex
// and BQUtilSync alone and racing, and the first-use installation of a
// BQFileSpec's renderings, which rests on the compare-and-swap.
#include "brackwell/fileSpec.h"
#include "brackwell/thread.h"
#include "brackwell/utilSync.h"
#include "support/bqtest.h"

#include <fstream>

using namespace Brackwell;

namespace {

template <class F> void runThreads(int n, F f) {
  std::vector<std::thread> ts;
  for (int t = 0; t < n; ++t)
    ts.emplace_back(f, t);
  for (auto& t : ts)
    t.join();
}

// Calls `inside`, waits until released, counts the run, then throws or
// returns `result` (the run count when 0).
struct Task : BQThread {
  explicit Task(int result, bool gated = false) : release(!gated), result(result) {}
  ~Task() override { interrupt(); }
  std::atomic<bool> release, throws{false};
  std::atomic<int> started{0}, runs{0};
  int result;
  std::function<void()> inside = [] {};
  std::int32_t task() override {
    for (++started, inside(); !release;)
      BQUtilSync::sleep(1);
    if (++runs, throws)
      throw 1;
    return result ? result : runs.load();
  }
};

// A task with no interrupt of its own, so that ~BQThread must wait for it.
// Its flag outlives it: the task runs on while ~BQThread waits.
std::atomic<int> gPhase{0};
struct Bare : BQThread { std::int32_t task() override { return gPhase = 1, BQUtilSync::sleep(30), gPhase = 2; } };

// tryLock() from another thread, released again when it got the mutex.
BQ_STATUS tryLockElsewhere(BQUtilMutex& m) {
  BQ_STATUS r = -1;
  std::thread([&] { if ((r = m.tryLock()) == BQ_STS_Success) m.unlock(); }).join();
  return r;
}

} // namespace

TEST(ThreadMt, ExecuteAndInterrupt) {
  Task t(0, true), u(11, true);
  std::string got; // statuses and results in turn
  auto note = [&](int v) { got += std::to_string(v) + " "; };
  note(t.getTaskReturnValue()), note(t.interrupt()); // before any task; idle: at once
  // Four executes at once: one is accepted, and returns once `running` is
  // set (the task body may not have begun yet, but never twice); u's task
  // runs in another caller's thread meanwhile.
  std::atomic<int> accepted{0}, ok{0}, bad{0};
  std::thread runner([&] { EXPECT_EQ(0, u.executeInCurrentThread()); });
  runThreads(4, [&](int) { accepted += t.execute() == BQ_STS_Success && t.started <= 1; });
  for (int wait = 0; wait < 5000 && !u.started; ++wait)
    BQUtilSync::sleep(1);
  note(accepted);
  for (Task* x : {&t, &u})
    note(x->execute()), note(x->executeInCurrentThread());
  // Two interrupts of t at once (one joins, one polls) and one of u (no
  // thread to join): all return when the task has ended.
  auto stop = [&](Task* x) { ok += x->interrupt() == BQ_STS_Success && x->runs == 1; };
  std::thread a(stop, &t), b(stop, &t), c(stop, &u);
  BQUtilSync::sleep(20);
  note(ok);
  t.release = u.release = true;
  a.join(), b.join(), c.join(), runner.join();
  note(ok), note(t.getTaskReturnValue()), note(u.getTaskReturnValue());
  // Tasks that end at once, often before execute sees them begin, and are
  // never interrupted (execute clears the trace of the interrupts above),
  // started by three threads that retry while another's task starts or runs:
  // the object goes back to Idle by itself, the ended threads give back their
  // 8 MiB stacks, and no priority changes the creator's scheduling policy.
  auto vmPages = [] { long n = 0; return std::ifstream("/proc/self/statm") >> n, n; };
  int const policy = sched_getscheduler(0);
  t.inside = [&] { bad += sched_getscheduler(0) != policy; };
  long const before = vmPages();
  runThreads(3, [&](int k) { // the third runs its tasks in its own thread
    for (int n = 0; n < 7;) {
      BQ_STATUS const s = k == 2 ? t.executeInCurrentThread()
                                 : t.execute(BQThread::BQThreadPriority(n % 3));
      n += s == BQ_STS_Success;
      bad += s != BQ_STS_Success && s != BQ_STS_ThreadBusy;
    }
  });
  for (int wait = 0; wait < 5000 && t.getTaskReturnValue() != 22; ++wait)
    BQUtilSync::sleep(1);
  note(t.getTaskReturnValue()), note(bad);
  EXPECT_LT((vmPages() - before) * sysconf(_SC_PAGESIZE), 48L << 20);
  // A task that throws gives 1, in either thread.
  t.throws = true, t.result = 9;
  note(t.execute()), note(t.interrupt()), note(t.getTaskReturnValue());
  note(t.executeInCurrentThread()), note(t.getTaskReturnValue());
  t.throws = false;
  note(t.executeInCurrentThread()), note(t.getTaskReturnValue());
  EXPECT_EQ("0 0 1 3110 3110 3110 3110 0 3 1 11 22 0 0 0 1 0 1 0 9 ", got);
}

TEST(ThreadMt, DestructionWaitsForTheTask) {
  auto t = std::make_unique<Bare>();
  ASSERT_EQ(BQ_STS_Success, t->execute());
  while (gPhase == 0) // the task's virtual call comes before the destructor
    BQUtilSync::sleep(1);
  t.reset();
  EXPECT_EQ(2, gPhase.load());
}

// From inside a task, execute and executeInCurrentThread answer 3110 and
// interrupt gives 1 at once, also for an object whose task encloses the
// current one in the same thread.
TEST(ThreadMt, CallsFromInsideOwnTask) {
  for (int how = 0; how < 3; ++how) { // own thread, caller's thread, nested
    Task t(4), host(5);
    std::string seen;
    t.inside = [&] {
      for (BQ_STATUS s : {t.execute(), t.executeInCurrentThread(), t.interrupt(), host.interrupt()})
        seen += std::to_string(s) + " ";
    };
    host.inside = [&] { t.executeInCurrentThread(); };
    ASSERT_EQ(0, how == 0 ? t.execute() : how == 1 ? t.executeInCurrentThread() : host.execute());
    ASSERT_EQ(BQ_STS_Success, host.interrupt());
    ASSERT_EQ(BQ_STS_Success, t.interrupt());
    EXPECT_EQ(how == 2 ? "3110 3110 1 1 " : "3110 3110 1 0 ", seen) << how;
    EXPECT_EQ(4, t.getTaskReturnValue());
  }
}

// The mutex alone: held until as many unlocks as locks, whether taken by
// lock or tryLock; another thread's tryLock is refused at once meanwhile.
// Unlocking a mutex the thread does not hold fails: not tried under
// ThreadSanitizer, which aborts on it (and where the fault harness is off).
// Then four threads at once take the mutex (by lock or tryLock, then twice
// more while holding it) around an unguarded counter; increment and
// decrement integers whose range ends lie midway, each new value handed out
// once; and advance a pointer one cell per successful swap.
TEST(UtilSyncMt, MutexAndAtomics) {
  BQUtilMutex m;
  bool const foreign = bqtest::callsWrapped();
  std::string got; // the statuses in turn
  auto note = [&](BQ_STATUS s) { got += std::to_string(s) + " "; };
  note(foreign ? m.unlock() : 3022), note(m.lock()), note(m.tryLock()), note(m.lock());
  std::thread([&] { note(foreign ? m.unlock() : 3022); }).join();
  for (int held = 3; held > 0; --held)
    note(tryLockElsewhere(m)), note(m.unlock());
  note(tryLockElsewhere(m));
  EXPECT_EQ("3022 0 0 0 3022 3021 0 3021 0 3021 0 0 ", got);
  constexpr int kPer = 2000;
  std::vector<char> cells(4 * kPer + 1);
  void* slot = &cells[0];
  int up = INT_MAX - kPer, down = INT_MIN + kPer, counter = 0; // counter: the unguarded one
  std::vector<unsigned> seen(8 * kPer); // distances from the start, mod 2^32
  std::atomic<long> entered{0}, bad{0}, wins{0};
  runThreads(4, [&](int t) {
    for (int i = 0; i < kPer; ++i) {
      seen[t * kPer + i] = unsigned(BQUtilSync::atomicIncrementAndReturn(up)) - (INT_MAX - kPer);
      seen[(4 + t) * kPer + i] =
          4u * kPer + (INT_MIN + kPer) - unsigned(BQUtilSync::atomicDecrementAndReturn(down));
      char* c = static_cast<char*>(__atomic_load_n(&slot, __ATOMIC_ACQUIRE));
      wins += BQUtilSync::doAtomicCompareAndSwap(&slot, c, c + 1);
      if ((i + t) % 3 ? m.lock() : m.tryLock())
        continue; // a refused tryLock
      bad += m.tryLock() + m.lock();
      ++counter, ++entered;
      bad += m.unlock() + m.unlock() + m.unlock();
    }
  });
  std::sort(seen.begin(), seen.end());
  for (unsigned i = 0; i < seen.size(); ++i)
    ASSERT_EQ(i + 1, seen[i]);
  EXPECT_TRUE(up == INT_MIN + 3 * kPer - 1 && down == INT_MAX - 3 * kPer + 1) << up << " " << down;
  EXPECT_TRUE(wins > 0 && slot == &cells[wins]) << wins; // failed swaps leave the location
  EXPECT_TRUE(bad == 0 && entered == counter) << bad << " " << counter;
  EXPECT_EQ(BQ_STS_Success, tryLockElsewhere(m));
}

// Four threads walk the same fresh values at once, asking for n_str and
// w_str in both orders; the long text keeps each rendering's making long
// enough for another thread to catch up. Where two make the same rendering,
// one installs it and the other's is released; all get the installed one.
TEST(UtilSyncMt, RenderingsAreInstalledOnce) {
  long const blocksBefore = bqtest::liveBlocks();
  {
    std::string text;
    while (text.size() < 4000 * 3)
      text += "\xE2\x82\xAC";
    std::vector<BQFileSpec> values(128, BQFileSpec(text.c_str(), BQFileSpec::ENCODING_UTF8));
    std::vector<std::pair<char const*, wchar_t const*>> seen(4 * 128);
    std::atomic<int> ready{0};
    runThreads(4, [&](int t) {
      for (++ready; ready < 4;)
        std::this_thread::yield();
      for (int i = 0; i < 128; ++i) {
        auto& [native, wide] = seen[t * 128 + i];
        if (t % 2)
          native = values[i].n_str();
        wide = values[i].w_str();
        native = values[i].n_str();
      }
    });
    for (int i = 0; i < 4 * 128; ++i)
      ASSERT_EQ(seen[i % 128], seen[i]) << i;
    EXPECT_TRUE(text == seen[0].first && std::wstring(4000, L'\u20AC') == seen[0].second);
  }
  EXPECT_EQ(blocksBefore, bqtest::liveBlocks());
}

// 0 returns at once; 1000 ms is whole seconds and 30 ms microseconds only;
// a signal ends a wait early with -1 (SIGALRM every 20 ms in the last row,
// as one may come before select()).
TEST(UtilSyncMt, Sleep) {
  auto const saved = std::signal(SIGALRM, [](int) {});
  struct Row { unsigned ms; int result; double least, most; } const rows[] = {
      {0, 0, 0, 100}, {30, 0, 30, 1000}, {1000, 0, 1000, 2000}, {20000, -1, 0, 5000}};
  for (Row const& r : rows) {
    ualarm(r.result ? 20000 : 0, 20000);
    auto const begin = std::chrono::steady_clock::now();
    EXPECT_EQ(r.result, BQUtilSync::sleep(r.ms)) << r.ms;
    std::chrono::duration<double, std::milli> const took = std::chrono::steady_clock::now() - begin;
    EXPECT_TRUE(took.count() >= r.least && took.count() < r.most) << r.ms << ": " << took.count();
  }
  ualarm(0, 0);
  std::signal(SIGALRM, saved);
}
