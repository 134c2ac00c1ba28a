// BQFileSpec renderings under concurrency: many threads asking one value for
// n_str() and w_str() at once all get the one installed buffer.
#include "brackwell/fileSpec.h"

#include "support/alloc_fault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using Brackwell::BQFileSpec;

namespace {

TEST(FileSpecConcurrency, RenderingsAreInstalledOnce) {
  constexpr int kThreads = 16;
  constexpr int kRounds = 100;
  for (int round = 0; round < kRounds; ++round) {
    long blocksBefore = bqtest::liveBlocks();
    {
      std::string text = "dir/\xC3\xA9l\xC3\xA8ve-" + std::to_string(round);
      BQFileSpec f(text.c_str(), BQFileSpec::ENCODING_UTF8);
      std::vector<char const*> natives(kThreads);
      std::vector<wchar_t const*> wides(kThreads);
      std::atomic<int> ready{0};
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
          ready.fetch_add(1);
          while (ready.load() < kThreads)
            std::this_thread::yield();
          if (t % 2) {
            natives[t] = f.n_str();
            wides[t] = f.w_str();
          } else {
            wides[t] = f.w_str();
            natives[t] = f.n_str();
          }
        });
      }
      for (auto& th : threads)
        th.join();
      for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(natives[0], natives[t]) << "round " << round;
        ASSERT_EQ(wides[0], wides[t]) << "round " << round;
      }
      EXPECT_STREQ(text.c_str(), natives[0]);
      EXPECT_NE(f.utf8(), natives[0]);
      std::wstring expected = L"dir/\u00E9l\u00E8ve-" + std::to_wstring(round);
      EXPECT_EQ(expected, wides[0]);
    }
    // Every buffer that lost the race was released.
    EXPECT_EQ(blocksBefore, bqtest::liveBlocks()) << "round " << round;
  }
}

} // namespace
