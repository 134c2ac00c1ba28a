// The fast converters against the scalar ones: on generated inputs that mix
// ASCII runs (long enough for the block paths) with multi-byte characters,
// ill-formed and truncated sequences, surrogates and out-of-range values,
// both variants must agree on the result, both cursors and every unit of
// the target buffer, at every source end and every target capacity.
#include "../src/text/convert_impl.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Rng = std::mt19937;

unsigned pick(Rng& rng, unsigned n) { return static_cast<unsigned>(rng() % n); }

// A scalar value of a random UTF-8 length; sometimes a surrogate or a value
// above 0x10FFFF, which only the UTF-16/32 sources can carry.
UTF32 randomValue(Rng& rng, bool oddOnes) {
  // The edges of every range, odd ones last.
  static const UTF32 edges[] = {0x7F,   0x80,   0x7FF,    0x800,   0xD7FF,
                                0xE000, 0xFFFD, 0xFFFF,   0x10000, 0x10FFFF,
                                0xD800, 0xDBFF, 0xDC00,   0xDFFF,  0x110000,
                                0xFFFFFFFF};
  if (pick(rng, 4) == 0)
    return edges[pick(rng, oddOnes ? 16 : 10)];
  switch (pick(rng, oddOnes ? 6 : 4)) {
    case 0: return pick(rng, 0x80);
    case 1: return 0x80 + pick(rng, 0x780);
    case 2: {
      UTF32 c = 0x800 + pick(rng, 0xF800);
      return (c >= 0xD800 && c <= 0xDFFF) ? c - 0x800 : c;
    }
    case 3: return 0x10000 + pick(rng, 0x100000);
    case 4: return 0xD800 + pick(rng, 0x800);
    default: return pick(rng, 2) ? 0x110000 + pick(rng, 1000) : 0xFFFFFFFF;
  }
}

void putUTF8(std::vector<UTF8>& out, UTF32 c) {
  if (c < 0x80) {
    out.push_back(static_cast<UTF8>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<UTF8>(0xC0 | (c >> 6)));
    out.push_back(static_cast<UTF8>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<UTF8>(0xE0 | (c >> 12)));
    out.push_back(static_cast<UTF8>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<UTF8>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<UTF8>(0xF0 | (c >> 18)));
    out.push_back(static_cast<UTF8>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<UTF8>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<UTF8>(0x80 | (c & 0x3F)));
  }
}

// Bytes that break UTF-8 in the ways the readers tell apart.
void putBadUTF8(std::vector<UTF8>& out, Rng& rng) {
  static const std::vector<std::vector<UTF8>> bad = {
      {0x80}, {0xBF}, {0xC0, 0x80}, {0xC1, 0xBF}, {0xE0, 0x80, 0x80},
      {0xED, 0xA0, 0x80}, {0xF0, 0x80, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80},
      {0xF5, 0x80, 0x80, 0x80}, {0xF8, 0x88, 0x80, 0x80, 0x80}, {0xFF},
      {0xC3}, {0xE2, 0x82}, {0xF0, 0x9F, 0x98}, {0xC3, 0x41}, {0xE2, 0x28, 0xA1}};
  auto const& b = bad[pick(rng, static_cast<unsigned>(bad.size()))];
  out.insert(out.end(), b.begin(), b.end());
}

std::vector<UTF8> makeUTF8(Rng& rng) {
  std::vector<UTF8> s;
  for (unsigned parts = 1 + pick(rng, 6); parts-- > 0;) {
    for (unsigned n = pick(rng, 40); n-- > 0;)
      s.push_back(static_cast<UTF8>(0x20 + pick(rng, 0x5F)));
    for (unsigned n = pick(rng, 6); n-- > 0;)
      putUTF8(s, randomValue(rng, false));
    if (pick(rng, 3) == 0)
      putBadUTF8(s, rng);
  }
  return s;
}

std::vector<UTF32> makeUTF32(Rng& rng) {
  std::vector<UTF32> s;
  for (unsigned parts = 1 + pick(rng, 6); parts-- > 0;) {
    for (unsigned n = pick(rng, 40); n-- > 0;)
      s.push_back(0x20 + pick(rng, 0x5F));
    for (unsigned n = pick(rng, 6); n-- > 0;)
      s.push_back(randomValue(rng, pick(rng, 4) == 0));
  }
  return s;
}

std::vector<UTF16> makeUTF16(Rng& rng) {
  std::vector<UTF16> s;
  for (UTF32 c : makeUTF32(rng)) {
    if (c > 0x10FFFF) {
      s.push_back(static_cast<UTF16>(0xDC00 + (c & 0x3FF))); // a lone low
    } else if (c >= 0x10000) {
      s.push_back(static_cast<UTF16>(0xD800 + ((c - 0x10000) >> 10)));
      s.push_back(static_cast<UTF16>(0xDC00 + (c & 0x3FF)));
    } else {
      s.push_back(static_cast<UTF16>(c));
    }
  }
  return s;
}

template <class S, class T>
using Converter = ConversionResult (*)(const S**, const S*, T**, T*,
                                       ConversionFlags);

// Runs both variants on src[0, cut) into `cap` units (followed by guard
// units) and compares everything they leave behind.
template <class S, class T>
void compareAt(Converter<S, T> fast, Converter<S, T> scalar,
               std::vector<S> const& src, std::size_t cut, std::size_t cap,
               ConversionFlags flags) {
  std::vector<T> a(cap + 8, static_cast<T>(0x5A)), b = a;
  const S* sa = src.data();
  const S* sb = src.data();
  T* ta = a.data();
  T* tb = b.data();
  ConversionResult ra = fast(&sa, src.data() + cut, &ta, a.data() + cap, flags);
  ConversionResult rb = scalar(&sb, src.data() + cut, &tb, b.data() + cap, flags);
  ASSERT_EQ(rb, ra) << "cut " << cut << " cap " << cap << " flags " << flags;
  ASSERT_EQ(sb - src.data(), sa - src.data()) << "cut " << cut << " cap " << cap;
  ASSERT_EQ(tb - b.data(), ta - a.data()) << "cut " << cut << " cap " << cap;
  ASSERT_EQ(b, a) << "target units differ, cut " << cut << " cap " << cap;
}

// Every source end with ample room, then every capacity up to what the
// whole source needs (and a little more).
template <class S, class T>
void compareAll(Converter<S, T> fast, Converter<S, T> scalar,
                std::vector<S> const& src) {
  for (ConversionFlags flags : {strictConversion, lenientConversion}) {
    const std::size_t ample = src.size() * 4 + 4;
    for (std::size_t cut = 0; cut <= src.size(); ++cut) {
      compareAt(fast, scalar, src, cut, ample, flags);
      if (testing::Test::HasFatalFailure()) return;
    }
    for (std::size_t cap = 0; cap <= src.size() * 4 + 2; ++cap) {
      compareAt(fast, scalar, src, src.size(), cap, flags);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

constexpr int kInputs = 400;

} // namespace

using namespace convert_impl;

TEST(ConvertFast, FromUTF8MatchesScalar) {
  Rng rng(1);
  for (int k = 0; k < kInputs && !HasFatalFailure(); ++k) {
    std::vector<UTF8> s = makeUTF8(rng);
    compareAll<UTF8, UTF16>(utf8ToUTF16<true>, utf8ToUTF16<false>, s);
    compareAll<UTF8, UTF32>(utf8ToUTF32<true>, utf8ToUTF32<false>, s);
  }
}

TEST(ConvertFast, FromUTF16MatchesScalar) {
  Rng rng(2);
  for (int k = 0; k < kInputs && !HasFatalFailure(); ++k) {
    std::vector<UTF16> s = makeUTF16(rng);
    compareAll<UTF16, UTF8>(utf16ToUTF8<true>, utf16ToUTF8<false>, s);
    compareAll<UTF16, UTF32>(utf16ToUTF32<true>, utf16ToUTF32<false>, s);
  }
}

TEST(ConvertFast, FromUTF32MatchesScalar) {
  Rng rng(3);
  for (int k = 0; k < kInputs && !HasFatalFailure(); ++k) {
    std::vector<UTF32> s = makeUTF32(rng);
    compareAll<UTF32, UTF8>(utf32ToUTF8<true>, utf32ToUTF8<false>, s);
    compareAll<UTF32, UTF16>(utf32ToUTF16<true>, utf32ToUTF16<false>, s);
  }
}

// A non-ASCII unit at every offset of a long ASCII run: the block paths stop
// exactly there, and write nothing of the block beyond it.
TEST(ConvertFast, BlockStopsAtEveryOffset) {
  for (std::size_t at = 0; at < 70; ++at) {
    std::vector<UTF8> s8(80, 'a');
    s8[at] = 0xFF;
    compareAll<UTF8, UTF16>(utf8ToUTF16<true>, utf8ToUTF16<false>, s8);
    compareAll<UTF8, UTF32>(utf8ToUTF32<true>, utf8ToUTF32<false>, s8);
    std::vector<UTF16> s16(80, 'a');
    s16[at] = 0xDC00;
    compareAll<UTF16, UTF8>(utf16ToUTF8<true>, utf16ToUTF8<false>, s16);
    std::vector<UTF32> s32(80, 'a');
    s32[at] = 0xD800;
    compareAll<UTF32, UTF8>(utf32ToUTF8<true>, utf32ToUTF8<false>, s32);
  }
}

// isLegalUTF8Sequence's shortcut for ASCII against the full test.
TEST(ConvertFast, LegalSequenceShortcut) {
  for (unsigned b = 0; b < 0x80; ++b) {
    const UTF8 one[1] = {static_cast<UTF8>(b)};
    EXPECT_TRUE(isLegalSequence(one, one + 1));
    EXPECT_EQ(isLegalUTF8(one, 1), isLegalSequence(one, one + 1));
  }
}
