// Tests of the UTF-8/16/32 conversion routines: the stated corner cases as
// tables, a round trip of every scalar value, every target capacity, and the
// well-formedness rule against an independent encoder.

#include "brackwell/ConvertUTF.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace {

template <typename S, typename T>
using Converter = ConversionResult (*)(const S**, const S*, T**, T*,
                                       ConversionFlags);

// Outcome of one call: result, units consumed, units written.
template <typename T>
struct Run {
  ConversionResult result;
  std::size_t consumed;
  std::vector<T> out;
};

// Runs `fn` on `src` with a target of `room` units, checking that nothing is
// written beyond the room.
template <typename S, typename T>
Run<T> run(Converter<S, T> fn, std::vector<S> const& src, std::size_t room,
           int flags) {
  std::vector<T> buf(room + 4, T(0x5A));
  const S* s = src.data();
  T* t = buf.data();
  ConversionResult r = fn(&s, src.data() + src.size(), &t, buf.data() + room,
                          static_cast<ConversionFlags>(flags));
  for (std::size_t i = room; i < buf.size(); ++i)
    EXPECT_EQ(buf[i], T(0x5A)) << "written past targetEnd";
  return {r, static_cast<std::size_t>(s - src.data()),
          std::vector<T>(buf.data(), t)};
}

using U8 = std::vector<UTF8>;
using U16 = std::vector<UTF16>;
using U32 = std::vector<UTF32>;
constexpr std::size_t kBig = 64;

// Reference UTF-8 encoder (RFC 3629 form; also encodes lone surrogates).
U8 enc8(UTF32 c) {
  if (c < 0x80) return {UTF8(c)};
  if (c < 0x800) return {UTF8(0xC0 | c >> 6), UTF8(0x80 | (c & 0x3F))};
  if (c < 0x10000)
    return {UTF8(0xE0 | c >> 12), UTF8(0x80 | (c >> 6 & 0x3F)),
            UTF8(0x80 | (c & 0x3F))};
  return {UTF8(0xF0 | c >> 18), UTF8(0x80 | (c >> 12 & 0x3F)),
          UTF8(0x80 | (c >> 6 & 0x3F)), UTF8(0x80 | (c & 0x3F))};
}

TEST(Convert, EmptySourceLeavesCursorsAlone) {
  for (int flags : {0, 1}) {
    EXPECT_EQ(run(ConvertUTF32toUTF16, U32{}, 0, flags).result, conversionOK);
    EXPECT_EQ(run(ConvertUTF16toUTF32, U16{}, 0, flags).result, conversionOK);
    EXPECT_EQ(run(ConvertUTF16toUTF8, U16{}, 0, flags).result, conversionOK);
    EXPECT_EQ(run(ConvertUTF32toUTF8, U32{}, 0, flags).result, conversionOK);
    EXPECT_EQ(run(ConvertUTF8toUTF16, U8{}, 0, flags).result, conversionOK);
    EXPECT_EQ(run(ConvertUTF8toUTF32, U8{}, 0, flags).result, conversionOK);
  }
}

struct Case32to16 {
  U32 src;
  std::size_t room;
  int flags;
  ConversionResult result;
  std::size_t consumed;
  U16 out;
};

TEST(Convert, UTF32toUTF16Table) {
  const Case32to16 cases[] = {
      {{0x41}, 0, 0, targetExhausted, 0, {}},
      {{0x10000}, 1, 0, targetExhausted, 0, {}},
      {{0x41, 0x10000}, 2, 0, targetExhausted, 1, {0x41}},
      {{0x41, 0x110000, 0x42}, kBig, 0, sourceIllegal, 3, {0x41, 0x42}},
      {{0x41, 0x110000, 0x42}, kBig, 1, conversionOK, 3, {0x41, 0xFFFD, 0x42}},
      {{0xFFFFFFFF}, kBig, 7, conversionOK, 1, {0xFFFD}},
      // A dropped value's sourceIllegal gives way to a later stop for room.
      {{0x110000, 0x41, 0x42}, 1, 0, targetExhausted, 2, {0x41}},
      // Room is tested before the value is read, even a dropped one.
      {{0x41, 0x110000}, 1, 0, targetExhausted, 1, {0x41}},
      {{0x41, 0xD800, 0x42}, kBig, 0, sourceIllegal, 1, {0x41}},
      {{0xDFFF}, kBig, 1, conversionOK, 1, {0xFFFD}},
      {{0x10FFFF, 0x1F600}, kBig, 0, conversionOK, 2,
       {0xDBFF, 0xDFFF, 0xD83D, 0xDE00}},
      {{0, 0xFFFF}, kBig, 0, conversionOK, 2, {0, 0xFFFF}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
    auto r = run(ConvertUTF32toUTF16, c.src, c.room, c.flags);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(r.out, c.out);
  }
}

struct Case16 {
  U16 src;
  std::size_t room;
  int flags;
  ConversionResult result;
  std::size_t consumed;
  U32 out32;  // what 16->32 writes with `room` units
};

TEST(Convert, UTF16toUTF32Table) {
  const Case16 cases[] = {
      {{0xDC00}, 0, 0, sourceIllegal, 0, {}},  // source tests first
      {{0xDC00}, 0, 1, targetExhausted, 0, {}},
      {{0xDC00}, kBig, 1, conversionOK, 1, {0xDC00}},
      {{0x41, 0xD800}, kBig, 0, sourceExhausted, 1, {0x41}},
      {{0x41, 0xD800}, kBig, 1, sourceExhausted, 1, {0x41}},
      {{0xD800}, 0, 1, sourceExhausted, 0, {}},
      {{0xD800, 0x41}, kBig, 0, sourceIllegal, 0, {}},
      {{0xD800, 0x41}, kBig, 1, conversionOK, 2, {0xD800, 0x41}},
      {{0xD800, 0xD800, 0xDC00}, kBig, 1, conversionOK, 3, {0xD800, 0x10000}},
      {{0xD83D, 0xDE00, 0}, kBig, 0, conversionOK, 3, {0x1F600, 0}},
      {{0xD83D, 0xDE00, 0x41}, 1, 0, targetExhausted, 2, {0x1F600}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
    auto r = run(ConvertUTF16toUTF32, c.src, c.room, c.flags);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(r.out, c.out32);
  }
}

struct Case16to8 {
  U16 src;
  std::size_t room;
  int flags;
  ConversionResult result;
  std::size_t consumed;
  U8 out;
};

TEST(Convert, UTF16toUTF8Table) {
  const Case16to8 cases[] = {
      {{0xD800, 0x41}, kBig, 1, conversionOK, 2, {0xED, 0xA0, 0x80, 0x41}},
      {{0xD800, 0x41}, kBig, 0, sourceIllegal, 0, {}},
      {{0x41, 0xDBFF}, kBig, 1, sourceExhausted, 1, {0x41}},
      {{0xDC00}, 0, 0, sourceIllegal, 0, {}},
      {{0x20AC}, 3, 0, conversionOK, 1, {0xE2, 0x82, 0xAC}},
      {{0x20AC, 0x41}, 3, 0, targetExhausted, 1, {0xE2, 0x82, 0xAC}},
      {{0x20AC}, 2, 0, targetExhausted, 0, {}},
      {{0xD83D, 0xDE00}, 3, 0, targetExhausted, 0, {}},
      {{0xD83D, 0xDE00}, 4, 0, conversionOK, 2, {0xF0, 0x9F, 0x98, 0x80}},
      {{0, 0x7F, 0x80, 0x7FF, 0x800}, kBig, 0, conversionOK, 5,
       {0, 0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
    auto r = run(ConvertUTF16toUTF8, c.src, c.room, c.flags);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(r.out, c.out);
  }
}

struct Case32to8 {
  U32 src;
  std::size_t room;
  int flags;
  ConversionResult result;
  std::size_t consumed;
  U8 out;
};

TEST(Convert, UTF32toUTF8Table) {
  const Case32to8 cases[] = {
      {{0x110000}, kBig, 0, sourceIllegal, 1, {0xEF, 0xBF, 0xBD}},
      {{0x110000}, kBig, 1, sourceIllegal, 1, {0xEF, 0xBF, 0xBD}},
      {{0x110000, 0x41}, kBig, 0, sourceIllegal, 2, {0xEF, 0xBF, 0xBD, 0x41}},
      {{0x110000, 0x41}, 3, 1, targetExhausted, 1, {0xEF, 0xBF, 0xBD}},
      {{0x110000}, 2, 0, targetExhausted, 0, {}},
      {{0xD800}, 0, 0, sourceIllegal, 0, {}},  // surrogate test before room
      {{0xD800}, kBig, 1, conversionOK, 1, {0xED, 0xA0, 0x80}},
      {{0x41, 0xDFFF}, kBig, 0, sourceIllegal, 1, {0x41}},
      {{0x10FFFF}, 4, 0, conversionOK, 1, {0xF4, 0x8F, 0xBF, 0xBF}},
      {{0x10FFFF}, 3, 0, targetExhausted, 0, {}},
      {{0, 0}, kBig, 0, conversionOK, 2, {0, 0}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
    auto r = run(ConvertUTF32toUTF8, c.src, c.room, c.flags);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(r.out, c.out);
  }
}

struct Case8 {
  U8 src;
  std::size_t room;
  ConversionResult result;
  std::size_t consumed;
  U32 out;  // values written (as UTF-32)
};

// Both UTF-8 readers share the source rules; the room of the UTF-16 reader
// is counted in units, so a pair needs two.
TEST(Convert, UTF8ReadersTable) {
  const Case8 cases[] = {
      {{0xE2, 0x82}, kBig, sourceExhausted, 0, {}},
      {{0x41, 0xE2, 0x82}, kBig, sourceExhausted, 1, {0x41}},
      {{0xE2, 0x41, 0x41}, kBig, sourceIllegal, 0, {}},
      {{0xFF}, kBig, sourceExhausted, 0, {}},
      {{0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}, kBig, sourceIllegal, 0, {}},
      {{0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, kBig, sourceIllegal, 0, {}},
      {{0xF8, 0x88, 0x80, 0x80, 0x80}, kBig, sourceIllegal, 0, {}},
      {{0xC0, 0x80}, kBig, sourceIllegal, 0, {}},
      {{0xED, 0xA0, 0x80}, kBig, sourceIllegal, 0, {}},
      {{0xF0, 0x8F, 0xBF, 0xBF}, kBig, sourceIllegal, 0, {}},
      {{0xF4, 0x90, 0x80, 0x80}, kBig, sourceIllegal, 0, {}},
      {{0x80}, kBig, sourceIllegal, 0, {}},
      {{0xEF, 0xBF, 0xBF}, kBig, conversionOK, 3, {0xFFFF}},
      {{0xF4, 0x8F, 0xBF, 0xBF}, kBig, conversionOK, 4, {0x10FFFF}},
      {{0x00, 0x41}, kBig, conversionOK, 2, {0, 0x41}},
      {{0x41}, 0, targetExhausted, 0, {}},
      // Exhaustion is found before ill-formedness, whatever the bytes are.
      {{0xF0, 0x41}, 0, sourceExhausted, 0, {}},
      // Ill-formedness is found before the room test.
      {{0xC3, 0x41}, 0, sourceIllegal, 0, {}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
    for (int flags : {0, 1}) {
      auto r32 = run(ConvertUTF8toUTF32, c.src, c.room, flags);
      EXPECT_EQ(r32.result, c.result);
      EXPECT_EQ(r32.consumed, c.consumed);
      EXPECT_EQ(r32.out, c.out);
      auto r16 = run(ConvertUTF8toUTF16, c.src, c.room, flags);
      EXPECT_EQ(r16.result, c.result);
      EXPECT_EQ(r16.consumed, c.consumed);
      EXPECT_EQ(run(ConvertUTF16toUTF32, r16.out, kBig, 0).out, c.out);
    }
  }
}

TEST(Convert, UTF8toUTF16PairNeedsTwoUnits) {
  auto r = run(ConvertUTF8toUTF16, U8{0x41, 0xF0, 0x9F, 0x98, 0x80}, 2, 0);
  EXPECT_EQ(r.result, targetExhausted);
  EXPECT_EQ(r.consumed, 1u);
  EXPECT_EQ(r.out, U16{0x41});
}

TEST(Convert, IsLegalUTF8SequenceLimits) {
  const UTF8 a[] = {0x41};
  EXPECT_TRUE(isLegalUTF8Sequence(a, a + 1));
  const UTF8 b[] = {0xE0, 0xA0};
  EXPECT_FALSE(isLegalUTF8Sequence(b, b + 2));
  const UTF8 c[] = {0xE0, 0xA0, 0x80, 0x00};
  EXPECT_TRUE(isLegalUTF8Sequence(c, c + 4));  // extra bytes are not read
  const UTF8 d[] = {0xE0, 0x9F, 0x80};
  EXPECT_FALSE(isLegalUTF8Sequence(d, d + 3));
}

// Every sequence of one to four bytes drawn from a set of interesting bytes
// is legal exactly when it is the reference encoding of a scalar value.
TEST(Convert, WellFormednessMatchesReferenceEncoder) {
  std::vector<UTF8> pick;
  for (int b = 0; b < 256; ++b) pick.push_back(UTF8(b));
  const UTF8 cont[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                       0xBF, 0xC0, 0xC2, 0xE0, 0xF0, 0xFF};
  auto reference = [](U8 const& s) {
    // Decode payload bits by length, then require an exact re-encoding.
    const UTF8 lead = s[0];
    std::size_t n = lead < 0x80 ? 1 : lead >= 0xC0 && lead < 0xE0 ? 2
                  : lead >= 0xE0 && lead < 0xF0 ? 3
                  : lead >= 0xF0 && lead < 0xF8 ? 4 : 0;
    if (n == 0 || n != s.size()) return false;
    UTF32 v = n == 1 ? lead : lead & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) v = v << 6 | (s[i] & 0x3F);
    if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    return enc8(v) == s;
  };
  auto announced = [](UTF8 lead) {
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3
         : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
  };
  std::size_t checked = 0;
  for (int lead = 0; lead < 256; ++lead) {
    const int n = announced(UTF8(lead));
    std::vector<U8> seqs{{UTF8(lead)}};
    for (int i = 1; i < n && i < 4; ++i) {
      std::vector<U8> next;
      for (auto const& s : seqs) {
        if (i == 1) {
          for (int b = 0; b < 256; ++b) {
            U8 t = s;
            t.push_back(UTF8(b));
            next.push_back(t);
          }
        } else {
          for (UTF8 b : cont) {
            U8 t = s;
            t.push_back(b);
            next.push_back(t);
          }
        }
      }
      seqs.swap(next);
    }
    for (auto s : seqs) {
      while (static_cast<int>(s.size()) < n) s.push_back(0x80);
      const bool legal = isLegalUTF8Sequence(s.data(), s.data() + s.size());
      ASSERT_EQ(legal, reference(s)) << "lead " << lead << " second "
                                     << (s.size() > 1 ? int(s[1]) : -1);
      auto r = run(ConvertUTF8toUTF32, s, kBig, 0);
      ASSERT_EQ(r.result, legal ? conversionOK : sourceIllegal);
      // One byte short of the announced length is always sourceExhausted.
      U8 shortSeq(s.begin(), s.end() - 1);
      if (!shortSeq.empty()) {
        ASSERT_FALSE(isLegalUTF8Sequence(shortSeq.data(),
                                         shortSeq.data() + shortSeq.size()));
        ASSERT_EQ(run(ConvertUTF8toUTF16, shortSeq, kBig, 1).result,
                  sourceExhausted);
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 100000u);
}

// Every scalar value survives UTF-32 -> UTF-8 -> UTF-16 -> UTF-32 and
// UTF-32 -> UTF-16 -> UTF-8 -> UTF-32, in blocks, with the reference bytes.
TEST(Convert, RoundTripOfEveryScalarValue) {
  U32 all;
  U8 bytes;
  for (UTF32 c = 0; c <= 0x10FFFF; ++c) {
    if (c == 0xD800) c = 0xE000;
    all.push_back(c);
    U8 e = enc8(c);
    bytes.insert(bytes.end(), e.begin(), e.end());
  }
  for (int flags : {0, 1}) {
    auto to8 = run(ConvertUTF32toUTF8, all, bytes.size(), flags);
    ASSERT_EQ(to8.result, conversionOK);
    ASSERT_EQ(to8.out, bytes);
    auto to16 = run(ConvertUTF8toUTF16, bytes, all.size() * 2, flags);
    ASSERT_EQ(to16.result, conversionOK);
    auto back32 = run(ConvertUTF16toUTF32, to16.out, all.size(), flags);
    ASSERT_EQ(back32.result, conversionOK);
    ASSERT_EQ(back32.out, all);
    auto via16 = run(ConvertUTF32toUTF16, all, to16.out.size(), flags);
    ASSERT_EQ(via16.out, to16.out);
    auto to8b = run(ConvertUTF16toUTF8, via16.out, bytes.size(), flags);
    ASSERT_EQ(to8b.result, conversionOK);
    ASSERT_EQ(to8b.out, bytes);
    auto to32 = run(ConvertUTF8toUTF32, bytes, all.size(), flags);
    ASSERT_EQ(to32.result, conversionOK);
    ASSERT_EQ(to32.out, all);
  }
}

// With every target capacity, a converter writes the longest prefix of whole
// characters that fits, stops on a character boundary and can be resumed.
TEST(Convert, EveryTargetCapacityStopsOnABoundary) {
  const U32 text = {0x41, 0xE9, 0x20AC, 0x1F600, 0, 0x10FFFF, 0x7FF, 0x42};
  auto full8 = run(ConvertUTF32toUTF8, text, kBig, 0).out;
  auto full16 = run(ConvertUTF32toUTF16, text, kBig, 0).out;
  for (std::size_t room = 0; room <= full8.size(); ++room) {
    auto a = run(ConvertUTF8toUTF32, full8, room, 0);
    ASSERT_EQ(a.result, room >= text.size() ? conversionOK : targetExhausted);
    ASSERT_EQ(a.out, U32(text.begin(), text.begin() + a.out.size()));
    auto b = run(ConvertUTF32toUTF8, text, room, 0);
    ASSERT_EQ(b.out, U8(full8.begin(), full8.begin() + b.out.size()));
    ASSERT_EQ(b.result, room == full8.size() ? conversionOK : targetExhausted);
    // Resume from where b stopped: the rest completes the text.
    U32 rest(text.begin() + b.consumed, text.end());
    auto c = run(ConvertUTF32toUTF8, rest, kBig, 0);
    b.out.insert(b.out.end(), c.out.begin(), c.out.end());
    ASSERT_EQ(b.out, full8);
    auto d = run(ConvertUTF16toUTF8, full16, room, 0);
    ASSERT_EQ(d.out, U8(full8.begin(), full8.begin() + d.out.size()));
    auto e = run(ConvertUTF8toUTF16, full8, room, 0);
    ASSERT_EQ(e.out, U16(full16.begin(), full16.begin() + e.out.size()));
    ASSERT_TRUE(e.out.empty() || e.out.back() < 0xD800 || e.out.back() > 0xDBFF)
        << "half a pair written";
  }
}

} // namespace
