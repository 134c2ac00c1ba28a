// The UTF-8/16/32 converters. The fast converters against the reference
// rules: without block kernels, with every kernel set this processor runs,
// and through the public routines. Texts of each kind are cut at every
// length and converted whole into every target capacity, and texts with a
// bad unit or sequence planted around every block edge go into every
// capacity in both modes. The portable build of this file (no kernels, and
// internals under names of their own, so the public routines run the
// library's own code) also holds the tests of the public routines against
// stated results: the corner cases, well-formedness against an independent
// encoder (with the byte pairs), and every scalar value. Buffers have exactly their size
// (AddressSanitizer sees any access outside them) and targets are filled
// with a canary, so a difference in the result, either cursor, any written
// unit or any unit after the target cursor fails.
#include "../src/text/convert_impl.h"

#include "support/bqtest.h"

#include <random>

using namespace Brackwell::detail;

namespace {

template <class S, class T> struct Dir {
  ConversionResult (*fast)(const S**, const S*, T**, T*, ConversionFlags, const KernelSet*);
  decltype(fast) ref;
  ConversionResult (*api)(const S**, const S*, T**, T*, ConversionFlags);
};
// The converters from UTF-S to UTF-T: fast, reference, public routine.
#define DIRECTION(S, T) Dir<UTF##S, UTF##T>{utf##S##ToUTF##T<true>, utf##S##ToUTF##T<false>, ConvertUTF##S##toUTF##T}

// No kernels (the per-character fast paths), then each set there is.
const std::vector<const KernelSet*> kSets = [] {
  std::vector<const KernelSet*> found{nullptr};
  std::printf("kernel sets compared: none"); // CI logs them
#ifndef BRACKWELL_NO_SIMD
  for (const char* name : {"sse", "avx2", "avx512"})
    if (const KernelSet* ks = kernelSet(name)) found.push_back(ks), std::printf(" %s", name);
#endif
  return std::printf("\n"), found;
}();

// Result, units read, units written and the whole target buffer.
template <class S, class T, class F>
__attribute__((noinline)) auto convert(F fn, std::vector<S> const& src, std::size_t n, std::size_t cap) {
  std::unique_ptr<S[]> s(new S[n]);
  std::unique_ptr<T[]> t(new T[cap]);
  std::copy(src.begin(), src.begin() + std::ptrdiff_t(n), s.get());
  std::fill(t.get(), t.get() + cap, T(0xA5A5A5A5u));
  const S* sp = s.get();
  T* tp = t.get();
  const ConversionResult r = fn(&sp, s.get() + n, &tp, t.get() + cap);
  return std::make_tuple(r, sp - s.get(), tp - t.get(), std::vector<T>(t.get(), t.get() + cap));
}

// Source units, target room, flags (2: both modes, same outcome), result,
// units consumed, units written (units of any width as numbers).
struct Case { std::vector<UTF32> src; std::size_t room; int flags; ConversionResult result; std::ptrdiff_t consumed;
              std::vector<UTF32> out; };

template <class S, class T>
void check(ConversionResult (*fn)(const S**, const S*, T**, T*, ConversionFlags), std::vector<Case> const& cases) {
  for (Case const& c : cases)
    for (ConversionFlags flags : {strictConversion, lenientConversion}) {
      if (c.flags != 2 && c.flags != flags) continue;
      std::vector<T> out(c.out.begin(), c.out.end()); // and the canary after it
      out.resize(c.room, T(0xA5A5A5A5u));
      const auto got = convert<S, T>([&](auto... a) { return fn(a..., flags); },
                                     std::vector<S>(c.src.begin(), c.src.end()), c.src.size(), c.room);
      EXPECT_EQ(std::make_tuple(c.result, c.consumed, std::ptrdiff_t(c.out.size()), out), got)
          << "case " << &c - cases.data() << " flags " << flags;
    }
}

// Reference UTF-8 encoder (RFC 3629 form).
[[maybe_unused]] std::vector<UTF8> enc8(UTF32 c) {
  if (c < 0x80) return {UTF8(c)};
  if (c < 0x800) return {UTF8(0xC0 | c >> 6), UTF8(0x80 | (c & 0x3F))};
  if (c < 0x10000) return {UTF8(0xE0 | c >> 12), UTF8(0x80 | (c >> 6 & 0x3F)), UTF8(0x80 | (c & 0x3F))};
  return {UTF8(0xF0 | c >> 18), UTF8(0x80 | (c >> 12 & 0x3F)), UTF8(0x80 | (c >> 6 & 0x3F)), UTF8(0x80 | (c & 0x3F))};
}

template <class U> std::ptrdiff_t units(UTF32 c) {
  return sizeof(U) == 4 ? 1 : sizeof(U) == 2 ? 1 + (c > 0xFFFF) : utf8Length(c);
}

// Every variant (no kernels, each set, the public routine) against the
// reference on src[0, n) in each mode, with every capacity from `below`
// under what the reference writes to one above, and with ample room. For a
// whole clean text (its characters `chars`) the reference must stop after
// the longest prefix of characters that fits.
template <class S, class T>
void compare(Dir<S, T> d, std::vector<S> const& src, std::size_t n, std::ptrdiff_t below,
             std::vector<ConversionFlags> const& modes, std::vector<UTF32> const* chars) {
  for (ConversionFlags flags : modes) {
    auto ref = [&](auto... a) { return d.ref(a..., flags, nullptr); };
    const std::ptrdiff_t ample = std::ptrdiff_t(4 * n + 8), need = std::get<2>(convert<S, T>(ref, src, n, ample));
    for (std::ptrdiff_t cap = std::max<std::ptrdiff_t>(0, need - below); cap <= need + 2; ++cap) {
      const std::size_t room = std::size_t(cap > need + 1 ? ample : cap);
      const auto expected = convert<S, T>(ref, src, n, room);
      SCOPED_TRACE(::testing::Message() << "length " << n << " capacity " << room << " flags " << flags);
      std::ptrdiff_t read = 0, written = 0, i = 0, all = chars ? std::ptrdiff_t(chars->size()) : 0;
      for (; i < all && written + units<T>((*chars)[i]) <= std::ptrdiff_t(room); ++i)
        read += units<S>((*chars)[i]), written += units<T>((*chars)[i]);
      ASSERT_TRUE(!chars || std::make_tuple(i < all ? targetExhausted : conversionOK, read, written,
                                            std::get<3>(expected)) == expected);
      for (std::size_t v = 0; v <= kSets.size(); ++v)
        ASSERT_TRUE((expected == convert<S, T>([&](auto... a) {
          return v < kSets.size() ? d.fast(a..., flags, kSets[v]) : d.api(a..., flags);
        }, src, n, room))) << (v == kSets.size() ? "public routine" : kSets[v] ? kSets[v]->name : "none");
    }
  }
}

// Kinds: 0 ASCII, 1 two-byte, 2 three-byte, 3 four-byte characters (in the
// second half an eighth of them ASCII), 4 characters of random kinds around
// a run of 100 ASCII ones. A quarter lie at the ends of their range. Each
// text, encoded by `encode`, is cut at every length; then one fault (in turn
// from `faults`, planted in a text of each kind in turn) goes at each offset
// from two units before to one after every 16th unit.
template <class S, class E, class... T>
void compareFrom(E encode, std::vector<std::vector<S>> const& faults, Dir<S, T>... d) {
  static const UTF32 lo[] = {0, 0x80, 0x800, 0x10000}, hi[] = {0x7F, 0x7FF, 0xFFFF, 0x10FFFF};
  std::mt19937 rng(7);
  std::vector<std::vector<S>> texts;
  for (int kind = 0; kind < 5; ++kind) {
    std::vector<UTF32> v;
    while (v.size() < 240) {
      const unsigned k = kind == 4 ? (v.size() - 40 < 100 ? 0 : rng() % 4)
                                   : rng() % 8 || v.size() < 120 ? unsigned(kind) : 0;
      const UTF32 c = rng() % 4 ? lo[k] + rng() % (hi[k] - lo[k] + 1) : rng() % 2 ? lo[k] : hi[k];
      v.push_back(isSurrogate(c) ? c ^ 0x800 : c);
    }
    const auto e = convert<UTF32, S>(encode, v, v.size(), 4 * v.size());
    texts.emplace_back(std::get<3>(e).begin(), std::get<3>(e).begin() + std::get<2>(e));
    SCOPED_TRACE(::testing::Message() << "kind " << kind);
    for (std::size_t n = 0, all = texts.back().size(); n <= all && !testing::Test::HasFatalFailure(); ++n)
      (compare(d, texts.back(), n, n == all ? 4 * n : 1, {strictConversion}, n == all ? &v : nullptr), ...);
  }
  for (std::size_t at = 0; at < 100 && !testing::Test::HasFatalFailure(); at += at % 16 == 1 ? 13 : 1) {
    std::vector<S> bad = texts[at % texts.size()];
    auto const& f = faults[at % faults.size()];
    bad.insert(bad.begin() + std::ptrdiff_t(at), f.begin(), f.end());
    SCOPED_TRACE(::testing::Message() << "fault " << at % faults.size() << " at " << at);
    (compare(d, bad, bad.size(), 4 * bad.size(), {strictConversion, lenientConversion}, nullptr), ...);
  }
}

} // namespace

TEST(ConvertKernels, FromUTF8) {
  compareFrom<UTF8>([](auto... a) { return utf32ToUTF8<false>(a..., strictConversion); },
                    {{0x80}, {0xC0, 0x80}, {0xE0, 0x9F, 0xBF}, {0xED, 0xA0, 0x80}, {0xF0, 0x8F, 0xBF, 0xBF},
                     {0xF4, 0x90, 0x80, 0x80}, {0xF8, 0x88, 0x80}, {0xFF}, {0xC3}, {0xE2, 0x82}, {0xF0, 0x9F, 0x98},
                     {0xC2, 0xC2}, {0xBF, 0xBF}, {0xC1, 0xBF}, {0xF5, 0x80, 0x80, 0x80}},
                    DIRECTION(8, 16), DIRECTION(8, 32));
}

TEST(ConvertKernels, FromUTF16) {
  compareFrom<UTF16>([](auto... a) { return utf32ToUTF16<false>(a..., strictConversion); },
                     {{0xD800}, {0xDC00}, {0xDBFF, 0xDBFF}, {0xDFFF}}, DIRECTION(16, 8), DIRECTION(16, 32));
}

// A surrogate pair written as two UTF-32 values is two ill-formed values,
// never one character.
TEST(ConvertKernels, FromUTF32) {
  compareFrom<UTF32>([](const UTF32** s, const UTF32* e, UTF32** t, UTF32*) { // the text as it is
    return *t = std::copy(*s, e, *t), *s = e, conversionOK;
  }, {{0xD800}, {0x110000}, {0xDFFF}, {0xFFFFFFFF}, {0xD800, 0xDC00}}, DIRECTION(32, 8), DIRECTION(32, 16));
  EXPECT_EQ(nullptr, kernelSet("neon"));
}

// Every lead and second byte, then a third and a fourth byte from a set that
// crosses every range boundary; leads of three and four bytes also get two
// continuation bytes, so that every second-byte range of theirs (the
// overlong and surrogate bounds) meets well-formed tails. With kernels: inside ASCII at shifting
// offsets, each set decides each sequence as the reference does; the ASCII
// is odd or even in turn, since the rule checks look at bytes in pairs. In the
// portable build: isLegalUTF8Sequence and the public reader accept exactly
// the reference encodings of scalar values, and one byte short is never
// legal (sourceExhausted for the reader).
TEST(ConvertKernels, EveryBytePair) {
  const UTF8 later[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  for (unsigned k = 0; k < 0x12000 && !HasFatalFailure(); ++k) {
    const unsigned pair = k < 0x10000 ? k : 0xE000 + k % 0x2000, c = k < 0x10000 ? 0 : 3;
    const std::vector<UTF8> b{UTF8(pair >> 8), UTF8(pair), later[c + pair % (11 - 2 * c)],
                              later[c + pair / 11 % (11 - 2 * c)], 0x80, 0x80};
#ifndef BRACKWELL_NO_SIMD
    std::vector<UTF8> s(100, UTF8('a' + pair % 2));
    std::copy(b.begin(), b.begin() + 4, s.begin() + pair % 61);
    compare(DIRECTION(8, 32), s, 100, -2, {strictConversion}, nullptr);
#else
    const std::size_t n = b[0] < 0xC0 ? 1 : b[0] < 0xE0 ? 2 : b[0] < 0xF0 ? 3 : b[0] < 0xF8 ? 4 : b[0] < 0xFC ? 5 : 6;
    UTF32 v = n == 1 ? b[0] : b[0] & (0x7F >> n); // the payload bits
    for (std::size_t k = 1; k < n; ++k) v = v << 6 | (b[k] & 0x3F);
    const bool ok = n <= 4 && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF) &&
                    enc8(v) == std::vector<UTF8>(b.begin(), b.begin() + std::ptrdiff_t(n));
    for (std::size_t len = n; len > 0 && len + 1 >= n; --len) {
      ASSERT_EQ(ok && len == n, std::get<0>(convert<UTF8, UTF32>([](const UTF8** s, const UTF8* e, UTF32**, UTF32*) {
        return isLegalUTF8Sequence(*s, e) ? conversionOK : sourceIllegal;
      }, b, len, 0)) == conversionOK) << pair << " " << len;
      ASSERT_EQ(len < n ? sourceExhausted : ok ? conversionOK : sourceIllegal,
                std::get<0>(convert<UTF8, UTF32>([](auto... a) { return ConvertUTF8toUTF32(a..., strictConversion); },
                                                 b, len, 1))) << pair << " " << len;
    }
#endif
  }
}

#ifdef BRACKWELL_NO_SIMD
TEST(Convert, CornerCases) {
  // UTF-32 to UTF-16: room is tested first; values above 0x10FFFF are
  // dropped (strict: sourceIllegal, and on) or replaced (lenient).
  check(ConvertUTF32toUTF16, {
      {{}, 0, 2, conversionOK, 0, {}}, {{0x41, 0x110000, 0x42}, 64, 0, sourceIllegal, 3, {0x41, 0x42}},
      {{0x41, 0x110000, 0xDFFF, 0x42}, 64, 1, conversionOK, 4, {0x41, 0xFFFD, 0xFFFD, 0x42}},
      {{0x110000, 0x41, 0x42}, 1, 0, targetExhausted, 2, {0x41}},
      {{0x41, 0x110000}, 1, 0, targetExhausted, 1, {0x41}},
      {{0x41, 0xD800, 0x42}, 64, 0, sourceIllegal, 1, {0x41}}});
  // UTF-16 to UTF-32 and UTF-8: the source tests come before the room test.
  check(ConvertUTF16toUTF32, {
      {{0xDC00}, 0, 0, sourceIllegal, 0, {}}, {{0xDC00}, 0, 1, targetExhausted, 0, {}},
      {{0x41, 0xD800}, 64, 2, sourceExhausted, 1, {0x41}}, {{0xD800, 0x41}, 64, 0, sourceIllegal, 0, {}},
      {{0xD800, 0x41, 0xDC00, 0xD800, 0xD800, 0xDC00}, 64, 1, conversionOK, 6, {0xD800, 0x41, 0xDC00, 0xD800, 0x10000}}});
  check(ConvertUTF16toUTF8, {
      {{0xD800, 0x41}, 64, 1, conversionOK, 2, {0xED, 0xA0, 0x80, 0x41}},
      {{0xD800, 0x41}, 64, 0, sourceIllegal, 0, {}}, {{0x41, 0xDBFF}, 64, 2, sourceExhausted, 1, {0x41}}});
  // UTF-32 to UTF-8: above 0x10FFFF is replaced in both modes.
  check(ConvertUTF32toUTF8, {
      {{0x110000, 0x41}, 64, 2, sourceIllegal, 2, {0xEF, 0xBF, 0xBD, 0x41}},
      {{0x110000, 0x41}, 3, 1, targetExhausted, 1, {0xEF, 0xBF, 0xBD}},
      {{0xD800}, 0, 0, sourceIllegal, 0, {}}, {{0xD800}, 64, 1, conversionOK, 1, {0xED, 0xA0, 0x80}}});
  // UTF-8 readers: exhaustion, then well-formedness, then room.
  check(ConvertUTF8toUTF32, {
      {{0x41, 0xE2, 0x82}, 64, 2, sourceExhausted, 1, {0x41}}, {{0xE2, 0x41, 0x41}, 64, 2, sourceIllegal, 0, {}},
      {{0xFF}, 64, 2, sourceExhausted, 0, {}}, {{0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}, 64, 2, sourceIllegal, 0, {}},
      {{0xF0, 0x41}, 0, 2, sourceExhausted, 0, {}}, {{0xC3, 0x41}, 0, 2, sourceIllegal, 0, {}}});
}

// Every scalar value through each routine, into a target of exactly the
// size of its output, against reference encodings.
TEST(Convert, EveryScalarValue) {
  std::vector<UTF32> all, bytes, units16;
  for (UTF32 c = 0; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    all.push_back(c);
    for (UTF8 b : enc8(c)) bytes.push_back(b);
    if (c > 0xFFFF) units16.push_back(0xD7C0 + (c >> 10)), units16.push_back(0xDC00 + (c & 0x3FF));
    else units16.push_back(c);
  }
  auto size = [](std::vector<UTF32> const& v) { return std::ptrdiff_t(v.size()); };
  check(ConvertUTF32toUTF8, {{all, bytes.size(), 2, conversionOK, size(all), bytes}});
  check(ConvertUTF32toUTF16, {{all, units16.size(), 2, conversionOK, size(all), units16}});
  check(ConvertUTF16toUTF8, {{units16, bytes.size(), 2, conversionOK, size(units16), bytes}});
  check(ConvertUTF16toUTF32, {{units16, all.size(), 2, conversionOK, size(units16), all}});
  check(ConvertUTF8toUTF16, {{bytes, units16.size(), 2, conversionOK, size(bytes), units16}});
  check(ConvertUTF8toUTF32, {{bytes, all.size(), 2, conversionOK, size(bytes), all}});
}
#endif
