//===- text/simd/encode_avx2.cpp - Encoding kernels, AVX2 -----------------===//
//
// UTF-16 and UTF-32 to UTF-8, UTF-16 to UTF-32 and UTF-32 to UTF-16, sixteen
// source units (one or two 32-byte registers) per step.
//
// The method is the one of encode_sse.cpp on twice the width: every unit
// gets a lane holding its UTF-8 bytes in the layout of encode_common.h, and
// each 16-byte half is squeezed by its own shuffle, since byte shuffles do
// not cross the halves. Output goes through the staging area of
// encode_common.h, so nothing after the returned target cursor is touched.
//
//===----------------------------------------------------------------------===//
#if defined(__x86_64__)

#include "text/simd/kernels.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#define BQ_TARGET_AVX2 __attribute__((target("avx2,bmi2")))
#define BQ_ENCODE_TARGET BQ_TARGET_AVX2
#include "text/simd/encode_body.h"

namespace Brackwell {
namespace detail {
namespace {

// Constants. Left to itself, GCC rebuilds each one at every use inside the
// loop (a move to a general register and a broadcast); reading it from a
// table whose address it cannot see makes a use one load, most often folded
// into the instruction that needs it. Clang keeps them in registers.
template <std::uint32_t V> BQ_TARGET_AVX2 inline __m256i splat32() {
#if defined(__clang__)
  return _mm256_set1_epi32(static_cast<int>(V));
#else
  const void* p = Splat<V>::v;
  __asm__("" : "+r"(p));
  return _mm256_load_si256(static_cast<const __m256i*>(p));
#endif
}

template <std::uint16_t V> BQ_TARGET_AVX2 inline __m256i splat16() {
  return splat32<V | std::uint32_t{V} << 16>();
}

BQ_TARGET_AVX2 inline __m256i load(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

BQ_TARGET_AVX2 inline void store(void* p, __m256i v) {
  _mm256_storeu_si256(static_cast<__m256i*>(p), v);
}

BQ_TARGET_AVX2 inline void store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// Two 16-byte patterns, one per half.
BQ_TARGET_AVX2 inline __m256i patterns(const BytePattern& lo,
                                       const BytePattern& hi) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(
          _mm_load_si128(reinterpret_cast<const __m128i*>(lo.b))),
      _mm_load_si128(reinterpret_cast<const __m128i*>(hi.b)), 1);
}

BQ_TARGET_AVX2 inline bool allOnes(__m256i m) {
  return _mm256_movemask_epi8(m) == -1;
}

BQ_TARGET_AVX2 inline bool none(__m256i m) {
  return _mm256_testz_si256(m, m) != 0;
}

// One bit per 16-bit lane of a lane mask, unit j at bit j.
BQ_TARGET_AVX2 inline unsigned bits16(__m256i m) {
  const unsigned b = static_cast<unsigned>(
      _mm256_movemask_epi8(_mm256_packs_epi16(m, _mm256_setzero_si256())));
  return (b & 0xFF) | (b >> 8 & 0xFF00);
}

// Lanes of 32-bit values that are scalar values (not surrogates, at most
// 0x10FFFF).
BQ_TARGET_AVX2 inline __m256i scalar32(__m256i v) {
  const __m256i d = _mm256_sub_epi32(v, splat32<0xD800>());
  const __m256i sur =
      _mm256_cmpeq_epi32(_mm256_min_epu32(d, splat32<0x7FF>()), d);
  const __m256i inRange =
      _mm256_cmpeq_epi32(_mm256_min_epu32(v, splat32<0x10FFFF>()), v);
  return _mm256_andnot_si256(sur, inRange);
}

// Lanes of 32-bit values below the surrogates (at most 0xD7FF).
BQ_TARGET_AVX2 inline __m256i belowSurrogates(__m256i v) {
  return _mm256_cmpeq_epi32(_mm256_min_epu32(v, splat32<0xD7FF>()), v);
}

// Packs two registers of 32-bit values below 0x10000 into sixteen 16-bit
// units, in order.
BQ_TARGET_AVX2 inline __m256i pack32(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
}

// Stores four squeezed 16-byte vectors one after the other at `out`, each
// as long as its kCompress32 pattern (i0 to i3) says; returns the byte
// count.
BQ_TARGET_AVX2 BQ_ALWAYS_INLINE std::size_t
storeSqueezed(std::uint8_t* out, __m128i v0, __m128i v1, __m128i v2,
              __m128i v3, unsigned i0, unsigned i1, unsigned i2, unsigned i3) {
  std::size_t at = 0;
  store(out, v0);
  at += kCompress32.length[i0];
  store(out + at, v1);
  at += kCompress32.length[i1];
  store(out + at, v2);
  at += kCompress32.length[i2];
  store(out + at, v3);
  return at + kCompress32.length[i3];
}

// Encodes the sixteen UTF-16 units `u` as UTF-8 at `out` (which has room for
// 64 bytes) and returns how many units it took: 16, or 15 when unit 15 is a
// high surrogate (its pair is left for the next block), or 0 when the block
// holds an unpaired surrogate, or any surrogate unless `Pairs` (UTF-32 input
// packed to 16 bits). `len` receives the byte count.
template <bool Pairs>
BQ_TARGET_AVX2 BQ_ALWAYS_INLINE int encode16(__m256i u, std::uint8_t* out,
                                             std::size_t& len) {
  const __m256i biased = _mm256_xor_si256(u, splat16<0x8000>());
  const __m256i ge80 = _mm256_cmpgt_epi16(biased, splat16<0x807F>());
  __m256i ge800 = _mm256_cmpgt_epi16(biased, splat16<0x87FF>());
  const __m256i last6 =
      _mm256_or_si256(_mm256_and_si256(u, splat16<0x3F>()), splat16<0x80>());

  if (none(ge800)) {
    // One or two bytes each (ASCII too: a branch for it costs more in
    // accented text than it saves).
    const __m256i lead2 =
        _mm256_or_si256(_mm256_srli_epi16(u, 6), splat16<0xC0>());
    const __m256i two = _mm256_or_si256(last6, _mm256_slli_epi16(lead2, 8));
    const __m256i lanes = _mm256_blendv_epi8(u, two, ge80);
    const unsigned m = bits16(ge80);
    const __m256i packed =
        _mm256_shuffle_epi8(lanes, patterns(kCompress16.pattern[m & 0xFF],
                                            kCompress16.pattern[m >> 8]));
    const std::size_t l0 = kCompress16.length[m & 0xFF];
    store(out, _mm256_castsi256_si128(packed));
    store(out + l0, _mm256_extracti128_si256(packed, 1));
    len = l0 + kCompress16.length[m >> 8];
    return 16;
  }

  const __m256i mid6 = _mm256_or_si256(
      _mm256_and_si256(_mm256_srli_epi16(u, 6), splat16<0x3F>()),
      splat16<0x80>());
  const __m256i hi = _mm256_or_si256(_mm256_srli_epi16(u, 12), splat16<0xE0>());
  const __m256i sur = _mm256_cmpeq_epi16(_mm256_and_si256(u, splat16<0xF800>()),
                                         splat16<0xD800>());
  if (allOnes(ge800) && none(sur)) {
    // Three bytes each, the common case of CJK text. Units 0-3 and 8-11
    // are in `a`, 4-7 and 12-15 in `b`.
    const __m256i lo3 = _mm256_or_si256(last6, _mm256_slli_epi16(mid6, 8));
    const BytePattern& p3 = kCompress32.pattern[0xAA];
    const __m256i all3 = patterns(p3, p3);
    const __m256i a = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(lo3, hi), all3);
    const __m256i b = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(lo3, hi), all3);
    store(out, _mm256_castsi256_si128(a));
    store(out + 12, _mm256_castsi256_si128(b));
    store(out + 24, _mm256_extracti128_si256(a, 1));
    store(out + 36, _mm256_extracti128_si256(b, 1));
    len = 48;
    return 16;
  }

  const __m256i lead2 =
      _mm256_or_si256(_mm256_srli_epi16(u, 6), splat16<0xC0>());
  __m256i lo = _mm256_blendv_epi8(
      u,
      _mm256_or_si256(
          last6, _mm256_slli_epi16(_mm256_blendv_epi8(lead2, mid6, ge800), 8)),
      ge80);
  int n = 16;
  if (!none(sur)) {
    if (!Pairs) {
      len = 0;
      return 0;
    }
    const __m256i top6 = _mm256_and_si256(u, splat16<0xFC00>());
    const __m256i high = _mm256_cmpeq_epi16(top6, splat16<0xD800>());
    const __m256i low = _mm256_cmpeq_epi16(top6, splat16<0xDC00>());
    unsigned h = bits16(high);
    const unsigned l = bits16(low);
    n = unitsTaken(h, 16);
    if (l != h << 1) {
      len = 0;
      return 0;
    }
    // w = the top 11 bits of the scalar value, (high & 0x3FF) + 0x40. The
    // high lane holds the first two bytes, the low lane the last two.
    const __m256i w = _mm256_add_epi16(_mm256_and_si256(u, splat16<0x3FF>()),
                                       splat16<0x40>());
    const __m256i highPart = _mm256_or_si256(
        _mm256_or_si256(
            _mm256_and_si256(_mm256_srli_epi16(w, 2), splat16<0x3F>()),
            splat16<0x80>()),
        _mm256_slli_epi16(
            _mm256_or_si256(_mm256_srli_epi16(w, 8), splat16<0xF0>()), 8));
    // w of the unit before, across the middle of the register.
    const __m256i wPrev =
        _mm256_alignr_epi8(w, _mm256_permute2x128_si256(w, w, 0x08), 14);
    const __m256i third = _mm256_or_si256(
        _mm256_or_si256(
            _mm256_slli_epi16(_mm256_and_si256(wPrev, splat16<3>()), 4),
            _mm256_and_si256(_mm256_srli_epi16(u, 6), splat16<0xF>())),
        splat16<0x80>());
    const __m256i lowPart = _mm256_or_si256(last6, _mm256_slli_epi16(third, 8));
    lo = _mm256_blendv_epi8(lo, highPart, high);
    lo = _mm256_blendv_epi8(lo, lowPart, low);
    ge800 = _mm256_andnot_si256(sur, ge800);
  }

  // Two bits per unit: bit 2j set for two bytes, bit 2j+1 for three. Byte k
  // of `idx` describes units 4k to 4k+3.
  const __m256i cls =
      _mm256_xor_si256(_mm256_and_si256(ge80, splat16<0x00FF>()), ge800);
  const unsigned idx = static_cast<unsigned>(_mm256_movemask_epi8(cls));
  const unsigned i0 = idx & 0xFF, i1 = idx >> 8 & 0xFF, i2 = idx >> 16 & 0xFF,
                 i3 = idx >> 24;
  const __m256i a = _mm256_shuffle_epi8(
      _mm256_unpacklo_epi16(lo, hi),
      patterns(kCompress32.pattern[i0], kCompress32.pattern[i2]));
  const __m256i b = _mm256_shuffle_epi8(
      _mm256_unpackhi_epi16(lo, hi),
      patterns(kCompress32.pattern[i1], kCompress32.pattern[i3]));
  len = storeSqueezed(out, _mm256_castsi256_si128(a), _mm256_castsi256_si128(b),
                      _mm256_extracti128_si256(a, 1),
                      _mm256_extracti128_si256(b, 1), i0, i1, i2, i3) -
        (n == 15 ? 2 : 0);
  return n;
}

// The UTF-8 lanes of eight scalar values: every byte as a continuation byte
// of its 6-bit field, then the lead marker added to the top field of each
// length; ASCII lanes keep the value itself.
BQ_TARGET_AVX2 inline __m256i wideLanes(__m256i v, __m256i m80, __m256i m800,
                                        __m256i m10000) {
  __m256i x = _mm256_or_si256(_mm256_and_si256(v, splat32<0x3F>()),
                              splat32<0x80808080>());
  x = _mm256_or_si256(
      x, _mm256_and_si256(_mm256_slli_epi32(v, 2), splat32<0x3F00>()));
  x = _mm256_or_si256(
      x, _mm256_and_si256(_mm256_slli_epi32(v, 4), splat32<0x3F0000>()));
  x = _mm256_or_si256(
      x, _mm256_and_si256(_mm256_slli_epi32(v, 6), splat32<0x3F000000>()));
  __m256i mark =
      _mm256_blendv_epi8(splat32<0x4000>(), splat32<0x600000>(), m800);
  mark = _mm256_blendv_epi8(mark, splat32<0x70000000>(), m10000);
  return _mm256_blendv_epi8(v, _mm256_or_si256(x, mark), m80);
}

// Encodes sixteen UTF-32 scalar values (a, b), some above 0xFFFF, as UTF-8
// at `out`; returns the byte count.
BQ_TARGET_AVX2 BQ_ALWAYS_INLINE std::size_t encodeWide16(__m256i a, __m256i b,
                                                         std::uint8_t* out) {
  const __m256i a80 = _mm256_cmpgt_epi32(a, splat32<0x7F>());
  const __m256i b80 = _mm256_cmpgt_epi32(b, splat32<0x7F>());
  const __m256i a800 = _mm256_cmpgt_epi32(a, splat32<0x7FF>());
  const __m256i b800 = _mm256_cmpgt_epi32(b, splat32<0x7FF>());
  const __m256i a10000 = _mm256_cmpgt_epi32(a, splat32<0xFFFF>());
  const __m256i b10000 = _mm256_cmpgt_epi32(b, splat32<0xFFFF>());
  // Packing interleaves the halves: byte 0 of `idx` describes units 0-3,
  // byte 1 units 8-11, byte 2 units 4-7, byte 3 units 12-15.
  const __m256i p80 = _mm256_packs_epi32(a80, b80);
  const __m256i p800 = _mm256_packs_epi32(a800, b800);
  const __m256i p10000 = _mm256_packs_epi32(a10000, b10000);
  const __m256i cls = _mm256_or_si256(
      _mm256_and_si256(_mm256_xor_si256(_mm256_xor_si256(p80, p800), p10000),
                       splat16<0x00FF>()),
      _mm256_and_si256(p800, splat16<0xFF00>()));
  const unsigned idx = static_cast<unsigned>(_mm256_movemask_epi8(cls));
  const unsigned i0 = idx & 0xFF, i1 = idx >> 8 & 0xFF, i2 = idx >> 16 & 0xFF,
                 i3 = idx >> 24;
  const __m256i x = _mm256_shuffle_epi8(
      wideLanes(a, a80, a800, a10000),
      patterns(kCompress32.pattern[i0], kCompress32.pattern[i2]));
  const __m256i y = _mm256_shuffle_epi8(
      wideLanes(b, b80, b800, b10000),
      patterns(kCompress32.pattern[i1], kCompress32.pattern[i3]));
  return storeSqueezed(out, _mm256_castsi256_si128(x),
                       _mm256_extracti128_si256(x, 1), _mm256_castsi256_si128(y),
                       _mm256_extracti128_si256(y, 1), i0, i2, i1, i3);
}

// For each 8-bit mask of 32-bit lanes to keep, the lane indices that move
// them to the front, in order.
struct CompressDwordsTable {
  alignas(32) std::uint32_t index[256][8];
  constexpr CompressDwordsTable() : index() {
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int j = 0; j < 8; ++j)
        if (m >> j & 1)
          index[m][n++] = static_cast<std::uint32_t>(j);
      for (; n < 8; ++n)
        index[m][n] = 0;
    }
  }
};
constexpr CompressDwordsTable kCompressDwords;

// Eight UTF-16 units (`units`, each followed by the one in `nexts`) as
// UTF-32 at `at`: a high unit h followed by l gives ((h - 0xD800) << 10) +
// l - 0xDC00 + 0x10000, which is (h << 10) + l - 0x35FDC00; the lanes of the
// low units (clear in `keep`) are squeezed out, and the `out` values are
// stored with a masked store.
BQ_TARGET_AVX2 BQ_ALWAYS_INLINE void widenPairs(__m128i units, __m128i nexts,
                                                __m128i highs, unsigned keep,
                                                int out, UTF32* at) {
  const __m256i c = _mm256_cvtepu16_epi32(units);
  const __m256i pair =
      _mm256_sub_epi32(_mm256_add_epi32(_mm256_slli_epi32(c, 10),
                                        _mm256_cvtepu16_epi32(nexts)),
                       splat32<0x35FDC00>());
  const __m256i v = _mm256_blendv_epi8(c, pair, _mm256_cvtepi16_epi32(highs));
  const __m256i packed = _mm256_permutevar8x32_epi32(
      v, _mm256_load_si256(
             reinterpret_cast<const __m256i*>(kCompressDwords.index[keep])));
  const __m256i first = _mm256_cmpgt_epi32(
      _mm256_set1_epi32(out), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  _mm256_maskstore_epi32(reinterpret_cast<int*>(at), first, packed);
}

// The block work of the AVX2 kernels (encode_body.h).
struct Ops {
  // Both directions to UTF-8: sixteen units a block.
  BQ_TARGET_AVX2 static BQ_ALWAYS_INLINE int block(const UTF16* p,
                                                   std::uint8_t* out,
                                                   std::size_t& len) {
    return encode16<true>(load(p), out, len);
  }
  BQ_TARGET_AVX2 static BQ_ALWAYS_INLINE int block(const UTF32* p,
                                                   std::uint8_t* out,
                                                   std::size_t& len) {
    const __m256i a = load(p);
    const __m256i b = load(p + 8);
    if (_mm256_testz_si256(_mm256_or_si256(a, b), splat32<0xFFFF0000>()))
      // Sixteen bits each; the encoder refuses surrogate values.
      return encode16<false>(pack32(a, b), out, len);
    if (!allOnes(_mm256_and_si256(scalar32(a), scalar32(b))))
      return 0;
    len = encodeWide16(a, b, out);
    return 16;
  }

  BQ_TARGET_AVX2 static BQ_ALWAYS_INLINE int classify(const UTF32* p) {
    const __m256i a = load(p);
    const __m256i b = load(p + 8);
    if (allOnes(_mm256_and_si256(belowSurrogates(a), belowSurrogates(b))))
      return 0;
    if (!allOnes(_mm256_and_si256(scalar32(a), scalar32(b))))
      return -1;
    return __builtin_popcount(
        static_cast<unsigned>(_mm256_movemask_ps(
            _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, splat32<0xFFFF>())))) |
        static_cast<unsigned>(_mm256_movemask_ps(
            _mm256_castsi256_ps(_mm256_cmpgt_epi32(b, splat32<0xFFFF>()))))
            << 8);
  }
  BQ_TARGET_AVX2 static BQ_ALWAYS_INLINE void pack(const UTF32* p, UTF16* q) {
    store(q, pack32(load(p), load(p + 8)));
  }

  BQ_TARGET_AVX2 static BQ_ALWAYS_INLINE bool
  surrogates(const UTF16* p, unsigned& high, unsigned& low) {
    const __m256i u = load(p);
    const __m256i sur = _mm256_cmpeq_epi16(
        _mm256_and_si256(u, splat16<0xF800>()), splat16<0xD800>());
    if (none(sur))
      return false;
    const __m256i top6 = _mm256_and_si256(u, splat16<0xFC00>());
    high = bits16(_mm256_cmpeq_epi16(top6, splat16<0xD800>()));
    low = bits16(_mm256_cmpeq_epi16(top6, splat16<0xDC00>()));
    return true;
  }
  BQ_TARGET_AVX2 static BQ_ALWAYS_INLINE void widen(const UTF16* p, UTF32* q) {
    const __m256i u = load(p);
    store(q, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(u)));
    store(q + 8, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(u, 1)));
  }
  BQ_TARGET_AVX2 static BQ_ALWAYS_INLINE void
  pairs(const UTF16* p, UTF32* q, unsigned, unsigned low, int n) {
    const __m256i u = load(p);
    const __m256i next =
        _mm256_alignr_epi8(_mm256_permute2x128_si256(u, u, 0x81), u, 2);
    const __m256i highs = _mm256_cmpeq_epi16(
        _mm256_and_si256(u, splat16<0xFC00>()), splat16<0xD800>());
    const unsigned keepA = ~low & 0xFF;
    const unsigned keepB = ~low >> 8 & (n == 16 ? 0xFF : 0x7F);
    const int outA = __builtin_popcount(keepA);
    widenPairs(_mm256_castsi256_si128(u), _mm256_castsi256_si128(next),
               _mm256_castsi256_si128(highs), keepA, outA, q);
    widenPairs(_mm256_extracti128_si256(u, 1), _mm256_extracti128_si256(next, 1),
               _mm256_extracti128_si256(highs, 1), keepB,
               __builtin_popcount(keepB), q + outA);
  }
};

} // namespace

BQ_ENCODE_ENTRY_POINTS(avx2, 16, Ops)

} // namespace detail
} // namespace Brackwell

#endif // __x86_64__
