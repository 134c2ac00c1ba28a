// BQFileSpec under exhausted memory: every allocation point of every
// constructor family and of the operations that allocate gives its stated
// outcome, leaves the value it was called on unchanged, and leaks nothing.
#include "brackwell/fileSpec.h"

#include "support/alloc_fault.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

using Brackwell::BQFileSpec;
using Brackwell::BQUtilException;

namespace {

unsigned short const kA16[] = {'a', '/', 0};
unsigned short const kB16[] = {'b', 0};
unsigned short const kC16[] = {'c', 0};

// Runs `make` at every failure point. A throwing run must throw code 8 and
// only when a failure was injected; a run that returns must give `full`
// when nothing failed, and otherwise one of `degraded` (a dropped
// component or the null value, "(null)").
long expectThrowsOrFull(std::function<BQFileSpec()> make, std::string full,
                        std::vector<std::string> degraded = {}) {
  long points = bqtest::forEachAllocFailure([&] {
    try {
      BQFileSpec f = make();
      std::string got = f.utf8() ? f.utf8() : "(null)";
      if (!bqtest::failureInjected()) {
        EXPECT_EQ(full, got);
      } else {
        bool allowed = false;
        for (auto const& d : degraded)
          allowed = allowed || d == got;
        EXPECT_TRUE(allowed) << "got " << got;
      }
    } catch (BQUtilException const& e) {
      EXPECT_TRUE(bqtest::failureInjected());
      EXPECT_EQ(8, e.code);
    }
  });
  EXPECT_GT(points, 0);
  return points;
}

TEST(FileSpecAlloc, NarrowFamilies) {
  BQFileSpec pa("a/", BQFileSpec::ENCODING_UTF8);
  BQFileSpec pb("b", BQFileSpec::ENCODING_UTF8);
  for (auto enc : {BQFileSpec::ENCODING_NATIVE, BQFileSpec::ENCODING_UTF8,
                   static_cast<BQFileSpec::EncodingType>(7)}) {
    // UTF-8 text is joined in place; native text is copied once per
    // component first, each copy one more failure point.
    long copies = enc == BQFileSpec::ENCODING_UTF8 ? 0 : 1;
    EXPECT_EQ(1 + copies,
              expectThrowsOrFull([&] { return BQFileSpec("a/", enc); }, "a/"));
    EXPECT_EQ(
        1 + 2 * copies,
        expectThrowsOrFull([&] { return BQFileSpec("a/", "b", enc); }, "a/b"));
    EXPECT_EQ(1 + 3 * copies,
              expectThrowsOrFull(
                  [&] { return BQFileSpec("a/", "b", "c", enc); }, "a/b/c"));
    EXPECT_EQ(1 + copies, expectThrowsOrFull(
                              [&] { return BQFileSpec(pa, "b", enc); }, "a/b"));
    EXPECT_EQ(1 + 2 * copies,
              expectThrowsOrFull([&] { return BQFileSpec(pa, "b", "c", enc); },
                                 "a/b/c"));
    EXPECT_EQ(1 + copies,
              expectThrowsOrFull([&] { return BQFileSpec(pa, pb, "c", enc); },
                                 "a/b/c"));
  }
  expectThrowsOrFull([&] { return BQFileSpec(pa, pb); }, "a/b");
  expectThrowsOrFull([&] { return BQFileSpec(pa, pb, pb); }, "a/b/b");
}

TEST(FileSpecAlloc, Utf16Family) {
  BQFileSpec pa("a/", BQFileSpec::ENCODING_UTF8);
  BQFileSpec pb("b", BQFileSpec::ENCODING_UTF8);
  // The one-argument form never throws: failure is the null value.
  bqtest::forEachAllocFailure([&] {
    BQFileSpec f(kA16);
    if (bqtest::failureInjected())
      EXPECT_EQ(nullptr, f.utf8());
    else
      EXPECT_STREQ("a/", f.utf8());
  });
  // A failed first-component buffer gives null, a failed later one drops
  // that component (and a dropped second drops the third).
  expectThrowsOrFull([&] { return BQFileSpec(kA16, kB16); }, "a/b",
                     {"(null)", "a/"});
  expectThrowsOrFull([&] { return BQFileSpec(kA16, kB16, kC16); }, "a/b/c",
                     {"(null)", "a/", "a/b"});
  expectThrowsOrFull([&] { return BQFileSpec(pa, kB16); }, "a/b", {"a/"});
  expectThrowsOrFull([&] { return BQFileSpec(pa, kB16, kC16); }, "a/b/c",
                     {"a/", "a/b"});
  expectThrowsOrFull([&] { return BQFileSpec(pa, pb, kC16); }, "a/b/c",
                     {"a/b"});
}

TEST(FileSpecAlloc, WideFamily) {
  BQFileSpec pa("a/", BQFileSpec::ENCODING_UTF8);
  BQFileSpec pb("b", BQFileSpec::ENCODING_UTF8);
  expectThrowsOrFull([&] { return BQFileSpec(L"a/"); }, "a/", {"(null)"});
  expectThrowsOrFull([&] { return BQFileSpec(L"a/", L"b"); }, "a/b",
                     {"(null)", "a/"});
  expectThrowsOrFull([&] { return BQFileSpec(L"a/", L"b", L"c"); }, "a/b/c",
                     {"(null)", "a/", "a/b"});
  expectThrowsOrFull([&] { return BQFileSpec(pa, L"b"); }, "a/b", {"a/"});
  expectThrowsOrFull([&] { return BQFileSpec(pa, L"b", L"c"); }, "a/b/c",
                     {"a/", "a/b"});
  expectThrowsOrFull([&] { return BQFileSpec(pa, pb, L"c"); }, "a/b/c",
                     {"a/b"});
}

TEST(FileSpecAlloc, CopyAndAssignGiveNullValue) {
  BQFileSpec src("src/x", BQFileSpec::ENCODING_UTF8);
  long points = bqtest::forEachAllocFailure([&] {
    BQFileSpec copy(src);
    if (bqtest::failureInjected())
      EXPECT_EQ(nullptr, copy.utf8());
    else
      EXPECT_STREQ("src/x", copy.utf8());
  });
  EXPECT_EQ(1, points);
  // The target lives inside the run so that every block it holds is
  // released there; its own construction is the first failure point.
  points = bqtest::forEachAllocFailure([&] {
    try {
      BQFileSpec dst("old", BQFileSpec::ENCODING_UTF8);
      dst = src;
      if (bqtest::failureInjected())
        EXPECT_EQ(nullptr, dst.utf8());
      else
        EXPECT_STREQ("src/x", dst.utf8());
    } catch (BQUtilException const& e) {
      EXPECT_EQ(8, e.code);
      EXPECT_TRUE(bqtest::failureInjected());
    }
  });
  EXPECT_EQ(2, points);
  EXPECT_STREQ("src/x", src.utf8());
}

TEST(FileSpecAlloc, Renderings) {
  // Point 1 is the value's own path; point 2 the rendering.
  long points = bqtest::forEachAllocFailure([&] {
    try {
      BQFileSpec g("w\xC3\xA9", BQFileSpec::ENCODING_UTF8);
      bool before = bqtest::failureInjected();
      wchar_t const* w = g.w_str();
      if (bqtest::failureInjected() && !before) {
        EXPECT_EQ(nullptr, w);
        EXPECT_STREQ("w\xC3\xA9", g.utf8());
      } else {
        EXPECT_EQ(std::wstring(L"w\u00E9"), w);
      }
    } catch (BQUtilException const& e) {
      EXPECT_EQ(8, e.code);
    }
  });
  EXPECT_EQ(2, points);
  points = bqtest::forEachAllocFailure([&] {
    bool constructed = false;
    try {
      BQFileSpec h("n", BQFileSpec::ENCODING_UTF8);
      constructed = true;
      try {
        EXPECT_STREQ("n", h.n_str());
        EXPECT_FALSE(bqtest::failureInjected());
      } catch (BQUtilException const& e) {
        EXPECT_TRUE(bqtest::failureInjected());
        EXPECT_EQ(8, e.code);
        EXPECT_STREQ("n", h.utf8());
        EXPECT_STREQ("n", h.n_str()); // a later call succeeds
      }
    } catch (BQUtilException const& e) {
      EXPECT_FALSE(constructed);
      EXPECT_EQ(8, e.code);
    }
  });
  EXPECT_EQ(2, points);
}

TEST(FileSpecAlloc, DecompositionThrowsAndLeavesValue) {
  BQFileSpec f("dir/file.txt", BQFileSpec::ENCODING_UTF8);
  BQFileSpec dot(".profile", BQFileSpec::ENCODING_UTF8);
  std::function<BQFileSpec()> ops[] = {
      [&] { return f.dirname(); },
      [&] { return f.replaceSuffix("bak"); },
      [&] { return f.removeSuffix(); },
  };
  char const* expected[] = {"dir", "dir/file.bak", "dir/file"};
  for (int i = 0; i < 3; ++i) {
    expectThrowsOrFull(ops[i], expected[i]);
    EXPECT_STREQ("dir/file.txt", f.utf8());
  }
  // The null result of removeSuffix allocates nothing.
  EXPECT_EQ(0, bqtest::forEachAllocFailure(
                   [&] { EXPECT_EQ(nullptr, dot.removeSuffix().utf8()); }));
}

} // namespace

// Moving allocates nothing, keeps handed-out pointers valid and leaves the
// source null; a vector of paths grows by moving.
TEST(FileSpecAlloc, MovesDoNotAllocate) {
  BQFileSpec a("/x/y.txt", BQFileSpec::ENCODING_UTF8);
  char const* path = a.utf8();
  wchar_t const* wide = a.w_str();
  const long before = bqtest::totalAllocations();
  BQFileSpec b(std::move(a));
  BQFileSpec c;
  c = std::move(b);
  BQFileSpec& alias = c;
  c = std::move(alias);  // self-move keeps the value
  EXPECT_EQ(bqtest::totalAllocations(), before);
  EXPECT_EQ(a.utf8(), nullptr);
  EXPECT_EQ(b.utf8(), nullptr);
  EXPECT_EQ(c.utf8(), path);
  EXPECT_EQ(c.w_str(), wide);
  EXPECT_STREQ(c.utf8(), "/x/y.txt");

  std::vector<BQFileSpec> list;
  for (int i = 0; i < 100; ++i)
    list.push_back(BQFileSpec("/some/path", BQFileSpec::ENCODING_UTF8));
  const long grown = bqtest::totalAllocations();
  list.reserve(list.capacity() + 1);  // one block for the vector itself
  EXPECT_EQ(bqtest::totalAllocations(), grown + 1);
}
