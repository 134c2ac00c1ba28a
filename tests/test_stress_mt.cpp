// Concurrency stress, meant for ThreadSanitizer: shared BQFileSpec values
// rendered by many threads while others churn values, storms of
// execute/interrupt/destruction on BQThread, recursive locking and tryLock
// contention on BQUtilMutex, and exact counting by the BQUtilSync atomics.
// Iterations are bounded so the file runs in seconds even under TSan.
#include "brackwell/fileSpec.h"
#include "brackwell/thread.h"
#include "brackwell/utilMutex.h"
#include "brackwell/utilSync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

using namespace Brackwell;

namespace {

constexpr int kThreads = 4;

template <class F> void runThreads(int n, F f) {
  std::vector<std::thread> ts;
  for (int t = 0; t < n; ++t)
    ts.emplace_back(f, t);
  for (auto& t : ts)
    t.join();
}

TEST(StressMt, SharedFileSpecRenderingsWhileOthersChurn) {
  for (int round = 0; round < 30; ++round) {
    // Fresh values each round, so the first-use installation races again.
    std::vector<std::string> texts;
    std::vector<BQFileSpec> shared;
    for (int i = 0; i < 6; ++i) {
      texts.push_back("r" + std::to_string(round) + "/\xC3\xA9t\xE2\x82\xAC" +
                      std::to_string(i));
      shared.emplace_back(texts.back().c_str(), BQFileSpec::ENCODING_UTF8);
    }
    std::atomic<int> bad{0};
    runThreads(kThreads + 2, [&](int t) {
      if (t >= kThreads) { // churners: build, copy, assign, destroy
        for (int i = 0; i < 40; ++i) {
          BQFileSpec a(shared[i % 6], "x", BQFileSpec::ENCODING_UTF8);
          BQFileSpec b(L"w\u00E9", L"\U0001F600");
          b = a;
          BQFileSpec c(b);
          std::size_t wide = 7 + std::to_string(i % 6).size() +
                             std::to_string(round).size();
          if (std::string(c.n_str()) != texts[i % 6] + "/x" ||
              std::wcslen(c.w_str()) != wide)
            ++bad;
        }
        return;
      }
      for (int i = 0; i < 60; ++i) { // readers of the shared values
        BQFileSpec const& f = shared[(i + t) % 6];
        char const* n = (i + t) % 2 ? f.n_str() : nullptr;
        wchar_t const* w = f.w_str(); // the other order in alternate turns
        if (!n)
          n = f.n_str();
        // Multi-byte: 'é' takes 2 bytes and '€' 3, one wide character each.
        if (std::string(n) != texts[(i + t) % 6] || w != f.w_str() ||
            n != f.n_str() || std::wcslen(w) + 3 != std::strlen(n))
          ++bad;
      }
    });
    ASSERT_EQ(0, bad.load()) << "round " << round;
  }
}

// A task that counts its runs in counters outside the object, so a count can
// be read after the object is gone.
struct Counters {
  std::atomic<int> started{0}, ended{0};
};
class CountedTask : public BQThread {
public:
  CountedTask(Counters& c, int spin) : c(c), spin(spin) {}
  ~CountedTask() override { interrupt(); }

protected:
  std::int32_t task() override {
    c.started.fetch_add(1);
    for (int i = 0; i < spin; ++i)
      std::this_thread::yield();
    c.ended.fetch_add(1);
    return spin;
  }

private:
  Counters& c;
  int spin;
};

TEST(StressMt, ThreadExecuteInterruptStorm) {
  Counters c;
  std::vector<CountedTask*> pool;
  for (int i = 0; i < 4; ++i)
    pool.push_back(new CountedTask(c, 20 + i));
  std::atomic<int> accepted{0}, badStatus{0};
  runThreads(kThreads, [&](int t) {
    for (int i = 0; i < 150; ++i) {
      CountedTask* obj = pool[(i * 7 + t) % 4];
      switch ((i + t) % 3) {
      case 0:
      case 1: {
        BQ_STATUS s = obj->execute();
        if (s == BQ_STS_Success)
          ++accepted;
        else if (s != BQ_STS_ThreadBusy)
          ++badStatus;
        break;
      }
      default:
        if (obj->interrupt() != BQ_STS_Success)
          ++badStatus;
      }
    }
  });
  for (CountedTask* obj : pool) {
    EXPECT_EQ(BQ_STS_Success, obj->interrupt());
  }
  // Exactly the accepted executions ran, each to its end.
  EXPECT_EQ(0, badStatus.load());
  EXPECT_EQ(accepted.load(), c.started.load());
  EXPECT_EQ(accepted.load(), c.ended.load());
  for (CountedTask* obj : pool)
    EXPECT_GE(obj->getTaskReturnValue(), 20);
  // Destruction while the tasks run waits for each of them.
  int before = c.ended.load();
  for (CountedTask* obj : pool)
    ASSERT_EQ(BQ_STS_Success, obj->execute());
  for (CountedTask* obj : pool)
    delete obj;
  EXPECT_EQ(before + 4, c.ended.load());
}

TEST(StressMt, ThreadCreateExecuteDestroyChurn) {
  Counters c;
  std::atomic<int> badStatus{0};
  runThreads(kThreads, [&](int t) {
    for (int i = 0; i < 40; ++i) {
      CountedTask obj(c, (i + t) % 5);
      if (obj.execute(BQThread::BQThreadPriority((i + t) % 3)) !=
          BQ_STS_Success)
        ++badStatus;
      if (i % 2 && obj.interrupt() != BQ_STS_Success)
        ++badStatus;
      // Odd rounds join by interrupt; even ones leave it to the destructor.
    }
  });
  EXPECT_EQ(0, badStatus.load());
  EXPECT_EQ(kThreads * 40, c.started.load());
  EXPECT_EQ(kThreads * 40, c.ended.load());
}

TEST(StressMt, MutexRecursiveLockAndTryLockContention) {
  BQUtilMutex m;
  long counter = 0; // plain: only the lock protects it
  std::thread::id owner;
  std::atomic<long> entered{0}, refused{0}, bad{0};
  runThreads(kThreads, [&](int t) {
    for (int i = 0; i < 2000; ++i) {
      bool viaTry = (i + t) % 3 == 0;
      BQ_STATUS s = viaTry ? m.tryLock() : m.lock();
      if (s == BQ_STS_MutexLockFailed && viaTry) {
        ++refused;
        continue;
      }
      if (s != BQ_STS_Success) {
        ++bad;
        continue;
      }
      owner = std::this_thread::get_id();
      int depth = 1 + (i % 3);
      for (int d = 1; d < depth; ++d) // the holder relocks without blocking
        if ((d % 2 ? m.tryLock() : m.lock()) != BQ_STS_Success)
          ++bad;
      ++counter;
      if (owner != std::this_thread::get_id())
        ++bad;
      for (int d = 0; d < depth; ++d)
        if (m.unlock() != BQ_STS_Success)
          ++bad;
      ++entered;
    }
  });
  EXPECT_EQ(0, bad.load());
  EXPECT_EQ(entered.load(), counter);
  EXPECT_EQ(kThreads * 2000L, entered.load() + refused.load());
  // Fully released: another thread takes it at once.
  std::thread([&] {
    EXPECT_EQ(BQ_STS_Success, m.tryLock());
    EXPECT_EQ(BQ_STS_Success, m.unlock());
  }).join();
}

TEST(StressMt, AtomicsReturnEveryValueExactlyOnce) {
  constexpr int kPer = 20000;
  struct Case {
    int start;
    bool increment;
  } const cases[] = {{0, true}, {0, false}, {INT_MAX - kPer, true},
                     {INT_MIN + kPer, false}};
  for (Case const& c : cases) {
    int value = c.start;
    std::vector<std::vector<int>> seen(kThreads);
    runThreads(kThreads, [&](int t) {
      for (int i = 0; i < kPer; ++i)
        seen[t].push_back(c.increment
                              ? BQUtilSync::atomicIncrementAndReturn(value)
                              : BQUtilSync::atomicDecrementAndReturn(value));
    });
    std::vector<long long> all;
    for (auto& v : seen)
      for (int x : v) // undo the wrap-around to compare on a line
        all.push_back(c.increment ? (long long)x - c.start +
                                        (x < c.start ? 4294967296LL : 0)
                                  : (long long)c.start - x +
                                        (x > c.start ? 4294967296LL : 0));
    std::sort(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size(); ++i)
      ASSERT_EQ((long long)i + 1, all[i]) << c.start << " at " << i;
    unsigned expectedEnd = unsigned(c.start) +
                           (c.increment ? 1u : -1u) * unsigned(kThreads * kPer);
    EXPECT_EQ(int(expectedEnd), value) << c.start;
  }
}

TEST(StressMt, CompareAndSwapAdvancesOncePerSuccess) {
  constexpr int kSlots = 40000;
  std::vector<char> cells(kSlots + 1);
  void* slot = &cells[0];
  std::atomic<int> wins{0};
  runThreads(kThreads, [&](int) {
    for (;;) {
      void* seen = __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
      char* p = static_cast<char*>(seen);
      if (p == &cells[kSlots])
        return;
      if (BQUtilSync::doAtomicCompareAndSwap(&slot, seen, p + 1))
        ++wins;
    }
  });
  EXPECT_EQ(kSlots, wins.load());
  EXPECT_EQ(static_cast<void*>(&cells[kSlots]), slot);
}

} // namespace
