// Races meant for ThreadSanitizer, bounded to run in well under a second:
// threads rendering shared BQFileSpec values for the first time, and storms
// of execute, interrupt and destruction on BQThread objects.
#include "brackwell/fileSpec.h"
#include "brackwell/thread.h"

#include "support/alloc_fault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace Brackwell;

namespace {

template <class F> void runThreads(int n, F f) {
  std::vector<std::thread> ts;
  for (int t = 0; t < n; ++t)
    ts.emplace_back(f, t);
  for (auto& t : ts)
    t.join();
}

// Fresh values every round, so that the first-use installation races again:
// threads ask for n_str and w_str in both orders and copy the value meanwhile.
// Every caller gets the one installed buffer, and the buffers of the threads
// that lost the race are released.
TEST(StressMt, RenderingsAreInstalledOnce) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 40; ++round) {
    long const blocksBefore = bqtest::liveBlocks();
    {
      std::string text = "r/\xC3\xA9t\xE2\x82\xAC" + std::to_string(round);
      std::wstring wide = L"r/\u00E9t\u20AC" + std::to_wstring(round);
      BQFileSpec f(text.c_str(), BQFileSpec::ENCODING_UTF8);
      std::vector<char const*> natives(kThreads);
      std::vector<wchar_t const*> wides(kThreads);
      std::atomic<int> ready{0}, bad{0};
      runThreads(kThreads, [&](int t) {
        for (++ready; ready < kThreads;)
          std::this_thread::yield();
        if (t % 2)
          natives[t] = f.n_str();
        wides[t] = f.w_str();
        natives[t] = f.n_str();
        BQFileSpec copy(f);
        bad += copy.n_str() == natives[t] || text != copy.n_str() ||
               wide != copy.w_str();
      });
      EXPECT_EQ(0, bad.load());
      for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(natives[0], natives[t]) << round;
        ASSERT_EQ(wides[0], wides[t]) << round;
      }
      EXPECT_EQ(text, natives[0]);
      EXPECT_NE(f.utf8(), natives[0]);
      EXPECT_EQ(wide, wides[0]);
    }
    EXPECT_EQ(blocksBefore, bqtest::liveBlocks()) << round;
  }
}

// Counts its runs outside the object, so the count outlives it.
struct Counters {
  std::atomic<int> started{0}, ended{0};
};
class CountedTask : public BQThread {
public:
  CountedTask(Counters& c, int spin) : c(c), spin(spin) {}
  ~CountedTask() override { interrupt(); }

protected:
  std::int32_t task() override {
    c.started++;
    for (int i = 0; i < spin; ++i)
      std::this_thread::yield();
    c.ended++;
    return spin;
  }

private:
  Counters& c;
  int spin;
};

// Shared objects get execute and interrupt from several threads at once;
// exactly the accepted executions run, each to its end. Objects made,
// started and destroyed in each thread are waited for by interrupt or by
// the destructor.
TEST(StressMt, ExecuteInterruptAndDestroyStorm) {
  Counters c, local;
  std::vector<CountedTask*> pool;
  for (int i = 0; i < 4; ++i)
    pool.push_back(new CountedTask(c, 20 + i));
  std::atomic<int> accepted{0}, bad{0};
  runThreads(4, [&](int t) {
    for (int i = 0; i < 24; ++i) {
      CountedTask* obj = pool[(i * 7 + t) % 4];
      if ((i + t) % 3 == 2) {
        bad += obj->interrupt() != BQ_STS_Success;
      } else {
        BQ_STATUS s = obj->execute();
        accepted += s == BQ_STS_Success;
        bad += s != BQ_STS_Success && s != BQ_STS_ThreadBusy;
      }
      if (i % 4 == 0) {
        CountedTask own(local, (i + t) % 5);
        bad += own.execute(BQThread::BQThreadPriority((i + t) % 3)) != 0;
        if (i % 8 == 0)
          bad += own.interrupt() != BQ_STS_Success;
      }
    }
  });
  for (CountedTask* obj : pool)
    EXPECT_EQ(BQ_STS_Success, obj->interrupt());
  EXPECT_EQ(0, bad.load());
  EXPECT_EQ(accepted.load(), c.started.load());
  EXPECT_EQ(accepted.load(), c.ended.load());
  EXPECT_EQ(24, local.ended.load());
  int const before = c.ended;
  for (CountedTask* obj : pool)
    ASSERT_EQ(BQ_STS_Success, obj->execute());
  for (CountedTask* obj : pool)
    delete obj; // waits for the running task
  EXPECT_EQ(before + 4, c.ended.load());
}

} // namespace
