// BQUtilMutex (recursion, ownership, contention) and BQUtilSync (sleep, and
// the atomics and compare-and-swap, each checked alone and racing).
#include "brackwell/utilMutex.h"
#include "brackwell/utilSync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <thread>
#include <vector>

using namespace Brackwell;

namespace {

constexpr int kThreads = 4;

#if defined(__SANITIZE_THREAD__)
constexpr bool kTsan = true;
#elif defined(__has_feature)
constexpr bool kTsan = __has_feature(thread_sanitizer);
#else
constexpr bool kTsan = false;
#endif

template <class F> void runThreads(F f) {
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t)
    ts.emplace_back(f, t);
  for (auto& t : ts)
    t.join();
}

// tryLock() from another thread, released again when it got the mutex.
BQ_STATUS tryLockElsewhere(BQUtilMutex& m) {
  BQ_STATUS r = -1;
  std::thread([&] {
    if ((r = m.tryLock()) == BQ_STS_Success)
      m.unlock();
  }).join();
  return r;
}

} // namespace

// Recursive: held until as many unlocks as locks. An unlock by a thread
// that does not hold it fails and changes nothing (not under
// ThreadSanitizer, which aborts on it).
TEST(UtilMutexMt, RecursionAndOwnership) {
  BQUtilMutex m;
  EXPECT_EQ(BQ_STS_Success, tryLockElsewhere(m));
  EXPECT_EQ(BQ_STS_MutexUnlockFailed, kTsan ? BQ_STS_MutexUnlockFailed : m.unlock());
  ASSERT_EQ(BQ_STS_Success, m.lock());
  ASSERT_EQ(BQ_STS_Success, m.tryLock());
  ASSERT_EQ(BQ_STS_Success, m.lock());
  BQ_STATUS foreign = BQ_STS_MutexUnlockFailed;
  if (!kTsan)
    std::thread([&] { foreign = m.unlock(); }).join();
  EXPECT_EQ(BQ_STS_MutexUnlockFailed, foreign);
  for (int held = 3; held > 0; --held) {
    EXPECT_EQ(BQ_STS_MutexLockFailed, tryLockElsewhere(m)) << held;
    EXPECT_EQ(BQ_STS_Success, m.unlock());
  }
  EXPECT_EQ(BQ_STS_Success, tryLockElsewhere(m));
}

// Plain data guarded by the mutex alone, taken by lock or tryLock and
// re-taken by its holder; a refused tryLock returns at once.
TEST(UtilMutexMt, Contention) {
  BQUtilMutex m;
  long counter = 0;
  std::atomic<long> entered{0}, refused{0}, bad{0};
  runThreads([&](int t) {
    for (int i = 0; i < 1000; ++i) {
      bool viaTry = (i + t) % 3 == 0;
      BQ_STATUS s = viaTry ? m.tryLock() : m.lock();
      if (s != BQ_STS_Success) {
        ++(viaTry && s == BQ_STS_MutexLockFailed ? refused : bad);
        continue;
      }
      int depth = 1 + i % 3;
      for (int d = 1; d < depth; ++d)
        bad += (d % 2 ? m.tryLock() : m.lock()) != BQ_STS_Success;
      ++counter;
      for (int d = 0; d < depth; ++d)
        bad += m.unlock() != BQ_STS_Success;
      ++entered;
    }
  });
  EXPECT_EQ(0, bad.load());
  EXPECT_EQ(entered.load(), counter);
  EXPECT_EQ(kThreads * 1000L, entered + refused);
  EXPECT_EQ(BQ_STS_Success, tryLockElsewhere(m));
}

// Each row: one call alone (the new value, wrapping at the ends of the
// range), then racing threads from the same start, which between them must
// get every following value exactly once.
TEST(UtilSyncMt, IncrementAndDecrement) {
  constexpr int kPer = 5000;
  struct Row { int start; bool up; int next; } const rows[] = {
      {5, true, 6}, {0, false, -1}, {INT_MAX, true, INT_MIN},
      {INT_MIN, false, INT_MAX}};
  for (Row const& r : rows) {
    auto step = [&r](int& v) {
      return r.up ? BQUtilSync::atomicIncrementAndReturn(v)
                  : BQUtilSync::atomicDecrementAndReturn(v);
    };
    int v = r.start;
    EXPECT_EQ(r.next, step(v)) << r.start;
    EXPECT_EQ(r.next, v) << r.start;
    v = r.start;
    std::vector<std::vector<unsigned>> seen(kThreads);
    runThreads([&](int t) {
      for (int i = 0; i < kPer; ++i) // distance from the start, mod 2^32
        seen[t].push_back(r.up ? unsigned(step(v)) - unsigned(r.start)
                               : unsigned(r.start) - unsigned(step(v)));
    });
    std::vector<unsigned> all;
    for (auto& s : seen)
      all.insert(all.end(), s.begin(), s.end());
    std::sort(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size(); ++i)
      ASSERT_EQ(i + 1, all[i]) << r.start;
    EXPECT_EQ(unsigned(kThreads * kPer),
              r.up ? unsigned(v) - unsigned(r.start)
                   : unsigned(r.start) - unsigned(v));
  }
}

// Alone: a mismatch leaves the location; a match swaps. Racing: a location
// advanced one cell per successful swap ends exactly at the last cell.
TEST(UtilSyncMt, CompareAndSwap) {
  int a = 1, b = 2;
  void* slot = &a;
  EXPECT_FALSE(BQUtilSync::doAtomicCompareAndSwap(&slot, &b, nullptr));
  EXPECT_EQ(&a, slot);
  EXPECT_TRUE(BQUtilSync::doAtomicCompareAndSwap(&slot, &a, &b));
  EXPECT_EQ(&b, slot);

  constexpr int kCells = 10000;
  std::vector<char> cells(kCells + 1);
  slot = &cells[0];
  std::atomic<int> wins{0};
  runThreads([&](int) {
    for (;;) {
      char* seen = static_cast<char*>(__atomic_load_n(&slot, __ATOMIC_ACQUIRE));
      if (seen == &cells[kCells])
        return;
      wins += BQUtilSync::doAtomicCompareAndSwap(&slot, seen, seen + 1);
    }
  });
  EXPECT_EQ(kCells, wins.load());
  EXPECT_EQ(static_cast<void*>(&cells[kCells]), slot);
}

// 1050 ms is one second and 50 000 microseconds: both parts must be waited.
TEST(UtilSync, SleepWaitsRequestedTime) {
  for (unsigned ms : {0u, 30u, 1050u}) {
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, BQUtilSync::sleep(ms)) << ms;
    long took = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - begin).count();
    EXPECT_GE(took, long(ms) - 1) << ms;
    EXPECT_LT(took, long(ms) + 1000) << ms;
  }
}

TEST(UtilSyncMt, SignalEndsSleepEarly) {
  struct sigaction quiet {}, saved {};
  quiet.sa_handler = [](int) {};
  ASSERT_EQ(0, sigaction(SIGUSR1, &quiet, &saved));
  pthread_t const sleeper = pthread_self();
  std::atomic<bool> woke{false};
  std::thread kicker([&] { // again and again: one may come before select()
    while (!woke) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      pthread_kill(sleeper, SIGUSR1);
    }
  });
  auto begin = std::chrono::steady_clock::now();
  int const result = BQUtilSync::sleep(20000);
  auto took = std::chrono::steady_clock::now() - begin;
  woke = true;
  kicker.join();
  sigaction(SIGUSR1, &saved, nullptr);
  EXPECT_EQ(-1, result);
  EXPECT_LT(took, std::chrono::seconds(5));
}
