//===- text/convert_impl.h - The converters' internals ----------*- C++ -*-===//
//
// Internal to the library and its tests; not part of the API.
//
// The six converters as templates over one flag, `Fast`, in namespace
// Brackwell::detail:
//
//   utf8ToUTF16<false>(...)       the reference: the per-character rules, one
//                                 character at a time, as plainly as they read
//   utf8ToUTF16<true>(..., ks)    the same results, faster
//
// Every converter follows one frame: it walks the source one character at a
// time, decides from the source (and only then from the target room, except
// for UTF-32 to UTF-16, which tests the room first) whether the character can
// be taken, and writes it whole or not at all. On every return both cursors
// are stored back: the source cursor at the first unit of the character that
// was not taken, the target cursor after the last character written. Input
// in UTF-32 may be replaced or dropped without stopping; the result set then
// carries on through the rest of the loop.
//
// The fast variants put shortcuts in front of that frame, each taken only
// when it provably does what the frame would do for the characters it
// covers:
//   1. the block kernel of the KernelSet `ks` (simd/kernels.h), when one is
//      given for the direction and enough source is left: it converts whole
//      blocks that are well formed, need no replacement and fit, and returns
//      at the first block it cannot take. It is not tried again until the
//      walk is kKernelRetry units further on, so a bad character costs at
//      most one wasted block. The public UTF-8 readers pass BestKernels and
//      fetch the set from the dispatcher only when a kernel is due;
//   2. a run of 16 (or 8) source units that are all ASCII, copied (widened,
//      narrowed) in one step when the target has room for all of them;
//      SSE2 on x86-64, 8-byte words elsewhere (or when BRACKWELL_NO_SIMD is
//      defined, which the tests use to check them). The UTF-8 readers try
//      this before the kernel, so a short ASCII text (most paths and names)
//      never sets up a block;
//   3. a well-formed two-, three- or four-byte UTF-8 sequence, or a UTF-16 or
//      UTF-32 character that needs no replacement, converted inline when the
//      target has room for it.
// Anything else (ill-formed or truncated input, a full target, a character
// the modes treat differently) falls through to the reference step, which
// decides the result and the stopping point with the caller's own ends.
// Sources shorter than kKernelMin units (kDecodeMin bytes of UTF-8) never
// reach a kernel, so the shortest texts pay neither for the dispatch nor for
// a block set-up.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_CONVERT_IMPL_H
#define BRACKWELL_SRC_TEXT_CONVERT_IMPL_H

#include "brackwell/ConvertUTF.h"
#include "simd/kernels.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__) && !defined(BRACKWELL_NO_SIMD)
#include <emmintrin.h>
#endif

namespace Brackwell {
namespace detail {
// The portable build of this header gets its own names, so that a test built
// with BRACKWELL_NO_SIMD never shares an inline function with the library.
#if defined(__SSE2__) && !defined(BRACKWELL_NO_SIMD)
inline namespace simd_sse2 {
#else
inline namespace simd_none {
#endif

constexpr UTF32 kReplacementChar = 0xFFFD;
constexpr UTF32 kMaxBMP = 0xFFFF;
constexpr UTF32 kMaxLegalUTF32 = 0x10FFFF;
constexpr UTF32 kSurHighStart = 0xD800;
constexpr UTF32 kSurHighEnd = 0xDBFF;
constexpr UTF32 kSurLowStart = 0xDC00;
constexpr UTF32 kSurLowEnd = 0xDFFF;
constexpr int kHalfShift = 10;
constexpr UTF32 kHalfBase = 0x10000;
constexpr UTF32 kHalfMask = 0x3FF;

// Number of continuation bytes announced by each lead byte. Bytes that cannot
// lead (0x80-0xBF) announce none; 0xF8-0xFF announce the five- and six-byte
// forms, which are never legal but still decide how much input is needed.
struct TrailingTable {
  signed char v[256];
  constexpr TrailingTable() : v() {
    for (int i = 0; i < 256; ++i)
      v[i] = static_cast<signed char>(i < 0xC0   ? 0
                                      : i < 0xE0 ? 1
                                      : i < 0xF0 ? 2
                                      : i < 0xF8 ? 3
                                      : i < 0xFC ? 4
                                                 : 5);
  }
};
constexpr TrailingTable trailingBytesForUTF8;

// The marker bits that accumulating a (k+1)-byte sequence adds, indexed by k.
constexpr UTF32 offsetsFromUTF8[6] = {0x00000000UL, 0x00003080UL,
                                      0x000E2080UL, 0x03C82080UL,
                                      0xFA082080UL, 0x82082080UL};

// Lead-byte markers for UTF-8 forms of 1 to 4 bytes, indexed by length.
constexpr UTF8 firstByteMark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};

inline bool isSurrogate(UTF32 c) { return c >= kSurHighStart && c <= kSurLowEnd; }
inline bool isHigh(UTF32 c) { return c >= kSurHighStart && c <= kSurHighEnd; }
inline bool isLow(UTF32 c) { return c >= kSurLowStart && c <= kSurLowEnd; }

inline int trailingBytes(UTF8 lead) {
  return trailingBytesForUTF8.v[lead];
}

// Whether the `length` bytes at `s` are one well-formed UTF-8 sequence. The
// caller guarantees that `length` bytes are readable and that `length` is
// the length announced by the lead byte.
inline bool isLegalUTF8(const UTF8* s, int length) {
  if (length > 4) return false;
  UTF8 a;
  switch (length) {
    case 4:
      if ((a = s[3]) < 0x80 || a > 0xBF) return false;
      [[fallthrough]];
    case 3:
      if ((a = s[2]) < 0x80 || a > 0xBF) return false;
      [[fallthrough]];
    case 2:
      a = s[1];
      switch (s[0]) {
        case 0xE0: if (a < 0xA0 || a > 0xBF) return false; break;
        case 0xED: if (a < 0x80 || a > 0x9F) return false; break;
        case 0xF0: if (a < 0x90 || a > 0xBF) return false; break;
        case 0xF4: if (a < 0x80 || a > 0x8F) return false; break;
        default:   if (a < 0x80 || a > 0xBF) return false; break;
      }
      [[fallthrough]];
    default:
      // Continuation bytes and the overlong leads 0xC0/0xC1 never lead.
      if (s[0] >= 0x80 && s[0] < 0xC2) return false;
  }
  return s[0] <= 0xF4;
}

// Decodes the well-formed sequence of extra+1 bytes at `s`.
inline UTF32 decodeUTF8(const UTF8* s, int extra) {
  UTF32 ch = 0;
  switch (extra) {
    case 3: ch += *s++; ch <<= 6; [[fallthrough]];
    case 2: ch += *s++; ch <<= 6; [[fallthrough]];
    case 1: ch += *s++; ch <<= 6; [[fallthrough]];
    default: ch += *s;
  }
  return ch - offsetsFromUTF8[extra];
}

// Length of the UTF-8 form of `ch` (at most 0x10FFFF or a lone surrogate).
inline std::ptrdiff_t utf8Length(UTF32 ch) {
  return ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
}

// Writes the `length`-byte UTF-8 form of `ch` at `t`; returns the end.
inline UTF8* encodeUTF8(UTF32 ch, std::ptrdiff_t length, UTF8* t) {
  t += length;
  UTF8* end = t;
  switch (length) {
    case 4: *--t = static_cast<UTF8>((ch | 0x80) & 0xBF); ch >>= 6; [[fallthrough]];
    case 3: *--t = static_cast<UTF8>((ch | 0x80) & 0xBF); ch >>= 6; [[fallthrough]];
    case 2: *--t = static_cast<UTF8>((ch | 0x80) & 0xBF); ch >>= 6; [[fallthrough]];
    default: *--t = static_cast<UTF8>(ch | firstByteMark[length]);
  }
  return end;
}

// Reads one character of UTF-16 at `*source` (source tests only). On success
// stores the value, advances `*source` past its units and returns
// conversionOK; otherwise leaves `*source` alone and returns the stop code.
inline ConversionResult readUTF16(const UTF16** source, const UTF16* sourceEnd,
                                  bool lenient, UTF32* out) {
  const UTF16* s = *source;
  UTF32 ch = *s++;
  if (isHigh(ch)) {
    if (s >= sourceEnd) return sourceExhausted;
    const UTF32 ch2 = *s;
    if (isLow(ch2)) {
      ch = ((ch - kSurHighStart) << kHalfShift) + (ch2 - kSurLowStart) + kHalfBase;
      ++s;
    } else if (!lenient) {
      return sourceIllegal;
    }
  } else if (!lenient && isLow(ch)) {
    return sourceIllegal;
  }
  *out = ch;
  *source = s;
  return conversionOK;
}

// Reads one UTF-8 sequence at `*source` (source tests only), with the same
// contract as readUTF16. Leniency does not apply: ill-formed input is never
// replaced.
inline ConversionResult readUTF8(const UTF8** source, const UTF8* sourceEnd,
                                 UTF32* out, const UTF8** next) {
  const UTF8* s = *source;
  const int extra = trailingBytes(*s);
  if (extra >= sourceEnd - s) return sourceExhausted;
  if (!isLegalUTF8(s, extra + 1)) return sourceIllegal;
  *out = decodeUTF8(s, extra);
  *next = s + extra + 1;
  return conversionOK;
}


//===----------------------------------------------------------------------===//
// Block paths: runs of ASCII
//===----------------------------------------------------------------------===//

// Each run function copies the ASCII units at `s` to `t`, converting the unit
// type, for as long as they are ASCII and both `n` source units and `n`
// target units remain (n = avail, the smaller of the two counts). It stops
// at the first unit that is not ASCII and returns how many it copied. Only
// units that are copied are written.

#if defined(__SSE2__) && !defined(BRACKWELL_NO_SIMD)

inline std::size_t asciiRun(const UTF8* s, UTF16* t, std::size_t avail) {
  const __m128i zero = _mm_setzero_si128();
  std::size_t n = 0;
  for (; n + 32 <= avail; n += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n + 16));
    if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0)
      break;
    __m128i* d = reinterpret_cast<__m128i*>(t + n);
    _mm_storeu_si128(d, _mm_unpacklo_epi8(a, zero));
    _mm_storeu_si128(d + 1, _mm_unpackhi_epi8(a, zero));
    _mm_storeu_si128(d + 2, _mm_unpacklo_epi8(b, zero));
    _mm_storeu_si128(d + 3, _mm_unpackhi_epi8(b, zero));
  }
  for (; n + 16 <= avail; n += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n));
    const int mask = _mm_movemask_epi8(a);
    if (mask != 0) {
      const std::size_t end = n + static_cast<unsigned>(__builtin_ctz(mask));
      for (; n < end; ++n)
        t[n] = s[n];
      return n;
    }
    __m128i* d = reinterpret_cast<__m128i*>(t + n);
    _mm_storeu_si128(d, _mm_unpacklo_epi8(a, zero));
    _mm_storeu_si128(d + 1, _mm_unpackhi_epi8(a, zero));
  }
  for (; n < avail && s[n] < 0x80; ++n)
    t[n] = s[n];
  return n;
}

inline std::size_t asciiRun(const UTF8* s, UTF32* t, std::size_t avail) {
  const __m128i zero = _mm_setzero_si128();
  std::size_t n = 0;
  for (; n + 16 <= avail; n += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n));
    const int mask = _mm_movemask_epi8(a);
    if (mask != 0) {
      const std::size_t end = n + static_cast<unsigned>(__builtin_ctz(mask));
      for (; n < end; ++n)
        t[n] = s[n];
      return n;
    }
    const __m128i lo = _mm_unpacklo_epi8(a, zero);
    const __m128i hi = _mm_unpackhi_epi8(a, zero);
    __m128i* d = reinterpret_cast<__m128i*>(t + n);
    _mm_storeu_si128(d, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(d + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(d + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(d + 3, _mm_unpackhi_epi16(hi, zero));
  }
  for (; n < avail && s[n] < 0x80; ++n)
    t[n] = s[n];
  return n;
}

inline std::size_t asciiRun(const UTF16* s, UTF8* t, std::size_t avail) {
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  std::size_t n = 0;
  for (; n + 16 <= avail; n += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n + 8));
    const __m128i bits = _mm_and_si128(_mm_or_si128(a, b), high);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(bits, zero)) != 0xFFFF)
      break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t + n), _mm_packus_epi16(a, b));
  }
  for (; n < avail && s[n] < 0x80; ++n)
    t[n] = static_cast<UTF8>(s[n]);
  return n;
}

inline std::size_t asciiRun(const UTF32* s, UTF8* t, std::size_t avail) {
  const __m128i high = _mm_set1_epi32(static_cast<int>(0xFFFFFF80u));
  const __m128i zero = _mm_setzero_si128();
  std::size_t n = 0;
  for (; n + 16 <= avail; n += 16) {
    const __m128i* p = reinterpret_cast<const __m128i*>(s + n);
    const __m128i a = _mm_loadu_si128(p);
    const __m128i b = _mm_loadu_si128(p + 1);
    const __m128i c = _mm_loadu_si128(p + 2);
    const __m128i d = _mm_loadu_si128(p + 3);
    const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, high), zero)) !=
        0xFFFF)
      break;
    const __m128i ab = _mm_packs_epi32(a, b);
    const __m128i cd = _mm_packs_epi32(c, d);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t + n), _mm_packus_epi16(ab, cd));
  }
  for (; n < avail && s[n] < 0x80; ++n)
    t[n] = static_cast<UTF8>(s[n]);
  return n;
}

#else // portable: 8 units tested at a time

template <class S> inline bool allASCII8(const S* s) {
  if constexpr (sizeof(S) == 1) {
    std::uint64_t w;
    std::memcpy(&w, s, 8);
    return (w & 0x8080808080808080ULL) == 0;
  } else {
    S any = 0;
    for (int k = 0; k < 8; ++k)
      any |= s[k];
    return any < 0x80;
  }
}

template <class S, class T>
inline std::size_t asciiRun(const S* s, T* t, std::size_t avail) {
  std::size_t n = 0;
  for (; n + 8 <= avail && allASCII8(s + n); n += 8)
    for (int k = 0; k < 8; ++k)
      t[n + k] = static_cast<T>(s[n + k]);
  for (; n < avail && s[n] < 0x80; ++n)
    t[n] = static_cast<T>(s[n]);
  return n;
}

#endif

// Whether the 8 bytes at `s` exist and are all ASCII, so that the block
// path is worth going back to.
inline bool asciiAhead(const UTF8* s, const UTF8* sEnd) {
  if (sEnd - s < 8)
    return false;
  std::uint64_t w;
  std::memcpy(&w, s, 8);
  return (w & 0x8080808080808080ULL) == 0;
}

// The smaller of the units left in the source and in the target.
template <class S, class T>
inline std::size_t room(const S* s, const S* sEnd, const T* t, const T* tEnd) {
  const std::ptrdiff_t a = sEnd - s;
  const std::ptrdiff_t b = tEnd - t;
  return static_cast<std::size_t>(a < b ? a : b);
}

// Below this many units a run is left to the per-character paths.
constexpr std::ptrdiff_t kBlockMin = 16;

// A kernel is tried only with at least kKernelMin source units left (the
// UTF-8 decoders take a tail of 16 bytes or more themselves, so for them
// kDecodeMin); after a call it is not tried again until the walk is
// kKernelRetry units further.
constexpr std::ptrdiff_t kKernelMin = 64;
constexpr std::ptrdiff_t kDecodeMin = 16;
constexpr std::ptrdiff_t kKernelRetry = 64;

// Runs the kernel `k`, when there is one and it is due, from the walk's
// position; it advances both cursors past the blocks it converted.
template <class K, class S, class T>
inline void runKernel(K k, const S*& s, const S* sEnd, T*& t, T* tEnd,
                      const S*& retry) {
  constexpr std::ptrdiff_t least = sizeof(S) == 1 ? kDecodeMin : kKernelMin;
  if (k != nullptr && s >= retry && sEnd - s >= least) {
    k(s, sEnd, t, tEnd);
    retry = sEnd - s > kKernelRetry ? s + kKernelRetry : sEnd;
  }
}

// Asks the converters from UTF-8 to use the best kernel set, fetched only
// when a kernel is due (a short ASCII text never asks the dispatcher).
struct BestKernels {};

//===----------------------------------------------------------------------===//
// Per-character fast paths
//===----------------------------------------------------------------------===//

// Each converts the one character at `s` when it is well formed, needs no
// replacement and fits in the target, advancing both cursors, and returns
// true; otherwise it changes nothing and returns false, and the scalar step
// decides.

// UTF-8 to UTF-16 (Pairs) or UTF-32.
template <bool Pairs, class T>
inline bool fastFromUTF8(const UTF8*& s, const UTF8* sEnd, T*& t, T* tEnd) {
  const UTF32 b0 = s[0];
  const std::ptrdiff_t left = sEnd - s;
  if (t >= tEnd)
    return false;
  if (b0 < 0x80) {
    *t++ = static_cast<T>(b0);
    s += 1;
    return true;
  }
  if (b0 < 0xC2 || left < 2)
    return false;
  const UTF32 b1 = s[1];
  if (b0 < 0xE0) {
    if ((b1 & 0xC0) != 0x80)
      return false;
    *t++ = static_cast<T>(((b0 & 0x1F) << 6) | (b1 & 0x3F));
    s += 2;
    return true;
  }
  if (left < 3)
    return false;
  const UTF32 b2 = s[2];
  if (b0 < 0xF0) {
    const UTF32 lo = b0 == 0xE0 ? 0xA0 : 0x80;
    const UTF32 hi = b0 == 0xED ? 0x9F : 0xBF;
    if (b1 < lo || b1 > hi || (b2 & 0xC0) != 0x80)
      return false;
    *t++ = static_cast<T>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
    s += 3;
    return true;
  }
  if (b0 > 0xF4 || left < 4 || (Pairs && tEnd - t < 2))
    return false;
  const UTF32 b3 = s[3];
  const UTF32 lo = b0 == 0xF0 ? 0x90 : 0x80;
  const UTF32 hi = b0 == 0xF4 ? 0x8F : 0xBF;
  if (b1 < lo || b1 > hi || (b2 & 0xC0) != 0x80 || (b3 & 0xC0) != 0x80)
    return false;
  const UTF32 ch = ((b0 & 0x07) << 18) | ((b1 & 0x3F) << 12) |
                   ((b2 & 0x3F) << 6) | (b3 & 0x3F);
  if constexpr (Pairs) {
    const UTF32 v = ch - kHalfBase;
    *t++ = static_cast<T>((v >> kHalfShift) + kSurHighStart);
    *t++ = static_cast<T>((v & kHalfMask) + kSurLowStart);
  } else {
    *t++ = ch;
  }
  s += 4;
  return true;
}

// Converts a run of three-byte sequences whose lead is E1-EC or EE-EF (the
// bulk of CJK text; those leads put no extra limit on the second byte)
// while 3 source bytes and 1 target unit remain. Stops at anything else.
template <class T>
inline void threeByteRun(const UTF8*& s, const UTF8* sEnd, T*& t, T* tEnd) {
  const UTF8* p = s;
  T* q = t;
  const std::ptrdiff_t n = (sEnd - p) / 3 < tEnd - q ? (sEnd - p) / 3 : tEnd - q;
  const UTF8* const stop = p + 3 * n;
  while (p < stop) {
    const UTF32 b0 = p[0], b1 = p[1], b2 = p[2];
    if ((b0 & 0xF0) != 0xE0 || b0 == 0xE0 || b0 == 0xED ||
        ((b1 & 0xC0) ^ 0x80) != 0 || ((b2 & 0xC0) ^ 0x80) != 0)
      break;
    *q++ = static_cast<T>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
    p += 3;
  }
  s = p;
  t = q;
}

// Writes a scalar value below 0x110000 that is no surrogate as UTF-8 when
// the target has room; false otherwise.
inline bool fastPutUTF8(UTF32 ch, UTF8*& t, UTF8* tEnd) {
  const std::ptrdiff_t room = tEnd - t;
  if (ch < 0x80) {
    if (room < 1)
      return false;
    *t++ = static_cast<UTF8>(ch);
  } else if (ch < 0x800) {
    if (room < 2)
      return false;
    t[0] = static_cast<UTF8>(0xC0 | (ch >> 6));
    t[1] = static_cast<UTF8>(0x80 | (ch & 0x3F));
    t += 2;
  } else if (ch < 0x10000) {
    if (room < 3)
      return false;
    t[0] = static_cast<UTF8>(0xE0 | (ch >> 12));
    t[1] = static_cast<UTF8>(0x80 | ((ch >> 6) & 0x3F));
    t[2] = static_cast<UTF8>(0x80 | (ch & 0x3F));
    t += 3;
  } else {
    if (room < 4)
      return false;
    t[0] = static_cast<UTF8>(0xF0 | (ch >> 18));
    t[1] = static_cast<UTF8>(0x80 | ((ch >> 12) & 0x3F));
    t[2] = static_cast<UTF8>(0x80 | ((ch >> 6) & 0x3F));
    t[3] = static_cast<UTF8>(0x80 | (ch & 0x3F));
    t += 4;
  }
  return true;
}

// Reads one UTF-16 character that is a BMP value other than a surrogate or
// a complete surrogate pair; false for a lone surrogate or a cut pair.
inline bool fastReadUTF16(const UTF16* s, const UTF16* sEnd, UTF32& ch,
                          std::ptrdiff_t& units) {
  ch = s[0];
  if (!isSurrogate(ch)) {
    units = 1;
    return true;
  }
  if (!isHigh(ch) || sEnd - s < 2 || !isLow(s[1]))
    return false;
  ch = ((ch - kSurHighStart) << kHalfShift) + (s[1] - kSurLowStart) + kHalfBase;
  units = 2;
  return true;
}

//===----------------------------------------------------------------------===//
// The converters
//===----------------------------------------------------------------------===//

template <bool Fast>
ConversionResult utf32ToUTF16(const UTF32** sourceStart, const UTF32* sourceEnd,
                              UTF16** targetStart, UTF16* targetEnd,
                              ConversionFlags flags,
                              const KernelSet* ks = nullptr) {
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const UTF32* source = *sourceStart;
  UTF16* target = *targetStart;
  [[maybe_unused]] const auto kernel = ks ? ks->utf32To16 : nullptr;
  [[maybe_unused]] const UTF32* retry = source;
  while (source < sourceEnd) {
    if constexpr (Fast) {
      runKernel(kernel, source, sourceEnd, target, targetEnd, retry);
      if (source >= sourceEnd)
        break;
    }
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    const UTF32 ch = *source;
    if constexpr (Fast) {
      // Values that need no replacement and fit (the room is tested first
      // here, as in the scalar step).
      if (ch < kSurHighStart || (ch > kSurLowEnd && ch <= kMaxBMP)) {
        *target++ = static_cast<UTF16>(ch);
        ++source;
        continue;
      }
    }
    if (ch <= kMaxBMP) {
      if (isSurrogate(ch)) {
        if (!lenient) {
          result = sourceIllegal;
          break;
        }
        *target++ = static_cast<UTF16>(kReplacementChar);
      } else {
        *target++ = static_cast<UTF16>(ch);
      }
    } else if (ch > kMaxLegalUTF32) {
      // Strict mode drops the value and goes on; lenient mode replaces it.
      if (lenient)
        *target++ = static_cast<UTF16>(kReplacementChar);
      else
        result = sourceIllegal;
    } else {
      if (targetEnd - target < 2) {
        result = targetExhausted;
        break;
      }
      const UTF32 v = ch - kHalfBase;
      *target++ = static_cast<UTF16>((v >> kHalfShift) + kSurHighStart);
      *target++ = static_cast<UTF16>((v & kHalfMask) + kSurLowStart);
    }
    ++source;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

template <bool Fast>
ConversionResult utf16ToUTF32(const UTF16** sourceStart, const UTF16* sourceEnd,
                              UTF32** targetStart, UTF32* targetEnd,
                              ConversionFlags flags,
                              const KernelSet* ks = nullptr) {
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const UTF16* source = *sourceStart;
  UTF32* target = *targetStart;
  [[maybe_unused]] const auto kernel = ks ? ks->utf16To32 : nullptr;
  [[maybe_unused]] const UTF16* retry = source;
  while (source < sourceEnd) {
    if constexpr (Fast) {
      runKernel(kernel, source, sourceEnd, target, targetEnd, retry);
      if (source >= sourceEnd)
        break;
    }
    if constexpr (Fast) {
      UTF32 ch;
      std::ptrdiff_t units;
      if (target < targetEnd && fastReadUTF16(source, sourceEnd, ch, units)) {
        *target++ = ch;
        source += units;
        continue;
      }
    }
    const UTF16* next = source;
    UTF32 ch;
    result = readUTF16(&next, sourceEnd, lenient, &ch);
    if (result != conversionOK) break;
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    *target++ = ch;
    source = next;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

template <bool Fast>
ConversionResult utf16ToUTF8(const UTF16** sourceStart, const UTF16* sourceEnd,
                             UTF8** targetStart, UTF8* targetEnd,
                             ConversionFlags flags,
                             const KernelSet* ks = nullptr) {
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const UTF16* source = *sourceStart;
  UTF8* target = *targetStart;
  [[maybe_unused]] const auto kernel = ks ? ks->utf16To8 : nullptr;
  [[maybe_unused]] const UTF16* retry = source;
  while (source < sourceEnd) {
    if constexpr (Fast) {
      runKernel(kernel, source, sourceEnd, target, targetEnd, retry);
      if (source >= sourceEnd)
        break;
    }
    if constexpr (Fast) {
      if (sourceEnd - source >= kBlockMin && targetEnd - target >= kBlockMin) {
        const std::size_t n =
            asciiRun(source, target, room(source, sourceEnd, target, targetEnd));
        source += n;
        target += n;
        if (source >= sourceEnd)
          break;
      }
      // Characters one at a time, until an ASCII unit may start a run.
      bool taken = false;
      do {
        UTF32 ch;
        std::ptrdiff_t units;
        if (!fastReadUTF16(source, sourceEnd, ch, units) ||
            !fastPutUTF8(ch, target, targetEnd)) {
          taken = false;
          break;
        }
        source += units;
        taken = true;
      } while (source < sourceEnd && *source >= 0x80);
      if (taken)
        continue;
    }
    const UTF16* next = source;
    UTF32 ch;
    result = readUTF16(&next, sourceEnd, lenient, &ch);
    if (result != conversionOK) break;
    const std::ptrdiff_t length = utf8Length(ch);
    if (targetEnd - target < length) {
      result = targetExhausted;
      break;
    }
    target = encodeUTF8(ch, length, target);
    source = next;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

template <bool Fast>
ConversionResult utf32ToUTF8(const UTF32** sourceStart, const UTF32* sourceEnd,
                             UTF8** targetStart, UTF8* targetEnd,
                             ConversionFlags flags,
                             const KernelSet* ks = nullptr) {
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const UTF32* source = *sourceStart;
  UTF8* target = *targetStart;
  [[maybe_unused]] const auto kernel = ks ? ks->utf32To8 : nullptr;
  [[maybe_unused]] const UTF32* retry = source;
  while (source < sourceEnd) {
    if constexpr (Fast) {
      runKernel(kernel, source, sourceEnd, target, targetEnd, retry);
      if (source >= sourceEnd)
        break;
    }
    if constexpr (Fast) {
      if (sourceEnd - source >= kBlockMin && targetEnd - target >= kBlockMin) {
        const std::size_t n =
            asciiRun(source, target, room(source, sourceEnd, target, targetEnd));
        source += n;
        target += n;
        if (source >= sourceEnd)
          break;
      }
      bool taken = false;
      do {
        const UTF32 ch = *source;
        if (isSurrogate(ch) || ch > kMaxLegalUTF32 ||
            !fastPutUTF8(ch, target, targetEnd)) {
          taken = false;
          break;
        }
        ++source;
        taken = true;
      } while (source < sourceEnd && *source >= 0x80);
      if (taken)
        continue;
    }
    UTF32 ch = *source;
    if (!lenient && isSurrogate(ch)) {
      result = sourceIllegal;
      break;
    }
    if (ch > kMaxLegalUTF32) {
      // Replaced in both modes; the result records it and the walk goes on.
      ch = kReplacementChar;
      result = sourceIllegal;
    }
    const std::ptrdiff_t length = utf8Length(ch);
    if (targetEnd - target < length) {
      result = targetExhausted;
      break;
    }
    target = encodeUTF8(ch, length, target);
    ++source;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

// UTF-8 to UTF-16 (Pairs) or UTF-32: one loop for both, since the two
// differ only in how a value above the BMP is written. Kept out of line: a
// short ASCII text then runs the same code as before the kernels existed.
template <bool Fast, bool Pairs, class T, class Kernels>
__attribute__((noinline)) ConversionResult fromUTF8(const UTF8** sourceStart, const UTF8* sourceEnd,
                          T** targetStart, T* targetEnd, Kernels kernels) {
  using Kernel = void (*)(const UTF8*&, const UTF8*, T*&, T*);
  [[maybe_unused]] Kernel kernel = nullptr;
  if constexpr (!std::is_same_v<Kernels, BestKernels>)
    kernel = kernels;
  ConversionResult result = conversionOK;
  const UTF8* source = *sourceStart;
  T* target = *targetStart;
  [[maybe_unused]] const UTF8* retry = source;
  while (source < sourceEnd) {
    if constexpr (Fast) {
      // ASCII first: a text that is all ASCII (most paths and names) is
      // done before the kernel would have set up its first window.
      if (sourceEnd - source >= kBlockMin && targetEnd - target >= kBlockMin) {
        const std::size_t n =
            asciiRun(source, target, room(source, sourceEnd, target, targetEnd));
        source += n;
        target += n;
        if (source >= sourceEnd)
          break;
      }
      if constexpr (std::is_same_v<Kernels, BestKernels>) {
        if (source >= retry && sourceEnd - source >= kDecodeMin) {
          const KernelSet* ks = bestKernelSet();
          if constexpr (Pairs)
            kernel = ks ? ks->utf8To16 : nullptr;
          else
            kernel = ks ? ks->utf8To32 : nullptr;
        }
      }
      runKernel(kernel, source, sourceEnd, target, targetEnd, retry);
      if (source >= sourceEnd)
        break;
      if ((*source & 0xF0) == 0xE0) {
        threeByteRun(source, sourceEnd, target, targetEnd);
        if (source >= sourceEnd)
          break;
      }
      bool taken = false;
      do {
        taken = fastFromUTF8<Pairs>(source, sourceEnd, target, targetEnd);
      } while (taken && source < sourceEnd && !asciiAhead(source, sourceEnd));
      if (taken)
        continue;
    }
    const UTF8* next;
    UTF32 ch;
    result = readUTF8(&source, sourceEnd, &ch, &next);
    if (result != conversionOK) break;
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    if (!Pairs || ch <= kMaxBMP) {
      *target++ = static_cast<T>(ch);
    } else {
      if (targetEnd - target < 2) {
        result = targetExhausted;
        break;
      }
      const UTF32 v = ch - kHalfBase;
      *target++ = static_cast<T>((v >> kHalfShift) + kSurHighStart);
      *target++ = static_cast<T>((v & kHalfMask) + kSurLowStart);
    }
    source = next;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

template <bool Fast>
ConversionResult utf8ToUTF16(const UTF8** sourceStart, const UTF8* sourceEnd,
                             UTF16** targetStart, UTF16* targetEnd,
                             ConversionFlags /*flags*/,
                             const KernelSet* ks = nullptr) {
  return fromUTF8<Fast, true>(sourceStart, sourceEnd, targetStart, targetEnd,
                              ks ? ks->utf8To16 : nullptr);
}
inline ConversionResult utf8ToUTF16(const UTF8** sourceStart,
                                    const UTF8* sourceEnd, UTF16** targetStart,
                                    UTF16* targetEnd, BestKernels best) {
  return fromUTF8<true, true>(sourceStart, sourceEnd, targetStart, targetEnd,
                              best);
}

template <bool Fast>
ConversionResult utf8ToUTF32(const UTF8** sourceStart, const UTF8* sourceEnd,
                             UTF32** targetStart, UTF32* targetEnd,
                             ConversionFlags /*flags*/,
                             const KernelSet* ks = nullptr) {
  return fromUTF8<Fast, false>(sourceStart, sourceEnd, targetStart, targetEnd,
                               ks ? ks->utf8To32 : nullptr);
}
inline ConversionResult utf8ToUTF32(const UTF8** sourceStart,
                                    const UTF8* sourceEnd, UTF32** targetStart,
                                    UTF32* targetEnd, BestKernels best) {
  return fromUTF8<true, false>(sourceStart, sourceEnd, targetStart, targetEnd,
                               best);
}

// isLegalUTF8Sequence: whether the sequence at `source` is complete before
// `sourceEnd` and well formed. Each lead byte class is tested on its own,
// and a byte is read only once the range is known to hold it. Leads
// 0x80-0xC1 and 0xF5-0xFF are never legal, whatever length they announce.
inline bool isLegalSequence(const UTF8* source, const UTF8* sourceEnd) {
  const unsigned b0 = source[0];
  const std::ptrdiff_t avail = sourceEnd - source;
  if (__builtin_expect(b0 < 0x80, 1))
    return avail >= 1;
  if (b0 < 0xC2)
    return false;
  if (b0 < 0xE0)
    return avail >= 2 && (source[1] & 0xC0) == 0x80;
  if (b0 < 0xF0) {
    if (avail < 3)
      return false;
    const unsigned b1 = source[1];
    return b1 >= (b0 == 0xE0 ? 0xA0u : 0x80u) &&
           b1 <= (b0 == 0xED ? 0x9Fu : 0xBFu) && (source[2] & 0xC0) == 0x80;
  }
  if (b0 > 0xF4 || avail < 4)
    return false;
  const unsigned b1 = source[1];
  return b1 >= (b0 == 0xF0 ? 0x90u : 0x80u) &&
         b1 <= (b0 == 0xF4 ? 0x8Fu : 0xBFu) && (source[2] & 0xC0) == 0x80 &&
         (source[3] & 0xC0) == 0x80;
}

} // inline namespace
} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_TEXT_CONVERT_IMPL_H
