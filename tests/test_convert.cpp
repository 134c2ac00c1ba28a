// The UTF-8/16/32 conversion routines through their public header: the
// stated corner cases as one table, the well-formedness rule against an
// independent encoder, a round trip of every scalar value, and every target
// capacity.

#include "brackwell/ConvertUTF.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <tuple>
#include <vector>

namespace {

using U8 = std::vector<UTF8>;
using U16 = std::vector<UTF16>;
using U32 = std::vector<UTF32>;
constexpr std::size_t kBig = 64;

// One call: the source units, the target room, result, units consumed and
// units written. Target units past the room must stay untouched.
template <typename S, typename T>
std::pair<ConversionResult, std::size_t> run(
    ConversionResult (*fn)(const S**, const S*, T**, T*, ConversionFlags),
    std::vector<S> const& src, std::size_t room, int flags, std::vector<T>& out) {
  std::vector<T> buf(room + 4, T(0x5A));
  const S* s = src.data();
  T* t = buf.data();
  const ConversionResult r = fn(&s, src.data() + src.size(), &t,
                                buf.data() + room, ConversionFlags(flags));
  for (std::size_t i = room; i < buf.size(); ++i)
    EXPECT_EQ(buf[i], T(0x5A)) << "written past targetEnd";
  out.assign(buf.data(), t);
  return {r, static_cast<std::size_t>(s - src.data())};
}

enum Routine { k32to16, k16to32, k16to8, k32to8, k8to16, k8to32 };

// Routine, source units, target room, flags (2: both modes, same outcome),
// result, units consumed, units written; units of any width as numbers.
struct Case { Routine fn; U32 src; std::size_t room; int flags; ConversionResult result;
              std::size_t consumed; U32 out; };

template <typename S, typename T>
void check(Case const& c,
           ConversionResult (*fn)(const S**, const S*, T**, T*, ConversionFlags)) {
  for (int flags : {0, 1}) {
    if (c.flags != 2 && c.flags != flags) continue;
    std::vector<T> out;
    auto r = run(fn, std::vector<S>(c.src.begin(), c.src.end()), c.room, flags, out);
    EXPECT_EQ(std::make_tuple(r.first, r.second, U32(out.begin(), out.end())),
              std::make_tuple(c.result, c.consumed, c.out)) << "flags " << flags;
  }
}

TEST(Convert, CornerCases) {
  const Case cases[] = {
      // An empty source converts nothing, also into an empty target.
      {k32to16, {}, 0, 2, conversionOK, 0, {}}, {k16to32, {}, 0, 2, conversionOK, 0, {}},
      {k16to8, {}, 0, 2, conversionOK, 0, {}}, {k8to32, {}, 0, 2, conversionOK, 0, {}},
      // UTF-32 to UTF-16: room is tested first; values above 0x10FFFF are
      // dropped (strict, sourceIllegal, go on) or replaced (lenient).
      {k32to16, {0x41}, 0, 0, targetExhausted, 0, {}},
      {k32to16, {0x10000}, 1, 0, targetExhausted, 0, {}},
      {k32to16, {0x41, 0x110000, 0x42}, kBig, 0, sourceIllegal, 3, {0x41, 0x42}},
      {k32to16, {0x41, 0x110000, 0x42}, kBig, 1, conversionOK, 3, {0x41, 0xFFFD, 0x42}},
      {k32to16, {0x110000, 0x41, 0x42}, 1, 0, targetExhausted, 2, {0x41}},
      {k32to16, {0x41, 0x110000}, 1, 0, targetExhausted, 1, {0x41}},
      {k32to16, {0x41, 0xD800, 0x42}, kBig, 0, sourceIllegal, 1, {0x41}},
      {k32to16, {0xDFFF}, kBig, 1, conversionOK, 1, {0xFFFD}},
      {k32to16, {0x10FFFF, 0x1F600, 0}, kBig, 2, conversionOK, 3, {0xDBFF, 0xDFFF, 0xD83D, 0xDE00, 0}},
      // UTF-16 to UTF-32: source tests before the room test.
      {k16to32, {0xDC00}, 0, 0, sourceIllegal, 0, {}},
      {k16to32, {0xDC00}, 0, 1, targetExhausted, 0, {}},
      {k16to32, {0x41, 0xD800}, kBig, 2, sourceExhausted, 1, {0x41}},
      {k16to32, {0xD800, 0x41}, kBig, 0, sourceIllegal, 0, {}},
      {k16to32, {0xD800, 0x41}, kBig, 1, conversionOK, 2, {0xD800, 0x41}},
      {k16to32, {0xD800, 0xD800, 0xDC00}, kBig, 1, conversionOK, 3, {0xD800, 0x10000}},
      {k16to32, {0xD83D, 0xDE00, 0x41}, 1, 2, targetExhausted, 2, {0x1F600}},
      // UTF-16 to UTF-8.
      {k16to8, {0xD800, 0x41}, kBig, 1, conversionOK, 2, {0xED, 0xA0, 0x80, 0x41}},
      {k16to8, {0xD800, 0x41}, kBig, 0, sourceIllegal, 0, {}},
      {k16to8, {0x41, 0xDBFF}, kBig, 2, sourceExhausted, 1, {0x41}},
      {k16to8, {0x20AC, 0x41}, 3, 2, targetExhausted, 1, {0xE2, 0x82, 0xAC}},
      {k16to8, {0x20AC}, 2, 2, targetExhausted, 0, {}},
      {k16to8, {0xD83D, 0xDE00}, 3, 2, targetExhausted, 0, {}},
      {k16to8, {0xD83D, 0xDE00}, 4, 2, conversionOK, 2, {0xF0, 0x9F, 0x98, 0x80}},
      {k16to8, {0x7F, 0x80, 0x7FF, 0x800}, kBig, 2, conversionOK, 4, {0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80}},
      // UTF-32 to UTF-8: above 0x10FFFF is replaced in both modes.
      {k32to8, {0x110000, 0x41}, kBig, 2, sourceIllegal, 2, {0xEF, 0xBF, 0xBD, 0x41}},
      {k32to8, {0x110000, 0x41}, 3, 1, targetExhausted, 1, {0xEF, 0xBF, 0xBD}},
      {k32to8, {0xD800}, 0, 0, sourceIllegal, 0, {}},
      {k32to8, {0xD800}, kBig, 1, conversionOK, 1, {0xED, 0xA0, 0x80}},
      {k32to8, {0x10FFFF}, 4, 2, conversionOK, 1, {0xF4, 0x8F, 0xBF, 0xBF}},
      {k32to8, {0x10FFFF}, 3, 2, targetExhausted, 0, {}},
      // UTF-8 readers: exhaustion, then well-formedness, then room.
      {k8to32, {0x41, 0xE2, 0x82}, kBig, 2, sourceExhausted, 1, {0x41}},
      {k8to32, {0xE2, 0x41, 0x41}, kBig, 2, sourceIllegal, 0, {}},
      {k8to32, {0xFF}, kBig, 2, sourceExhausted, 0, {}},
      {k8to32, {0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}, kBig, 2, sourceIllegal, 0, {}},
      {k8to32, {0xED, 0xA0, 0x80}, kBig, 2, sourceIllegal, 0, {}},
      {k8to32, {0xF4, 0x8F, 0xBF, 0xBF, 0}, kBig, 2, conversionOK, 5, {0x10FFFF, 0}},
      {k8to32, {0xF0, 0x41}, 0, 2, sourceExhausted, 0, {}},
      {k8to32, {0xC3, 0x41}, 0, 2, sourceIllegal, 0, {}},
      {k8to16, {0x41, 0xF0, 0x9F, 0x98, 0x80}, 2, 2, targetExhausted, 1, {0x41}},
      {k8to16, {0xF0, 0x9F, 0x98, 0x80}, 2, 2, conversionOK, 4, {0xD83D, 0xDE00}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
    switch (c.fn) {
      case k32to16: check(c, ConvertUTF32toUTF16); break;
      case k16to32: check(c, ConvertUTF16toUTF32); break;
      case k16to8: check(c, ConvertUTF16toUTF8); break;
      case k32to8: check(c, ConvertUTF32toUTF8); break;
      case k8to16: check(c, ConvertUTF8toUTF16); break;
      case k8to32: check(c, ConvertUTF8toUTF32); break;
    }
  }
}

// Reference UTF-8 encoder (RFC 3629 form).
U8 enc8(UTF32 c) {
  if (c < 0x80) return {UTF8(c)};
  if (c < 0x800) return {UTF8(0xC0 | c >> 6), UTF8(0x80 | (c & 0x3F))};
  if (c < 0x10000)
    return {UTF8(0xE0 | c >> 12), UTF8(0x80 | (c >> 6 & 0x3F)), UTF8(0x80 | (c & 0x3F))};
  return {UTF8(0xF0 | c >> 18), UTF8(0x80 | (c >> 12 & 0x3F)),
          UTF8(0x80 | (c >> 6 & 0x3F)), UTF8(0x80 | (c & 0x3F))};
}

// Every lead byte, every second byte and a set of later bytes, padded to
// the announced length: isLegalUTF8Sequence and the reader accept exactly
// the reference encodings of scalar values, and one byte short is never
// legal (sourceExhausted for the reader). The sequence sits in a buffer of
// exactly its size, so reading past the end pointer is seen under ASan.
TEST(Convert, WellFormednessMatchesReferenceEncoder) {
  const UTF8 later[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  auto legal = [](U8 const& s) {
    const int n = s[0] < 0x80 ? 1 : s[0] < 0xC0 ? 0 : s[0] < 0xE0 ? 2 : s[0] < 0xF0 ? 3
                : s[0] < 0xF8 ? 4 : 0;
    if (n == 0 || static_cast<std::size_t>(n) != s.size()) return false;
    UTF32 v = n == 1 ? s[0] : s[0] & (0x7F >> n);
    for (int i = 1; i < n; ++i) v = v << 6 | (s[i] & 0x3F);
    return v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF) && enc8(v) == s;
  };
  auto isLegal = [](U8 const& s, std::size_t n) {
    std::unique_ptr<UTF8[]> exact(new UTF8[n]);
    std::copy(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n), exact.get());
    return isLegalUTF8Sequence(exact.get(), exact.get() + n);
  };
  for (int lead = 0; lead < 256; ++lead) {
    const std::size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3
                        : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
    for (int second = 0; second < (n > 1 ? 256 : 1); ++second)
      for (std::size_t i = 0; i < (n > 2 ? sizeof later : 1); ++i)
        for (std::size_t j = 0; j < (n > 3 ? sizeof later : 1); ++j) {
          U8 s{UTF8(lead), UTF8(second), later[i], later[j], 0x80, 0x80};
          s.resize(n);
          const bool ok = legal(s);
          ASSERT_EQ(isLegal(s, n), ok) << lead << " " << second << " " << i << " " << j;
          U32 out;
          EXPECT_EQ(run(ConvertUTF8toUTF32, s, kBig, 0, out).first,
                    ok ? conversionOK : sourceIllegal);
          if (n > 1) {
            ASSERT_FALSE(isLegal(s, n - 1));
            s.pop_back();
            EXPECT_EQ(run(ConvertUTF8toUTF32, s, kBig, 0, out).first, sourceExhausted);
          }
        }
  }
}

// Every scalar value survives UTF-32 -> UTF-8 -> UTF-16 -> UTF-32 and
// UTF-32 -> UTF-16 -> UTF-8 -> UTF-32 with the reference bytes.
TEST(Convert, RoundTripOfEveryScalarValue) {
  U32 all, back;
  U8 bytes, to8;
  U16 to16, via16;
  for (UTF32 c = 0; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    all.push_back(c);
    U8 e = enc8(c);
    bytes.insert(bytes.end(), e.begin(), e.end());
  }
  for (int flags : {0, 1}) {
    EXPECT_EQ(run(ConvertUTF32toUTF8, all, bytes.size(), flags, to8).first, conversionOK);
    EXPECT_EQ(to8, bytes);
    EXPECT_EQ(run(ConvertUTF8toUTF16, bytes, all.size() * 2, flags, to16).first, conversionOK);
    EXPECT_EQ(run(ConvertUTF16toUTF32, to16, all.size(), flags, back).first, conversionOK);
    EXPECT_EQ(back, all);
    EXPECT_EQ(run(ConvertUTF32toUTF16, all, to16.size(), flags, via16).first, conversionOK);
    EXPECT_EQ(via16, to16);
    EXPECT_EQ(run(ConvertUTF16toUTF8, via16, bytes.size(), flags, to8).first, conversionOK);
    EXPECT_EQ(to8, bytes);
    EXPECT_EQ(run(ConvertUTF8toUTF32, bytes, all.size(), flags, back).first, conversionOK);
    EXPECT_EQ(back, all);
  }
}

// With every target capacity, a converter writes the longest prefix of whole
// characters that fits and stops where the rest can resume.
TEST(Convert, EveryTargetCapacityStopsOnABoundary) {
  const U32 text = {0x41, 0xE9, 0x20AC, 0x1F600, 0, 0x10FFFF, 0x7FF, 0x42};
  U8 full8, b8, rest8;
  U32 a32;
  run(ConvertUTF32toUTF8, text, kBig, 0, full8);
  for (std::size_t room = 0; room <= full8.size(); ++room) {
    const auto a = run(ConvertUTF8toUTF32, full8, room, 0, a32);
    ASSERT_EQ(a.first, room >= text.size() ? conversionOK : targetExhausted);
    ASSERT_EQ(a32, U32(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(a32.size())));
    const auto b = run(ConvertUTF32toUTF8, text, room, 0, b8);
    run(ConvertUTF32toUTF8, U32(text.begin() + static_cast<std::ptrdiff_t>(b.second), text.end()),
        kBig, 0, rest8);
    b8.insert(b8.end(), rest8.begin(), rest8.end());
    ASSERT_EQ(b8, full8) << room;
  }
}

} // namespace
