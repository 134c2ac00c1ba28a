//===- text/simd/encode_avx512.cpp - Encoding kernels, AVX-512 VBMI2 ------===//
//
// UTF-16 and UTF-32 to UTF-8, UTF-16 to UTF-32 and UTF-32 to UTF-16 with
// AVX-512 (F, BW, VL) and VBMI2, in blocks of 32 UTF-16 or 16 UTF-32 units.
// Two blocks of UTF-32 whose values all fit in 16 bits are packed into one
// and take the UTF-16 road.
//
// To UTF-8: every unit gets a lane holding its UTF-8 bytes in their own
// order, the lead byte first and the unused bytes zero, and the byte
// compress instruction keeps the bytes that are used. Unlike the SSE and
// AVX2 kernels, these write straight to the target with byte-masked stores
// that end at the last byte of the block, so no staging is needed.
//
//===----------------------------------------------------------------------===//
#if defined(__x86_64__)

#include "text/simd/kernels.h"

#include "text/simd/intrinsics.h"

#include <cstddef>
#include <cstdint>

#define BQ_TARGET_AVX512                                                       \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi2,bmi2")))
#define BQ_ENCODE_TARGET BQ_TARGET_AVX512
#include "text/simd/encode_body.h"

namespace Brackwell {
namespace detail {
namespace {

template <std::uint32_t V> BQ_TARGET_AVX512 inline __m512i splat32() {
  return _mm512_set1_epi32(static_cast<int>(V));
}

template <std::uint16_t V> BQ_TARGET_AVX512 inline __m512i splat16() {
  return splat32<V | std::uint32_t{V} << 16>();
}

// The first `n` bits set (n <= 64).
BQ_TARGET_AVX512 inline std::uint64_t firstBits(std::size_t n) {
  return _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(n));
}

// Lanes of 32-bit values that are not scalar values (surrogates, or above
// 0x10FFFF).
BQ_TARGET_AVX512 inline __mmask16 nonScalar32(__m512i v) {
  const __mmask16 sur = _mm512_cmplt_epu32_mask(
      _mm512_sub_epi32(v, splat32<0xD800>()), splat32<0x800>());
  return sur | _mm512_cmpgt_epu32_mask(v, splat32<0x10FFFF>());
}

// Writes the bytes of `lanes` selected by `keep`, in order, at `q`, if they
// fit before `tEnd`; returns the byte count, or -1 when they do not fit.
BQ_TARGET_AVX512 inline std::ptrdiff_t put(__m512i lanes, __mmask64 keep,
                                           UTF8* q, UTF8* tEnd) {
  const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(_mm_popcnt_u64(keep));
  if (n > tEnd - q)
    return -1;
  _mm512_mask_storeu_epi8(q, firstBits(static_cast<std::size_t>(n)),
                          _mm512_maskz_compress_epi8(keep, lanes));
  return n;
}

// Keep-mask of lanes built with unused bytes zero: every non-zero byte, and
// byte `always` of every 32-bit lane (an ASCII lane may hold U+0000).
BQ_TARGET_AVX512 inline __mmask64 usedBytes(__m512i lanes,
                                            std::uint64_t always) {
  return _mm512_test_epi8_mask(lanes, lanes) | always;
}

// Index vectors for the 16-bit permutes: unit j-1 and j+1 into lane j, and
// the interleave of two registers of 16-bit halves into 32-bit lanes, units
// 0-15 and 16-31.
struct WordIndex {
  alignas(64) std::uint16_t prev[32];
  alignas(64) std::uint16_t next[32];
  alignas(64) std::uint16_t interLo[32];
  alignas(64) std::uint16_t interHi[32];
  constexpr WordIndex() : prev(), next(), interLo(), interHi() {
    for (int j = 0; j < 32; ++j) {
      prev[j] = static_cast<std::uint16_t>(j == 0 ? 0 : j - 1);
      next[j] = static_cast<std::uint16_t>(j == 31 ? 31 : j + 1);
      interLo[j] = static_cast<std::uint16_t>((j & 1) * 32 + j / 2);
      interHi[j] = static_cast<std::uint16_t>((j & 1) * 32 + 16 + j / 2);
    }
  }
};
constexpr WordIndex kWordIndex;

// The index vectors that encode32 uses, loaded once a call.
struct EncodeIndex {
  __m512i prev, interLo, interHi;
};
BQ_TARGET_AVX512 inline EncodeIndex loadEncodeIndex() {
  return {_mm512_load_si512(kWordIndex.prev),
          _mm512_load_si512(kWordIndex.interLo),
          _mm512_load_si512(kWordIndex.interHi)};
}

// Encodes the 32 UTF-16 units `u`, read at `p`, as UTF-8 at `q` and advances
// both past what it took: 32 units, or 31 when unit 31 is a high surrogate
// (its pair is left for the next block). Returns false, changing nothing,
// when the block holds an unpaired surrogate (any surrogate unless `Pairs`:
// UTF-32 input packed to 16 bits) or its bytes do not fit before `tEnd`.
// `ix` holds the index vectors of kWordIndex. Each road
// advances `p` by its own constant, so that the next load does not wait for
// this block's arithmetic.
template <bool Pairs, class S>
BQ_TARGET_AVX512 BQ_ALWAYS_INLINE bool
encode32(__m512i u, const S*& p, UTF8*& q, UTF8* tEnd, const EncodeIndex& ix) {
  const __mmask32 ge80 = _mm512_cmpgt_epu16_mask(u, splat16<0x7F>());
  if (ge80 == 0) {
    if (tEnd - q < 32)
      return false;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), _mm512_cvtepi16_epi8(u));
    q += 32;
    p += 32;
    return true;
  }
  const __m512i last6 =
      _mm512_or_si512(_mm512_and_si512(u, splat16<0x3F>()), splat16<0x80>());
  const __m512i lead2 =
      _mm512_or_si512(_mm512_srli_epi16(u, 6), splat16<0xC0>());
  const __mmask32 ge800 = _mm512_cmpgt_epu16_mask(u, splat16<0x7FF>());
  if (ge800 == 0) {
    // One or two bytes each, in 16-bit lanes.
    const __m512i lanes = _mm512_mask_mov_epi16(
        u, ge80, _mm512_or_si512(lead2, _mm512_slli_epi16(last6, 8)));
    const std::ptrdiff_t n =
        put(lanes, usedBytes(lanes, 0x5555555555555555ULL), q, tEnd);
    if (n < 0)
      return false;
    q += n;
    p += 32;
    return true;
  }

  const __m512i top5 = _mm512_and_si512(u, splat16<0xF800>());
  const __mmask32 sur = _mm512_cmpeq_epi16_mask(top5, splat16<0xD800>());
  const __m512i mid6 = _mm512_or_si512(
      _mm512_and_si512(_mm512_srli_epi16(u, 6), splat16<0x3F>()),
      splat16<0x80>());
  const __m512i lead3 =
      _mm512_or_si512(_mm512_srli_epi16(u, 12), splat16<0xE0>());
  // Bytes 0 and 1 of each lane in `lo`, byte 2 in `hi`.
  __m512i lo = _mm512_mask_mov_epi16(
      u, ge80, _mm512_or_si512(lead2, _mm512_slli_epi16(last6, 8)));
  const __mmask32 three = ge800 & ~sur;
  lo = _mm512_mask_mov_epi16(
      lo, three, _mm512_or_si512(lead3, _mm512_slli_epi16(mid6, 8)));
  const __m512i hi = _mm512_maskz_mov_epi16(three, last6);
  int taken = 32;
  if (sur) {
    if (!Pairs)
      return false;
    const __m512i top6 = _mm512_and_si512(u, splat16<0xFC00>());
    __mmask32 high = _mm512_cmpeq_epi16_mask(top6, splat16<0xD800>());
    const __mmask32 low = _mm512_cmpeq_epi16_mask(top6, splat16<0xDC00>());
    taken = unitsTaken(high, 32);
    if (low != static_cast<__mmask32>(high << 1))
      return false;
    // w = the top 11 bits of the scalar value, (high & 0x3FF) + 0x40. The
    // high lane holds the first two bytes, the low lane the last two.
    const __m512i w = _mm512_add_epi16(_mm512_and_si512(u, splat16<0x3FF>()),
                                       splat16<0x40>());
    const __m512i highPart = _mm512_or_si512(
        _mm512_or_si512(_mm512_srli_epi16(w, 8), splat16<0xF0>()),
        _mm512_slli_epi16(
            _mm512_or_si512(
                _mm512_and_si512(_mm512_srli_epi16(w, 2), splat16<0x3F>()),
                splat16<0x80>()),
            8));
    const __m512i wPrev = _mm512_permutexvar_epi16(ix.prev, w);
    const __m512i third = _mm512_or_si512(
        _mm512_or_si512(
            _mm512_slli_epi16(_mm512_and_si512(wPrev, splat16<3>()), 4),
            _mm512_and_si512(_mm512_srli_epi16(u, 6), splat16<0xF>())),
        splat16<0x80>());
    const __m512i lowPart = _mm512_or_si512(third, _mm512_slli_epi16(last6, 8));
    lo = _mm512_mask_mov_epi16(lo, high, highPart);
    lo = _mm512_mask_mov_epi16(lo, low, lowPart);
  }
  const __m512i a = _mm512_permutex2var_epi16(lo, ix.interLo, hi);
  const __m512i b = _mm512_permutex2var_epi16(lo, ix.interHi, hi);
  const __mmask64 keepA = usedBytes(a, 0x1111111111111111ULL);
  __mmask64 keepB = usedBytes(b, 0x1111111111111111ULL);
  if (taken == 31) // unit 31 is a high surrogate left for the next block
    keepB &= ~(std::uint64_t{0xF} << 60);
  const std::ptrdiff_t na = static_cast<std::ptrdiff_t>(_mm_popcnt_u64(keepA));
  const std::ptrdiff_t nb = static_cast<std::ptrdiff_t>(_mm_popcnt_u64(keepB));
  if (na + nb > tEnd - q)
    return false;
  _mm512_mask_storeu_epi8(q, firstBits(static_cast<std::size_t>(na)),
                          _mm512_maskz_compress_epi8(keepA, a));
  _mm512_mask_storeu_epi8(q + na, firstBits(static_cast<std::size_t>(nb)),
                          _mm512_maskz_compress_epi8(keepB, b));
  q += na + nb;
  p += taken;
  return true;
}

// Encodes the sixteen UTF-32 units `v` as UTF-8 at `q`, advancing it, when
// all are scalar values and their bytes fit before `tEnd`; returns whether
// it did.
BQ_TARGET_AVX512 BQ_ALWAYS_INLINE bool encodeWide16(__m512i v, UTF8*& q,
                                                    UTF8* tEnd) {
  // Reverses the bytes of each 32-bit lane.
  const __m512i bswap = _mm512_broadcast_i32x4(
      _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
  const __mmask16 ge80 = _mm512_cmpgt_epu32_mask(v, splat32<0x7F>());
  if (ge80 == 0) {
    if (tEnd - q < 16)
      return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm512_cvtepi32_epi8(v));
    q += 16;
    return true;
  }
  if (nonScalar32(v))
    return false;
  // The UTF-8 form as a big-endian word: each 6-bit field in its byte,
  // then the markers of the length; byte-reversed, the lead comes first
  // and the unused bytes (zero) are dropped by the compress.
  __m512i x = _mm512_and_si512(v, splat32<0x3F>());
  x = _mm512_or_si512(
      x, _mm512_and_si512(_mm512_slli_epi32(v, 2), splat32<0x3F00>()));
  x = _mm512_or_si512(
      x, _mm512_and_si512(_mm512_slli_epi32(v, 4), splat32<0x3F0000>()));
  x = _mm512_or_si512(
      x, _mm512_and_si512(_mm512_slli_epi32(v, 6), splat32<0x3F000000>()));
  __m512i mark = splat32<0xC080>();
  mark = _mm512_mask_mov_epi32(
      mark, _mm512_cmpgt_epu32_mask(v, splat32<0x7FF>()), splat32<0xE08080>());
  mark =
      _mm512_mask_mov_epi32(mark, _mm512_cmpgt_epu32_mask(v, splat32<0xFFFF>()),
                            splat32<0xF0808080>());
  const __m512i word = _mm512_mask_mov_epi32(v, ge80, _mm512_or_si512(x, mark));
  const __m512i lanes = _mm512_shuffle_epi8(word, bswap);
  const std::ptrdiff_t n =
      put(lanes, usedBytes(lanes, 0x8888888888888888ULL), q, tEnd);
  if (n < 0)
    return false;
  q += n;
  return true;
}

} // namespace

BQ_TARGET_AVX512 void avx512Utf16To8(const UTF16*& s, const UTF16* sEnd,
                                     UTF8*& t, UTF8* tEnd) {
  const EncodeIndex ix = loadEncodeIndex();
  blocks<32>(s, sEnd, t,
             [tEnd, ix](const UTF16*& p, UTF8*& q) BQ_TARGET_AVX512 {
               return encode32<true>(_mm512_loadu_si512(p), p, q, tEnd, ix);
             });
}

BQ_TARGET_AVX512 void avx512Utf32To8(const UTF32*& s, const UTF32* sEnd,
                                     UTF8*& t, UTF8* tEnd) {
  const UTF32* p = s;
  UTF8* q = t;
  const EncodeIndex ix = loadEncodeIndex();
  while (sEnd - p >= 16) {
    const __m512i a = _mm512_loadu_si512(p);
    if (sEnd - p >= 32 &&
        _mm512_test_epi32_mask(a, splat32<0xFFFF0000>()) == 0) {
      const __m512i b = _mm512_loadu_si512(p + 16);
      if (_mm512_test_epi32_mask(b, splat32<0xFFFF0000>()) == 0) {
        // Sixteen bits each: packed, they take the UTF-16 road, whose
        // encoder refuses surrogate values.
        const __m512i u =
            _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(a)),
                               _mm512_cvtepi32_epi16(b), 1);
        if (!encode32<false>(u, p, q, tEnd, ix))
          break;
        continue;
      }
    }
    if (!encodeWide16(a, q, tEnd))
      break;
    p += 16;
  }
  s = p;
  t = q;
}

BQ_TARGET_AVX512 void avx512Utf16To32(const UTF16*& s, const UTF16* sEnd,
                                      UTF32*& t, UTF32* tEnd) {
  const __m512i next = _mm512_load_si512(kWordIndex.next);
  blocks<32>(s, sEnd, t, [tEnd, next](const UTF16*& p, UTF32*& q) BQ_TARGET_AVX512 {
    const __m512i u = _mm512_loadu_si512(p);
    const __mmask32 sur = _mm512_cmpeq_epi16_mask(
        _mm512_and_si512(u, splat16<0xF800>()), splat16<0xD800>());
    if (sur == 0) {
      if (tEnd - q < 32)
        return false;
      _mm512_storeu_si512(q, _mm512_cvtepu16_epi32(_mm512_castsi512_si256(u)));
      _mm512_storeu_si512(
          q + 16, _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(u, 1)));
      p += 32;
      q += 32;
      return true;
    }
    const __m512i top6 = _mm512_and_si512(u, splat16<0xFC00>());
    __mmask32 high = _mm512_cmpeq_epi16_mask(top6, splat16<0xD800>());
    const __mmask32 low = _mm512_cmpeq_epi16_mask(top6, splat16<0xDC00>());
    const int taken = unitsTaken(high, 32);
    if (low != static_cast<__mmask32>(high << 1))
      return false;
    const int outA = 16 - __builtin_popcount(low & 0xFFFFu);
    const int outB = taken - 16 - __builtin_popcount(low >> 16);
    if (tEnd - q < outA + outB)
      return false;
    // For a high unit h followed by l: ((h - 0xD800) << 10) + l - 0xDC00 +
    // 0x10000, which is (h << 10) + l - 0x35FDC00.
    const __m512i n16 = _mm512_permutexvar_epi16(next, u);
    const __m512i ua = _mm512_cvtepu16_epi32(_mm512_castsi512_si256(u));
    const __m512i ub = _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(u, 1));
    const __m512i na = _mm512_cvtepu16_epi32(_mm512_castsi512_si256(n16));
    const __m512i nb = _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(n16, 1));
    const __m512i pairA = _mm512_sub_epi32(
        _mm512_add_epi32(_mm512_slli_epi32(ua, 10), na), splat32<0x35FDC00>());
    const __m512i pairB = _mm512_sub_epi32(
        _mm512_add_epi32(_mm512_slli_epi32(ub, 10), nb), splat32<0x35FDC00>());
    const __m512i ca =
        _mm512_mask_mov_epi32(ua, static_cast<__mmask16>(high), pairA);
    const __m512i cb =
        _mm512_mask_mov_epi32(ub, static_cast<__mmask16>(high >> 16), pairB);
    _mm512_mask_storeu_epi32(
        q, static_cast<__mmask16>(firstBits(static_cast<std::size_t>(outA))),
        _mm512_maskz_compress_epi32(static_cast<__mmask16>(~low), ca));
    _mm512_mask_storeu_epi32(
        q + outA,
        static_cast<__mmask16>(firstBits(static_cast<std::size_t>(outB))),
        _mm512_maskz_compress_epi32(
            static_cast<__mmask16>(~(low >> 16)) &
                static_cast<__mmask16>(
                    firstBits(static_cast<std::size_t>(taken - 16))),
            cb));
    p += taken;
    q += outA + outB;
    return true;
  });
}

BQ_TARGET_AVX512 void avx512Utf32To16(const UTF32*& s, const UTF32* sEnd,
                                      UTF16*& t, UTF16* tEnd) {
  blocks<16>(s, sEnd, t, [tEnd](const UTF32*& p, UTF16*& q) BQ_TARGET_AVX512 {
    const __m512i v = _mm512_loadu_si512(p);
    if (nonScalar32(v))
      return false;
    const __mmask16 wide = _mm512_cmpgt_epu32_mask(v, splat32<0xFFFF>());
    if (wide == 0) {
      if (tEnd - q < 16)
        return false;
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(q),
                          _mm512_cvtepi32_epi16(v));
      p += 16;
      q += 16;
      return true;
    }
    // Every value as a pair of 16-bit units in its 32-bit lane (high unit
    // first); lanes below 0x10000 keep only their first unit.
    const __m512i c = _mm512_sub_epi32(v, splat32<0x10000>());
    const __m512i pair = _mm512_or_si512(
        _mm512_add_epi32(_mm512_srli_epi32(c, 10), splat32<0xD800>()),
        _mm512_slli_epi32(
            _mm512_add_epi32(_mm512_and_si512(c, splat32<0x3FF>()),
                             splat32<0xDC00>()),
            16));
    const __m512i units = _mm512_mask_mov_epi32(v, wide, pair);
    const __mmask32 keep =
        static_cast<__mmask32>(0x55555555u | _pdep_u32(wide, 0xAAAAAAAAu));
    const int n = 16 + __builtin_popcount(wide);
    if (tEnd - q < n)
      return false;
    _mm512_mask_storeu_epi16(
        q, static_cast<__mmask32>(firstBits(static_cast<std::size_t>(n))),
        _mm512_maskz_compress_epi16(keep, units));
    p += 16;
    q += n;
    return true;
  });
}

} // namespace detail
} // namespace Brackwell

#endif // __x86_64__
