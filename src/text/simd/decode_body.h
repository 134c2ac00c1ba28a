//===- text/simd/decode_body.h - The UTF-8 decoding kernel ------*- C++ -*-===//
//
// Internal to the library; not part of the API. Included only by the
// decode_*.cpp files, each of which defines BQ_DECODE_TARGET (its target
// attribute) and, for AVX2, BQ_DECODE_AVX2 first. Everything here has
// internal linkage and that file's target attribute, so each instruction
// set gets its own copy; the one helper shared with other files, widen16
// (widen.h), is SSE2 code that every file compiles alike.
//
// The kernel takes a window of 64 source bytes that starts on a character:
//   1. All ASCII: widened in one go.
//   2. Otherwise the window is validated whole (decode_tables.h: three
//      nibble lookups per byte pair, and continuations exactly where a lead
//      two or three places back asks for them). The bytes before the window
//      count as ASCII, which is right because the window starts on a
//      character. Any error, anywhere in the window, ends the kernel.
//   3. The window is cut after its last whole character; a character that
//      runs past the window's end is left to the next window, which starts
//      on its lead.
//   4. When the whole output fits before tEnd, the characters are decoded in
//      steps: 16 or 8 ASCII bytes widened; 24 bytes of three-byte characters
//      (8 CJK characters) or 12 bytes of two-byte ones by fixed shuffles; any
//      other 12 bytes by one look-up of their end-of-character mask
//      (decode_tables.h). A shuffle moves each character's bytes into a lane,
//      the payload mask of each byte's high nibble strips the marker bits,
//      and multiply-adds join the payloads.
// A step loads 16 bytes, so a full window needs 80 source bytes. A tail of
// 16 to 79 bytes is taken as a shorter window whose loads near sEnd fetch
// the last 16 bytes and shift them (zeros, which count as ASCII, fill the
// rest); below 16 bytes the per-character paths take over. The window's
// last stores write only whole units, so nothing after the returned target
// cursor is ever written.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_SIMD_DECODE_BODY_H
#define BRACKWELL_SRC_TEXT_SIMD_DECODE_BODY_H

#include "decode_tables.h"
#include "kernels.h"
#include "widen.h"

#include "intrinsics.h"

#include <cstddef>
#include <cstdint>

namespace Brackwell {
namespace detail {
namespace {

constexpr std::ptrdiff_t kWindow = 64;
constexpr std::ptrdiff_t kReach = kWindow + 16;

BQ_DECODE_TARGET inline __m128i load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// The 16 bytes at s + pos, of which only the first `readable` bytes at s
// exist when Tail: bytes at or past s + readable read as zero and are never
// loaded (the last 16 readable bytes are loaded and shifted down).
// Needs readable >= 16.
constexpr std::uint8_t kSlide[32] = {0,    1,    2,    3,    4,    5,    6,
                                     7,    8,    9,    10,   11,   12,   13,
                                     14,   15,   0x80, 0x80, 0x80, 0x80, 0x80,
                                     0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                     0x80, 0x80, 0x80, 0x80};
template <bool Tail>
BQ_DECODE_TARGET inline __m128i at(const UTF8* s, int readable, int pos) {
  if (!Tail || pos + 16 <= readable)
    return load(s + pos);
  if (pos >= readable)
    return _mm_setzero_si128();
  return _mm_shuffle_epi8(load(s + readable - 16),
                          load(kSlide + (pos + 16 - readable)));
}

BQ_DECODE_TARGET inline int count(std::uint64_t x) {
#ifdef BQ_DECODE_AVX2
  return __builtin_popcountll(x);
#else
  x -= (x >> 1) & 0x5555555555555555ULL;
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
#endif
}

// The bit masks of the window's bytes that are at least 0x80, that start a
// character (anything but 80-BF) and that are at least 0xF0.
struct WindowBits {
  std::uint64_t high, starts, threes, fours;
};

// Non-zero bytes where the bytes `cur` break a rule, given the bytes one,
// two and three places back (p1 to p3): three nibble lookups per byte pair
// (decode_tables.h), and bit 7 where a lead two places back (E0 and up:
// 0x80 and up after a saturating subtraction of 0x60) or three back (F0 and
// up) requires a continuation; pairs of continuations carry bit 7 too, so
// they cancel. One definition per vector width V: P is its intrinsics'
// prefix, S the suffix of their bitwise forms, and `table` loads a 16-byte
// table into every 128-bit lane.
#define BQ_RULE_ERRORS(V, P, S, table)                                         \
  BQ_DECODE_TARGET inline V ruleErrors(V cur, V p1, V p2, V p3) {             \
    const V nib = P##_set1_epi8(0x0F);                                         \
    const V pairs = P##_and_##S(                                               \
        P##_and_##S(P##_shuffle_epi8(table(kNibbleTables.prevHigh),            \
                                     P##_and_##S(P##_srli_epi16(p1, 4), nib)), \
                    P##_shuffle_epi8(table(kNibbleTables.prevLow),             \
                                     P##_and_##S(p1, nib))),                   \
        P##_shuffle_epi8(table(kNibbleTables.curHigh),                         \
                         P##_and_##S(P##_srli_epi16(cur, 4), nib)));           \
    const V need = P##_and_##S(P##_or_##S(P##_subs_epu8(p2, P##_set1_epi8(0x60)), \
                                          P##_subs_epu8(p3, P##_set1_epi8(0x70))), \
                               P##_set1_epi8(static_cast<char>(0x80)));        \
    return P##_xor_##S(pairs, need);                                           \
  }

// Each 32-bit value of v above the BMP as its surrogate pair, the high unit
// in the lane's low half and the low unit in its high half; for one vector
// width V, as BQ_RULE_ERRORS.
#define BQ_PAIR_LANES(V, P, S)                                                 \
  BQ_DECODE_TARGET inline V pairLanes(V v) {                                   \
    return P##_or_##S(                                                         \
        P##_add_epi32(P##_srli_epi32(v, 10), P##_set1_epi32(0xD7C0)),          \
        P##_slli_epi32(P##_or_##S(P##_and_##S(v, P##_set1_epi32(0x3FF)),       \
                                  P##_set1_epi32(0xDC00)),                     \
                       16));                                                   \
  }
BQ_PAIR_LANES(__m128i, _mm, si128)

#ifdef BQ_DECODE_AVX2

BQ_DECODE_TARGET inline std::uint64_t bits(__m256i a, __m256i b) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(a)) |
         static_cast<std::uint64_t>(
             static_cast<std::uint32_t>(_mm256_movemask_epi8(b)))
             << 32;
}

BQ_DECODE_TARGET inline __m256i table(const std::uint8_t (&t)[16]) {
  return _mm256_broadcastsi128_si256(load(t));
}

BQ_RULE_ERRORS(__m256i, _mm256, si256, table)

// Non-zero bytes where the 32 bytes `cur` (after `prev`) break a rule.
BQ_DECODE_TARGET inline __m256i errors(__m256i cur, __m256i prev) {
  const __m256i before = _mm256_permute2x128_si256(prev, cur, 0x21);
  return ruleErrors(cur, _mm256_alignr_epi8(cur, before, 15),
                    _mm256_alignr_epi8(cur, before, 14),
                    _mm256_alignr_epi8(cur, before, 13));
}

template <class T> BQ_DECODE_TARGET inline void widen32(__m256i x, T* t) {
  __m256i* d = reinterpret_cast<__m256i*>(t);
  const __m128i lo = _mm256_castsi256_si128(x);
  const __m128i hi = _mm256_extracti128_si256(x, 1);
  if constexpr (sizeof(T) == 2) {
    _mm256_storeu_si256(d, _mm256_cvtepu8_epi16(lo));
    _mm256_storeu_si256(d + 1, _mm256_cvtepu8_epi16(hi));
  } else {
    _mm256_storeu_si256(d, _mm256_cvtepu8_epi32(lo));
    _mm256_storeu_si256(d + 1, _mm256_cvtepu8_epi32(_mm_srli_si128(lo, 8)));
    _mm256_storeu_si256(d + 2, _mm256_cvtepu8_epi32(hi));
    _mm256_storeu_si256(d + 3, _mm256_cvtepu8_epi32(_mm_srli_si128(hi, 8)));
  }
}

// Loads the window at s: `ascii` when it is all ASCII; otherwise validates
// it (false on any error) and fills `w`.
template <bool Tail>
BQ_DECODE_TARGET inline bool prepare(const UTF8* s, int readable,
                                     WindowBits& w, bool& ascii) {
  const __m256i a =
      Tail ? _mm256_set_m128i(at<Tail>(s, readable, 16), at<Tail>(s, readable, 0))
           : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
  const __m256i b =
      Tail ? _mm256_set_m128i(at<Tail>(s, readable, 48), at<Tail>(s, readable, 32))
           : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32));
  ascii = _mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0;
  if (ascii)
    return true;
  const __m256i err =
      _mm256_or_si256(errors(a, _mm256_setzero_si256()), errors(b, a));
  if (!_mm256_testz_si256(err, err))
    return false;
  const __m256i contBelow = _mm256_set1_epi8(-64); // 0xC0
  const __m256i four = _mm256_set1_epi8(static_cast<char>(0xF0));
  const __m256i three = _mm256_set1_epi8(static_cast<char>(0xE0));
  w.high = bits(a, b);
  w.threes = bits(_mm256_cmpeq_epi8(_mm256_max_epu8(a, three), a),
                  _mm256_cmpeq_epi8(_mm256_max_epu8(b, three), b));
  w.starts = ~bits(_mm256_cmpgt_epi8(contBelow, a), _mm256_cmpgt_epi8(contBelow, b));
  w.fours = bits(_mm256_cmpeq_epi8(_mm256_max_epu8(a, four), a),
                 _mm256_cmpeq_epi8(_mm256_max_epu8(b, four), b));
  return true;
}

// Widens 64 ASCII bytes to 64 units at t.
template <class T> BQ_DECODE_TARGET inline void widen64(const UTF8* s, T* t) {
  widen32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)), t);
  widen32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32)), t + 32);
}

#else // SSSE3 / SSE4.1

BQ_DECODE_TARGET inline std::uint64_t bits(__m128i a, __m128i b, __m128i c,
                                           __m128i d) {
  return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(a))) |
         static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(b))) << 16 |
         static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(c))) << 32 |
         static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(d))) << 48;
}

BQ_RULE_ERRORS(__m128i, _mm, si128, load)

// Non-zero bytes where the 16 bytes `cur` (after `prev`) break a rule.
BQ_DECODE_TARGET inline __m128i errors(__m128i cur, __m128i prev) {
  return ruleErrors(cur, _mm_alignr_epi8(cur, prev, 15),
                    _mm_alignr_epi8(cur, prev, 14),
                    _mm_alignr_epi8(cur, prev, 13));
}

template <bool Tail>
BQ_DECODE_TARGET inline bool prepare(const UTF8* s, int readable,
                                     WindowBits& w, bool& ascii) {
  const __m128i x0 = at<Tail>(s, readable, 0), x1 = at<Tail>(s, readable, 16),
                x2 = at<Tail>(s, readable, 32), x3 = at<Tail>(s, readable, 48);
  ascii = _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(x0, x1),
                                         _mm_or_si128(x2, x3))) == 0;
  if (ascii)
    return true;
  const __m128i zero = _mm_setzero_si128();
  const __m128i err =
      _mm_or_si128(_mm_or_si128(errors(x0, zero), errors(x1, x0)),
                   _mm_or_si128(errors(x2, x1), errors(x3, x2)));
  if (!_mm_testz_si128(err, err))
    return false;
  const __m128i contBelow = _mm_set1_epi8(-64); // 0xC0
  const __m128i four = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i three = _mm_set1_epi8(static_cast<char>(0xE0));
  w.high = bits(x0, x1, x2, x3);
  w.threes = bits(_mm_cmpeq_epi8(_mm_max_epu8(x0, three), x0),
                  _mm_cmpeq_epi8(_mm_max_epu8(x1, three), x1),
                  _mm_cmpeq_epi8(_mm_max_epu8(x2, three), x2),
                  _mm_cmpeq_epi8(_mm_max_epu8(x3, three), x3));
  w.starts = ~bits(_mm_cmpgt_epi8(contBelow, x0), _mm_cmpgt_epi8(contBelow, x1),
                   _mm_cmpgt_epi8(contBelow, x2), _mm_cmpgt_epi8(contBelow, x3));
  w.fours = bits(_mm_cmpeq_epi8(_mm_max_epu8(x0, four), x0),
                 _mm_cmpeq_epi8(_mm_max_epu8(x1, four), x1),
                 _mm_cmpeq_epi8(_mm_max_epu8(x2, four), x2),
                 _mm_cmpeq_epi8(_mm_max_epu8(x3, four), x3));
  return true;
}

template <class T> BQ_DECODE_TARGET inline void widen64(const UTF8* s, T* t) {
  for (int k = 0; k < 4; ++k)
    widen16(load(s + 16 * k), t + 16 * k);
}

#endif

// Stores the first n units of v at t: the whole vector when it ends at or
// before `limit` (the end of the window's output), else only the n units.
template <class T>
BQ_DECODE_TARGET inline void put(T* t, __m128i v, int n, T* limit) {
  constexpr std::ptrdiff_t per = 16 / sizeof(T);
  if (limit - t >= per) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t), v);
    return;
  }
  int bytes = n * static_cast<int>(sizeof(T));
  char* d = reinterpret_cast<char*>(t);
  if (bytes >= 8) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), v);
    v = _mm_srli_si128(v, 8);
    d += 8;
    bytes -= 8;
  }
  if (bytes >= 4) {
    const int w = _mm_cvtsi128_si32(v);
    __builtin_memcpy(d, &w, 4);
    v = _mm_srli_si128(v, 4);
    d += 4;
    bytes -= 4;
  }
  if (bytes >= 2) {
    const short h = static_cast<short>(_mm_cvtsi128_si32(v));
    __builtin_memcpy(d, &h, 2);
  }
}

// Joins the payloads of the characters that `shuffle` moved into lanes:
// 16-bit lanes (two bytes at most) or, with `wide`, 32-bit lanes.
BQ_DECODE_TARGET inline __m128i payloads(__m128i in, __m128i shuffle) {
  const __m128i b = _mm_shuffle_epi8(in, shuffle);
  const __m128i mask = _mm_shuffle_epi8(
      load(kPayloadMasks.v), _mm_and_si128(_mm_srli_epi16(b, 4), _mm_set1_epi8(0x0F)));
  return _mm_maddubs_epi16(_mm_and_si128(b, mask), _mm_set1_epi16(0x4001));
}
BQ_DECODE_TARGET inline __m128i join32(__m128i v16) {
  return _mm_madd_epi16(v16, _mm_set1_epi32(0x10000001));
}

// Writes the first n of eight 16-bit values.
template <class T>
BQ_DECODE_TARGET inline void put16(T* t, __m128i v, int n, T* limit) {
  if constexpr (sizeof(T) == 2) {
    put(t, v, n, limit);
  } else {
    const __m128i zero = _mm_setzero_si128();
    put(t, _mm_unpacklo_epi16(v, zero), n < 4 ? n : 4, limit);
    if (n > 4)
      put(t + 4, _mm_unpackhi_epi16(v, zero), n - 4, limit);
  }
}

// Decodes 16 bytes of one- and two-byte characters starting on a
// character; `ends` marks the bytes that end one (bit 15 is clear when the
// last byte leads a character that goes on). Returns the units written.
template <class T>
BQ_DECODE_TARGET inline int twoByteRun(__m128i x, unsigned ends, T* t,
                                       T* limit) {
  const __m128i prev = _mm_slli_si128(x, 1);
  const __m128i cont = _mm_cmpgt_epi8(_mm_set1_epi8(-64), x);
  // A continuation's unit: the lead's five bits and its own six.
  const __m128i lo = _mm_blendv_epi8(
      x,
      _mm_or_si128(_mm_and_si128(x, _mm_set1_epi8(0x3F)),
                   _mm_slli_epi16(_mm_and_si128(prev, _mm_set1_epi8(0x03)), 6)),
      cont);
  const __m128i hi =
      _mm_and_si128(_mm_and_si128(_mm_srli_epi16(prev, 2), _mm_set1_epi8(0x07)), cont);
  const unsigned m0 = ends & 0xFF, m1 = ends >> 8 & 0xFF;
  const int n0 = kCompress.count[m0], n1 = kCompress.count[m1];
  put16(t, _mm_shuffle_epi8(_mm_unpacklo_epi8(lo, hi), load(kCompress.shuffle[m0])),
        n0, limit);
  put16(t + n0,
        _mm_shuffle_epi8(_mm_unpackhi_epi8(lo, hi), load(kCompress.shuffle[m1])),
        n1, limit);
  return n0 + n1;
}

// Writes four or fewer 32-bit values below 0x10000 (16-bit output: packed).
template <class T>
BQ_DECODE_TARGET inline void putBMP(T* t, __m128i v32, int n, T* limit) {
  if constexpr (sizeof(T) == 2)
    put(t, _mm_packus_epi32(v32, v32), n, limit);
  else
    put(t, v32, n, limit);
}

// Converts the window at s into t; returns the bytes consumed, or 0 when
// the window is not taken. Without Tail, 80 bytes at s are readable and the
// window has 64; with Tail, `readable` (16 to 79) bytes are, and the window
// has at most 64 of them.
template <bool Tail, class T>
BQ_DECODE_TARGET inline int window(const UTF8* s, int readable, T*& tRef,
                                   T* tEnd) {
  const int avail = Tail && readable < kWindow ? readable : kWindow;
  constexpr bool kPairs = sizeof(T) == 2;
  T* t = tRef;
  const __m128i zero = _mm_setzero_si128();
  // The fixed shuffles of 12 bytes of three-byte or of two-byte characters.
  const __m128i three =
      load(kDecodeTables.patterns[kDecodeTables.index[0x924]].shuffle);
  const __m128i two =
      load(kDecodeTables.patterns[kDecodeTables.index[0xAAA]].shuffle);
  WindowBits w;
  bool ascii;
  if (!prepare<Tail>(s, readable, w, ascii))
    return 0;
  if (ascii) {
    if (tEnd - t < avail)
      return 0;
    if (avail == kWindow) {
      widen64(s, t);
    } else {
      // 16 to 63 bytes: whole vectors, then the last 16 bytes again (the
      // units they overlap are written twice, with the same values).
      int pos = 0;
      for (; pos + 16 <= avail; pos += 16)
        widen16(load(s + pos), t + pos);
      if (pos < avail)
        widen16(load(s + avail - 16), t + avail - 16);
    }
    tRef = t + avail;
    return avail;
  }
  // The last character ends with the window or is left to the next one.
  const std::uint64_t inside = avail == kWindow ? ~0ULL : (1ULL << avail) - 1;
  const std::uint64_t starts = w.starts & inside;
  const int last = 63 - __builtin_clzll(starts);
  const UTF8 lead = s[last];
  const int n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  const int len = last + n == avail ? avail : last;
  const std::uint64_t keep = len == kWindow ? ~0ULL : (1ULL << len) - 1;
  const std::uint64_t ends = ((w.starts >> 1) | 1ULL << 63) & keep;
  const std::ptrdiff_t need = count(ends) + (kPairs ? count(w.fours & keep) : 0);
  if (tEnd - t < need)
    return 0;
  T* const limit = t + need;
  {
    int pos = 0;
    while (pos < len) {
      const std::uint64_t rest = ends >> pos;
      const int left = len - pos;
      if (left >= 16 && (w.high >> pos & 0xFFFF) == 0) {
        widen16(at<Tail>(s, readable, pos), t);
        pos += 16;
        t += 16;
        continue;
      }
      if (left >= 16 && (w.threes >> pos & 0xFFFF) == 0) {
        const unsigned e = static_cast<unsigned>(rest & 0xFFFF);
        t += twoByteRun(at<Tail>(s, readable, pos), e, t, limit);
        pos += 15 + static_cast<int>(e >> 15);
        continue;
      }
      if (left >= 8 && (w.high >> pos & 0xFF) == 0) {
        __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + pos));
        x = _mm_unpacklo_epi8(x, zero);
        if constexpr (kPairs) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(t), x);
        } else {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(t), _mm_unpacklo_epi16(x, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 4), _mm_unpackhi_epi16(x, zero));
        }
        pos += 8;
        t += 8;
        continue;
      }
      if ((rest & 0xFFFFFF) == 0x924924 && left >= 24) {
        const __m128i a = join32(payloads(at<Tail>(s, readable, pos), three));
        const __m128i b =
            join32(payloads(at<Tail>(s, readable, pos + 12), three));
        if constexpr (kPairs) {
          put(t, _mm_packus_epi32(a, b), 8, limit);
        } else {
          put(t, a, 4, limit);
          put(t + 4, b, 4, limit);
        }
        pos += 24;
        t += 8;
        continue;
      }
      if ((rest & 0xFFF) == 0x924) {
        putBMP(t, join32(payloads(at<Tail>(s, readable, pos), three)), 4, limit);
        pos += 12;
        t += 4;
        continue;
      }
      const DecodePattern& p =
          kDecodeTables.patterns[kDecodeTables.index[rest & 0xFFF]];
      const bool twos = (rest & 0xFFF) == 0xAAA;
      const __m128i v16 =
          payloads(at<Tail>(s, readable, pos), twos ? two : load(p.shuffle));
      if (twos || p.kind == 1) {
        if constexpr (kPairs) {
          put(t, v16, 6, limit);
        } else {
          put(t, _mm_unpacklo_epi16(v16, zero), 4, limit);
          put(t + 4, _mm_unpackhi_epi16(v16, zero), 2, limit);
        }
        pos += twos ? 12 : p.consumed;
        t += 6;
        continue;
      }
      pos += p.consumed;
      const __m128i v32 = join32(v16);
      if (!kPairs || p.kind == 2) {
        putBMP(t, v32, p.count, limit);
        t += p.count;
        continue;
      }
      // Values above the BMP become pairs: high unit in the lane's low
      // half, low unit in its high half; then the units are lined up.
      const __m128i big = _mm_cmpgt_epi32(v32, _mm_set1_epi32(0xFFFF));
      const __m128i pair = pairLanes(v32);
      const int m = _mm_movemask_ps(_mm_castsi128_ps(big));
      const int units = p.count + kCompress.count[m];
      put(t, _mm_shuffle_epi8(_mm_blendv_epi8(v32, pair, big), load(kPairShuffles.shuffle[m])),
          units, limit);
      t += units;
    }
  }
  tRef = t;
  return len;
}

// Below this many bytes the tail is left to the per-character paths.
constexpr std::ptrdiff_t kTailMin = 16;

// Converts windows while kTailMin bytes are left: window(s, left, t, tEnd)
// converts the window at s, of which `left` bytes are readable, and
// returns the bytes it consumed, 0 when it takes none.
template <class T, class Window>
BQ_DECODE_TARGET inline void decodeWindows(const UTF8*& sRef, const UTF8* sEnd,
                                           T*& tRef, T* tEnd, Window window) {
  const UTF8* s = sRef;
  T* t = tRef;
  for (std::ptrdiff_t n; (n = sEnd - s) >= kTailMin;) {
    const int used = window(s, n, t, tEnd);
    if (used == 0)
      break;
    s += used;
  }
  sRef = s;
  tRef = t;
}

// The windows of this header: a full one while kReach bytes are readable,
// then the tail, whose loads stop at sEnd (the last 16 bytes, shifted).
struct BodyWindow {
  template <class T>
  BQ_DECODE_TARGET int operator()(const UTF8* s, std::ptrdiff_t left, T*& t,
                                  T* tEnd) const {
    return left >= kReach ? window<false>(s, kReach, t, tEnd)
                          : window<true>(s, static_cast<int>(left), t, tEnd);
  }
};

} // namespace
} // namespace detail
} // namespace Brackwell

// The two entry points of kernels.h for one instruction set, `set`Utf8To16
// and `set`Utf8To32, each converting the windows of the type `Window`.
#define BQ_DECODE_ENTRY_POINTS(set, Window)                                    \
  namespace Brackwell {                                                        \
  namespace detail {                                                           \
  BQ_DECODE_TARGET void set##Utf8To16(const UTF8*& s, const UTF8* sEnd,        \
                                      UTF16*& t, UTF16* tEnd) {                \
    decodeWindows(s, sEnd, t, tEnd, Window{});                                 \
  }                                                                            \
  BQ_DECODE_TARGET void set##Utf8To32(const UTF8*& s, const UTF8* sEnd,        \
                                      UTF32*& t, UTF32* tEnd) {                \
    decodeWindows(s, sEnd, t, tEnd, Window{});                                 \
  }                                                                            \
  }                                                                            \
  }

#endif // BRACKWELL_SRC_TEXT_SIMD_DECODE_BODY_H
