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
// Every converter is one walk, `convert`, with the rules of its direction
// (Rules<S, T>), and follows one frame: it walks the source one character at a
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
//      most one wasted block. The public routines pass BestKernels and
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
#include "simd/widen.h"
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

// Writes the surrogate pair of `ch` (0x10000 to 0x10FFFF) at `t`.
inline void putPair(UTF32 ch, UTF16*& t) {
  const UTF32 v = ch - kHalfBase;
  *t++ = static_cast<UTF16>((v >> kHalfShift) + kSurHighStart);
  *t++ = static_cast<UTF16>((v & kHalfMask) + kSurLowStart);
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

// The units from n on, one at a time, while they are ASCII.
template <class S, class T>
inline std::size_t asciiTail(const S* s, T* t, std::size_t n, std::size_t avail) {
  for (; n < avail && s[n] < 0x80; ++n)
    t[n] = static_cast<T>(s[n]);
  return n;
}

#if defined(__SSE2__) && !defined(BRACKWELL_NO_SIMD)

template <class T>
inline std::size_t asciiRun(const UTF8* s, T* t, std::size_t avail) {
  std::size_t n = 0;
  if constexpr (sizeof(T) == 2) {
    for (; n + 32 <= avail; n += 32) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n));
      const __m128i b =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n + 16));
      if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0)
        break;
      widen16(a, t + n);
      widen16(b, t + n + 16);
    }
  }
  for (; n + 16 <= avail; n += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n));
    const int mask = _mm_movemask_epi8(a);
    if (mask != 0)
      return asciiTail(s, t, n, n + static_cast<unsigned>(__builtin_ctz(mask)));
    widen16(a, t + n);
  }
  return asciiTail(s, t, n, avail);
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
  return asciiTail(s, t, n, avail);
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
  return asciiTail(s, t, n, avail);
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
  return asciiTail(s, t, n, avail);
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

// Asks a converter to use the best kernel set, fetched only when a kernel
// is due (a short text never asks the dispatcher).
struct BestKernels {};

//===----------------------------------------------------------------------===//
// Per-character fast paths
//===----------------------------------------------------------------------===//

// Each converts the one character at `s` when it is well formed, needs no
// replacement and fits in the target, advancing both cursors, and returns
// true; otherwise it changes nothing and returns false, and the scalar step
// decides.

// UTF-8 to UTF-16 or UTF-32.
template <class T>
inline bool fastFromUTF8(const UTF8*& s, const UTF8* sEnd, T*& t, T* tEnd) {
  constexpr bool Pairs = sizeof(T) == 2;
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
  if constexpr (Pairs)
    putPair(ch, t);
  else
    *t++ = ch;
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

// Writes `ch` (a scalar value, or a surrogate that lenient mode keeps) when
// the target has room for all of its units; otherwise sets targetExhausted
// and returns false.
inline bool put(UTF32 ch, UTF8*& t, UTF8* tEnd, ConversionResult& result) {
  const std::ptrdiff_t length = utf8Length(ch);
  if (tEnd - t < length) {
    result = targetExhausted;
    return false;
  }
  t = encodeUTF8(ch, length, t);
  return true;
}
inline bool put(UTF32 ch, UTF16*& t, UTF16* tEnd, ConversionResult& result) {
  if (tEnd - t < (ch <= kMaxBMP ? 1 : 2)) {
    result = targetExhausted;
    return false;
  }
  if (ch <= kMaxBMP)
    *t++ = static_cast<UTF16>(ch);
  else
    putPair(ch, t);
  return true;
}
inline bool put(UTF32 ch, UTF32*& t, UTF32* tEnd, ConversionResult& result) {
  if (t >= tEnd) {
    result = targetExhausted;
    return false;
  }
  *t++ = ch;
  return true;
}

// The same for the per-character shortcuts: false, and nothing set, when
// the character does not fit.
inline bool fastPut(UTF32 ch, UTF8*& t, UTF8* tEnd) { return fastPutUTF8(ch, t, tEnd); }
template <class T> inline bool fastPut(UTF32 ch, T*& t, T* tEnd) {
  ConversionResult ignored;
  return put(ch, t, tEnd, ignored);
}

// The kernel of each direction in a KernelSet.
inline Utf8To16Kernel kernelOf(const KernelSet& k, UTF8, UTF16) { return k.utf8To16; }
inline Utf8To32Kernel kernelOf(const KernelSet& k, UTF8, UTF32) { return k.utf8To32; }
inline Utf16To8Kernel kernelOf(const KernelSet& k, UTF16, UTF8) { return k.utf16To8; }
inline Utf32To8Kernel kernelOf(const KernelSet& k, UTF32, UTF8) { return k.utf32To8; }
inline Utf16To32Kernel kernelOf(const KernelSet& k, UTF16, UTF32) { return k.utf16To32; }
inline Utf32To16Kernel kernelOf(const KernelSet& k, UTF32, UTF16) { return k.utf32To16; }

// Runs the kernel of the set `ks` (or of the best set, fetched only now),
// when it is due, from the walk's position; it advances both cursors past
// the blocks it converted.
template <class Ks, class S, class T>
inline void runKernel(Ks ks, const S*& s, const S* sEnd, T*& t, T* tEnd,
                      const S*& retry) {
  constexpr std::ptrdiff_t least = sizeof(S) == 1 ? kDecodeMin : kKernelMin;
  if (s < retry || sEnd - s < least)
    return;
  const KernelSet* set;
  if constexpr (std::is_same_v<Ks, BestKernels>)
    set = bestKernelSet();
  else
    set = ks;
  const auto k = set ? kernelOf(*set, S(), T()) : nullptr;
  if (k == nullptr)
    return;
  k(s, sEnd, t, tEnd);
  retry = sEnd - s > kKernelRetry ? s + kKernelRetry : sEnd;
}

// Copies a run of ASCII when at least kBlockMin units of source and target
// are left; true when that used up the source.
template <class S, class T>
inline bool asciiBlock(const S*& s, const S* sEnd, T*& t, T* tEnd) {
  if (sEnd - s < kBlockMin || tEnd - t < kBlockMin)
    return false;
  const std::size_t n = asciiRun(s, t, room(s, sEnd, t, tEnd));
  s += n;
  t += n;
  return s >= sEnd;
}

// The rules of one direction, by source unit (see convert below):
//   kAsciiFirst  ASCII runs are tried before the kernel;
//   runs         the block shortcut after the kernel; true when it used up
//                the source;
//   one, more    the per-character shortcut, taken while `more` says so;
//   step         the reference rule for one character: true when it was
//                converted (or dropped), false with the result set when
//                the walk stops there.
template <class S, class T> struct Rules;

template <class T> struct Rules<UTF8, T> {
  static constexpr bool kAsciiFirst = true;
  static bool runs(const UTF8*& s, const UTF8* sEnd, T*& t, T* tEnd) {
    if ((*s & 0xF0) != 0xE0)
      return false;
    threeByteRun(s, sEnd, t, tEnd);
    return s >= sEnd;
  }
  static bool one(const UTF8*& s, const UTF8* sEnd, T*& t, T* tEnd) {
    return fastFromUTF8(s, sEnd, t, tEnd);
  }
  // Back to the block paths once ASCII lies ahead.
  static bool more(const UTF8* s, const UTF8* sEnd) { return !asciiAhead(s, sEnd); }
  template <bool Fast>
  static bool step(const UTF8*& s, const UTF8* sEnd, T*& t, T* tEnd, bool,
                   ConversionResult& result) {
    const UTF8* next;
    UTF32 ch;
    result = readUTF8(&s, sEnd, &ch, &next);
    if (result != conversionOK)
      return false;
    if constexpr (Fast) {
      // `one` takes every well-formed sequence that fits, so the target is
      // short.
      result = targetExhausted;
      return false;
    } else {
      if (!put(ch, t, tEnd, result))
        return false;
      s = next;
      return true;
    }
  }
};

// UTF-16 and UTF-32 sources: into UTF-8 runs of ASCII are copied as blocks,
// and characters are taken one at a time until an ASCII unit may start one.
template <class S, class T> struct WideRules {
  static constexpr bool kAsciiFirst = false;
  static bool runs(const S*& s, const S* sEnd, T*& t, T* tEnd) {
    if constexpr (std::is_same_v<T, UTF8>)
      return asciiBlock(s, sEnd, t, tEnd);
    else
      return false;
  }
  static bool more(const S* s, const S*) {
    return std::is_same_v<T, UTF8> && *s >= 0x80;
  }
};

template <class T> struct Rules<UTF16, T> : WideRules<UTF16, T> {
  static bool one(const UTF16*& s, const UTF16* sEnd, T*& t, T* tEnd) {
    UTF32 ch;
    std::ptrdiff_t units;
    if (!fastReadUTF16(s, sEnd, ch, units) || !fastPut(ch, t, tEnd))
      return false;
    s += units;
    return true;
  }
  template <bool>
  static bool step(const UTF16*& s, const UTF16* sEnd, T*& t, T* tEnd,
                   bool lenient, ConversionResult& result) {
    const UTF16* next = s;
    UTF32 ch;
    result = readUTF16(&next, sEnd, lenient, &ch);
    if (result != conversionOK || !put(ch, t, tEnd, result))
      return false;
    s = next;
    return true;
  }
};

template <class T> struct Rules<UTF32, T> : WideRules<UTF32, T> {
  static bool one(const UTF32*& s, const UTF32*, T*& t, T* tEnd) {
    const UTF32 ch = *s;
    if (isSurrogate(ch) || ch > kMaxLegalUTF32 || !fastPut(ch, t, tEnd))
      return false;
    ++s;
    return true;
  }
  template <bool>
  static bool step(const UTF32*& s, const UTF32*, T*& t, T* tEnd,
                   bool lenient, ConversionResult& result) {
    constexpr bool toUTF16 = std::is_same_v<T, UTF16>;
    // Into UTF-16 the room is tested before the value is read.
    if (toUTF16 && t >= tEnd) {
      result = targetExhausted;
      return false;
    }
    UTF32 ch = *s;
    if (isSurrogate(ch)) {
      if (!lenient) {
        result = sourceIllegal;
        return false;
      }
      if (toUTF16) // into UTF-8 lenient mode encodes it as it is
        ch = kReplacementChar;
    } else if (ch > kMaxLegalUTF32) {
      // Into UTF-8 replaced in both modes and recorded; into UTF-16 lenient
      // mode replaces it, strict mode drops it and records it. Either way
      // the walk goes on.
      if (toUTF16 && !lenient) {
        result = sourceIllegal;
        ++s;
        return true;
      }
      if (!toUTF16)
        result = sourceIllegal;
      ch = kReplacementChar;
    }
    if (!put(ch, t, tEnd, result))
      return false;
    ++s;
    return true;
  }
};

// The walk of every converter: the shortcuts when Fast (see the banner),
// then the reference step for what they leave.
template <bool Fast, class S, class T, class Ks>
__attribute__((noinline)) ConversionResult
convert(const S** sourceStart, const S* sourceEnd, T** targetStart,
        T* targetEnd, ConversionFlags flags, Ks kernels) {
  using R = Rules<S, T>;
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const S* source = *sourceStart;
  T* target = *targetStart;
  [[maybe_unused]] const S* retry = source;
  while (source < sourceEnd) {
    if constexpr (Fast) {
      if constexpr (R::kAsciiFirst) {
        // A text that is all ASCII (most paths and names) is done before a
        // kernel would have set up its first window.
        if (asciiBlock(source, sourceEnd, target, targetEnd))
          break;
      }
      runKernel(kernels, source, sourceEnd, target, targetEnd, retry);
      if (source >= sourceEnd || R::runs(source, sourceEnd, target, targetEnd))
        break;
      bool taken;
      do
        taken = R::one(source, sourceEnd, target, targetEnd);
      while (taken && source < sourceEnd && R::more(source, sourceEnd));
      if (taken)
        continue;
    }
    if (!R::template step<Fast>(source, sourceEnd, target, targetEnd, lenient,
                                result))
      break;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

// The six directions: the converter's name here, the public routine's
// name (ConvertUTF.cpp), the source unit and the target unit.
#define BQ_DIRECTIONS(X)                                                       \
  X(utf32ToUTF16, ConvertUTF32toUTF16, UTF32, UTF16)                           \
  X(utf16ToUTF32, ConvertUTF16toUTF32, UTF16, UTF32)                           \
  X(utf16ToUTF8, ConvertUTF16toUTF8, UTF16, UTF8)                              \
  X(utf32ToUTF8, ConvertUTF32toUTF8, UTF32, UTF8)                              \
  X(utf8ToUTF16, ConvertUTF8toUTF16, UTF8, UTF16)                              \
  X(utf8ToUTF32, ConvertUTF8toUTF32, UTF8, UTF32)

// The converters by name: `ks` is the kernel set to use, or none.
#define BQ_CONVERTER(name, routine, S, T)                                      \
  template <bool Fast>                                                         \
  ConversionResult name(const S** sourceStart, const S* sourceEnd,             \
                        T** targetStart, T* targetEnd, ConversionFlags flags,  \
                        const KernelSet* ks = nullptr) {                       \
    return convert<Fast>(sourceStart, sourceEnd, targetStart, targetEnd,       \
                         flags, ks);                                           \
  }
BQ_DIRECTIONS(BQ_CONVERTER)
#undef BQ_CONVERTER

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
