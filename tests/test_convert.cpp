// The UTF-8/16/32 conversion routines through their public header alone
// (the kernel comparison includes the internals): the stated corner cases as
// one table, the well-formedness rule against an independent encoder, and
// every scalar value against reference encodings. Sources and targets have
// exactly their size and the target is filled with a canary, so an access
// outside them (under AddressSanitizer) or a unit written after the target
// cursor fails.
#include "brackwell/ConvertUTF.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

namespace {

using U32 = std::vector<UTF32>;

// Source units, target room, flags (2: both modes, same outcome), result,
// units consumed, units written (units of any width as numbers).
struct Case { U32 src; std::size_t room; int flags; ConversionResult result; std::ptrdiff_t consumed; U32 out; };

template <class S, class T>
void check(ConversionResult (*fn)(const S**, const S*, T**, T*, ConversionFlags), std::vector<Case> const& cases) {
  for (Case const& c : cases)
    for (ConversionFlags flags : {strictConversion, lenientConversion}) {
      if (c.flags != 2 && c.flags != flags) continue;
      std::unique_ptr<S[]> src(new S[c.src.size()]);
      std::unique_ptr<T[]> dst(new T[c.room]);
      std::copy(c.src.begin(), c.src.end(), src.get());
      std::fill(dst.get(), dst.get() + c.room, T(0x5A));
      const S* s = src.get();
      T* t = dst.get();
      const ConversionResult r = fn(&s, src.get() + c.src.size(), &t, dst.get() + c.room, flags);
      U32 buffer = c.out; // and the canary after it
      buffer.resize(c.room, T(0x5A));
      EXPECT_EQ(std::make_tuple(c.result, c.consumed, std::ptrdiff_t(c.out.size()), buffer),
                std::make_tuple(r, s - src.get(), t - dst.get(), U32(dst.get(), dst.get() + c.room)))
          << "case " << &c - cases.data() << " flags " << flags;
    }
}

// Reference UTF-8 encoder (RFC 3629 form).
std::vector<UTF8> enc8(UTF32 c) {
  if (c < 0x80) return {UTF8(c)};
  if (c < 0x800) return {UTF8(0xC0 | c >> 6), UTF8(0x80 | (c & 0x3F))};
  if (c < 0x10000) return {UTF8(0xE0 | c >> 12), UTF8(0x80 | (c >> 6 & 0x3F)), UTF8(0x80 | (c & 0x3F))};
  return {UTF8(0xF0 | c >> 18), UTF8(0x80 | (c >> 12 & 0x3F)), UTF8(0x80 | (c >> 6 & 0x3F)), UTF8(0x80 | (c & 0x3F))};
}

} // namespace

TEST(Convert, CornerCases) {
  // UTF-32 to UTF-16: room is tested first; values above 0x10FFFF are
  // dropped (strict: sourceIllegal, and on) or replaced (lenient).
  check(ConvertUTF32toUTF16, {
      {{}, 0, 2, conversionOK, 0, {}},
      {{0x41, 0x110000, 0x42}, 64, 0, sourceIllegal, 3, {0x41, 0x42}},
      {{0x41, 0x110000, 0xDFFF, 0x42}, 64, 1, conversionOK, 4, {0x41, 0xFFFD, 0xFFFD, 0x42}},
      {{0x110000, 0x41, 0x42}, 1, 0, targetExhausted, 2, {0x41}},
      {{0x41, 0x110000}, 1, 0, targetExhausted, 1, {0x41}},
      {{0x41, 0xD800, 0x42}, 64, 0, sourceIllegal, 1, {0x41}}});
  // UTF-16 to UTF-32 and UTF-8: the source tests come before the room test.
  check(ConvertUTF16toUTF32, {
      {{0xDC00}, 0, 0, sourceIllegal, 0, {}},
      {{0xDC00}, 0, 1, targetExhausted, 0, {}},
      {{0x41, 0xD800}, 64, 2, sourceExhausted, 1, {0x41}},
      {{0xD800, 0x41}, 64, 0, sourceIllegal, 0, {}},
      {{0xD800, 0x41, 0xDC00, 0xD800, 0xD800, 0xDC00}, 64, 1, conversionOK, 6, {0xD800, 0x41, 0xDC00, 0xD800, 0x10000}}});
  check(ConvertUTF16toUTF8, {
      {{0xD800, 0x41}, 64, 1, conversionOK, 2, {0xED, 0xA0, 0x80, 0x41}},
      {{0xD800, 0x41}, 64, 0, sourceIllegal, 0, {}},
      {{0x41, 0xDBFF}, 64, 2, sourceExhausted, 1, {0x41}}});
  // UTF-32 to UTF-8: above 0x10FFFF is replaced in both modes.
  check(ConvertUTF32toUTF8, {
      {{0x110000, 0x41}, 64, 2, sourceIllegal, 2, {0xEF, 0xBF, 0xBD, 0x41}},
      {{0x110000, 0x41}, 3, 1, targetExhausted, 1, {0xEF, 0xBF, 0xBD}},
      {{0xD800}, 0, 0, sourceIllegal, 0, {}},
      {{0xD800}, 64, 1, conversionOK, 1, {0xED, 0xA0, 0x80}}});
  // UTF-8 readers: exhaustion, then well-formedness, then room.
  check(ConvertUTF8toUTF32, {
      {{0x41, 0xE2, 0x82}, 64, 2, sourceExhausted, 1, {0x41}},
      {{0xE2, 0x41, 0x41}, 64, 2, sourceIllegal, 0, {}},
      {{0xFF}, 64, 2, sourceExhausted, 0, {}},
      {{0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}, 64, 2, sourceIllegal, 0, {}},
      {{0xF0, 0x41}, 0, 2, sourceExhausted, 0, {}},
      {{0xC3, 0x41}, 0, 2, sourceIllegal, 0, {}}});
}

// Every lead byte, every second byte and a set of later bytes, padded to
// the announced length: isLegalUTF8Sequence and the reader accept exactly
// the reference encodings of scalar values, and one byte short is never
// legal (sourceExhausted for the reader).
TEST(Convert, WellFormednessMatchesReferenceEncoder) {
  const UTF8 later[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  for (unsigned lead = 0; lead < 256 && !HasFatalFailure(); ++lead) {
    const std::size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
    for (unsigned second = 0; second < (n > 1 ? 256 : 1); ++second)
      for (std::size_t i = 0; i < (n > 2 ? sizeof later : 1); ++i)
        for (std::size_t j = 0; j < (n > 3 ? sizeof later : 1); ++j) {
          const UTF8 bytes[] = {UTF8(lead), UTF8(second), later[i], later[j], 0x80, 0x80};
          UTF32 v = n == 1 ? lead : lead & (0x7F >> n); // the payload bits
          for (std::size_t k = 1; k < n; ++k) v = v << 6 | (bytes[k] & 0x3F);
          const bool ok = n <= 4 && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF) &&
                          enc8(v) == std::vector<UTF8>(bytes, bytes + n);
          for (std::size_t len = n; len > 0 && len + 1 >= n; --len) {
            std::unique_ptr<UTF8[]> s(new UTF8[len]);
            std::copy(bytes, bytes + len, s.get());
            const UTF8* cursor = s.get();
            UTF32 out[1], *t = out;
            ASSERT_EQ(ok && len == n, isLegalUTF8Sequence(s.get(), s.get() + len))
                << lead << " " << second << " " << i << " " << j << " " << len;
            ASSERT_EQ(len < n ? sourceExhausted : ok ? conversionOK : sourceIllegal,
                      ConvertUTF8toUTF32(&cursor, s.get() + len, &t, out + 1, strictConversion));
          }
        }
  }
}

// Every scalar value through each routine, into a target of exactly the
// size of its output, against reference encodings.
TEST(Convert, EveryScalarValue) {
  U32 all, bytes, units16;
  for (UTF32 c = 0; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    all.push_back(c);
    for (UTF8 b : enc8(c)) bytes.push_back(b);
    if (c > 0xFFFF) units16.push_back(0xD7C0 + (c >> 10)), units16.push_back(0xDC00 + (c & 0x3FF));
    else units16.push_back(c);
  }
  auto size = [](U32 const& v) { return std::ptrdiff_t(v.size()); };
  check(ConvertUTF32toUTF8, {{all, bytes.size(), 2, conversionOK, size(all), bytes}});
  check(ConvertUTF32toUTF16, {{all, units16.size(), 2, conversionOK, size(all), units16}});
  check(ConvertUTF16toUTF8, {{units16, bytes.size(), 2, conversionOK, size(units16), bytes}});
  check(ConvertUTF16toUTF32, {{units16, all.size(), 2, conversionOK, size(units16), all}});
  check(ConvertUTF8toUTF16, {{bytes, units16.size(), 2, conversionOK, size(bytes), units16}});
  check(ConvertUTF8toUTF32, {{bytes, all.size(), 2, conversionOK, size(bytes), all}});
}
