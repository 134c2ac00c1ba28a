//===- text/simd/decode_avx512.cpp - UTF-8 decoding kernels, AVX-512 -------===//
//
// avx512Utf8To16 and avx512Utf8To32. A window of 64 bytes fills one
// register: it is validated as in decode_body.h (the bytes one, two and
// three places back come from lane-crossing shifts), cut after its last
// whole character, and decoded without a table: every byte's payload is
// taken with those of the one or two (three) bytes before it that belong to
// the same character, which gives each character's value in the lane of its
// last byte; the compress instruction keeps the lanes of last bytes, and a
// masked store writes exactly the units of the window. Values above the
// BMP become surrogate pairs in 32-bit lanes, squeezed to 16-bit units the
// same way. A tail of 16 to 63 bytes is one more window, loaded under a
// mask that stops at the source end.
//
//===----------------------------------------------------------------------===//

#if defined(__x86_64__)

#define BQ_DECODE_TARGET                                                       \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi2,bmi2,popcnt," \
                        "avx2")))
#define BQ_DECODE_AVX2 1


#include "decode_body.h"

namespace Brackwell {
namespace detail {
namespace {

BQ_DECODE_TARGET inline __m512i table512(const std::uint8_t (&t)[16]) {
  return _mm512_broadcast_i32x4(load(t));
}

BQ_RULE_ERRORS(__m512i, _mm512, si512, table512)
BQ_PAIR_LANES(__m512i, _mm512, si512)

BQ_DECODE_TARGET inline __m512i payload512(__m512i v) {
  return _mm512_and_si512(
      v, _mm512_shuffle_epi8(table512(kPayloadMasks.v),
                             _mm512_and_si512(_mm512_srli_epi16(v, 4),
                                              _mm512_set1_epi8(0x0F))));
}

// Bytes 32H to 32H+31 of v widened to 16 bits; bytes 16Q to 16Q+15 to 32.
template <int H> BQ_DECODE_TARGET inline __m512i wide16(__m512i v) {
  return _mm512_cvtepu8_epi16(H ? _mm512_extracti64x4_epi64(v, 1)
                                : _mm512_castsi512_si256(v));
}
template <int Q> BQ_DECODE_TARGET inline __m512i wide32(__m512i v) {
  return _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(v, Q));
}

// Half H of the window as UTF-16: the payloads of each byte and of the one
// and two bytes before it in its character (zero where they belong to
// another) joined in 16-bit lanes; the lanes of last bytes (`ends`) are
// kept and written. Returns the new target position.
template <int H>
BQ_DECODE_TARGET inline UTF16* join16(__m512i b0, __m512i b1, __m512i b2,
                                      std::uint32_t ends, UTF16* t) {
  const __m512i v = _mm512_or_si512(
      wide16<H>(b0), _mm512_or_si512(_mm512_slli_epi16(wide16<H>(b1), 6),
                                     _mm512_slli_epi16(wide16<H>(b2), 12)));
  const int c = __builtin_popcount(ends);
  _mm512_mask_storeu_epi16(t, static_cast<__mmask32>(_bzhi_u32(~0U, c)),
                           _mm512_maskz_compress_epi16(ends, v));
  return t + c;
}

// Half H of the window as UTF-32 when no character has more than two
// bytes: joined and squeezed in 16-bit lanes, then widened.
template <int H>
BQ_DECODE_TARGET inline UTF32* join16to32(__m512i b0, __m512i b1,
                                          std::uint32_t ends, UTF32* t) {
  const __m512i v =
      _mm512_or_si512(wide16<H>(b0), _mm512_slli_epi16(wide16<H>(b1), 6));
  const __m512i c = _mm512_maskz_compress_epi16(ends, v);
  const int n = __builtin_popcount(ends);
  _mm512_mask_storeu_epi32(t, static_cast<__mmask16>(_bzhi_u32(~0U, n < 16 ? n : 16)),
                           _mm512_cvtepu16_epi32(_mm512_castsi512_si256(c)));
  if (n > 16)
    _mm512_mask_storeu_epi32(t + 16, static_cast<__mmask16>(_bzhi_u32(~0U, n - 16)),
                             _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(c, 1)));
  return t + n;
}

// Quarter Q of the window: the values of the characters whose last byte
// lies in it, in order, in 32-bit lanes (`ends`: those last bytes). Bytes
// of up to `Len` per character are joined.
template <int Q, int Len>
BQ_DECODE_TARGET inline __m512i values(__m512i b0, __m512i b1, __m512i b2,
                                       __m512i b3, std::uint16_t ends) {
  __m512i v = _mm512_or_si512(wide32<Q>(b0), _mm512_slli_epi32(wide32<Q>(b1), 6));
  if (Len > 2)
    v = _mm512_or_si512(v, _mm512_slli_epi32(wide32<Q>(b2), 12));
  if (Len > 3)
    v = _mm512_or_si512(v, _mm512_slli_epi32(wide32<Q>(b3), 18));
  return _mm512_maskz_compress_epi32(ends, v);
}

template <int Q, int Len>
BQ_DECODE_TARGET inline UTF32* join32(__m512i b0, __m512i b1, __m512i b2,
                                      __m512i b3, std::uint64_t ends,
                                      UTF32* t) {
  const std::uint16_t m = static_cast<std::uint16_t>(ends >> (16 * Q));
  const int c = __builtin_popcount(m);
  _mm512_mask_storeu_epi32(t, static_cast<__mmask16>(_bzhi_u32(~0U, c)),
                           values<Q, Len>(b0, b1, b2, b3, m));
  return t + c;
}

// Quarter Q as UTF-16 when characters of four bytes occur: values above
// the BMP become pairs (high unit in the lane's low half), and the units
// are squeezed together.
template <int Q>
BQ_DECODE_TARGET inline UTF16* joinPairs(__m512i b0, __m512i b1, __m512i b2,
                                         __m512i b3, std::uint64_t ends,
                                         UTF16* t) {
  const std::uint16_t m = static_cast<std::uint16_t>(ends >> (16 * Q));
  const int c = __builtin_popcount(m);
  const __m512i v = values<Q, 4>(b0, b1, b2, b3, m);
  const __mmask16 big = _mm512_cmpgt_epu32_mask(v, _mm512_set1_epi32(0xFFFF));
  const __m512i lanes = _mm512_mask_mov_epi32(v, big, pairLanes(v));
  const std::uint32_t units = _pdep_u32(_bzhi_u32(~0U, c), 0x55555555U) |
                              _pdep_u32(big, 0xAAAAAAAAU);
  const int n = c + __builtin_popcount(big);
  _mm512_mask_storeu_epi16(t, static_cast<__mmask32>(_bzhi_u32(~0U, n)),
                           _mm512_maskz_compress_epi16(units, lanes));
  return t + n;
}

// Converts the 64 bytes at s (all readable) into t; returns the bytes
// consumed, or 0 when the window is not taken.
template <class T>
BQ_DECODE_TARGET inline int window512(const UTF8* s, int avail, T*& tRef,
                                      T* tEnd) {
  T* t = tRef;
  // A shorter window is loaded under a mask: the bytes past `avail` are not
  // read at all, and the register holds zeros (ASCII) there.
  const std::uint64_t inside = avail == kWindow ? ~0ULL : _bzhi_u64(~0ULL, avail);
  const __m512i x = avail == kWindow ? _mm512_loadu_si512(s)
                                     : _mm512_maskz_loadu_epi8(inside, s);
  const std::uint64_t high = _mm512_movepi8_mask(x);
  if (high == 0 && avail == kWindow) {
    if (tEnd - t < kWindow)
      return 0;
    if constexpr (sizeof(T) == 2) {
      _mm512_storeu_si512(t, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(x)));
      _mm512_storeu_si512(t + 32,
                          _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(x, 1)));
    } else {
      for (int q = 0; q < 4; ++q)
        _mm512_storeu_si512(t + 16 * q,
                            _mm512_cvtepu8_epi32(_mm_loadu_si128(
                                reinterpret_cast<const __m128i*>(s + 16 * q))));
    }
    tRef = t + kWindow;
    return kWindow;
  }
  // The 16-byte lanes one lane back; then the bytes 1, 2 and 3 places back.
  const __m512i before = _mm512_alignr_epi64(x, _mm512_setzero_si512(), 6);
  const __m512i p1 = _mm512_alignr_epi8(x, before, 15);
  const __m512i p2 = _mm512_alignr_epi8(x, before, 14);
  const __m512i p3 = _mm512_alignr_epi8(x, before, 13);
  if (_mm512_test_epi8_mask(ruleErrors(x, p1, p2, p3), _mm512_set1_epi8(-1)) != 0)
    return 0;
  const std::uint64_t cont = _mm512_cmplt_epi8_mask(x, _mm512_set1_epi8(-64));
  const std::uint64_t starts = ~cont;
  const std::uint64_t fours =
      _mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(static_cast<char>(0xF0)));
  const std::uint64_t x3s =
      _mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(static_cast<char>(0xE0)));
  const int last = 63 - __builtin_clzll(starts & inside);
  const UTF8 lead = s[last];
  const int n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  const int len = last + n == avail ? avail : last;
  const std::uint64_t keep = len == kWindow ? ~0ULL : (1ULL << len) - 1;
  const std::uint64_t ends = ((starts >> 1) | 1ULL << 63) & keep;
  const bool hasFour = (fours & keep) != 0;
  const bool hasThree = (x3s & keep) != 0;
  if (tEnd - t < __builtin_popcountll(ends) +
                     (sizeof(T) == 2 ? __builtin_popcountll(fours & keep) : 0))
    return 0;
  // Each byte's payload, and those of the bytes before it in its character.
  const std::uint64_t in1 = cont, in2 = cont & cont << 1,
                      in3 = cont & cont << 1 & cont << 2;
  const __m512i zero = _mm512_setzero_si512();
  const __m512i b0 = payload512(x);
  const __m512i b1 = _mm512_maskz_mov_epi8(in1, payload512(p1));
  const __m512i b2 =
      hasThree ? _mm512_maskz_mov_epi8(in2, payload512(p2)) : zero;
  const __m512i b3 = hasFour ? _mm512_maskz_mov_epi8(in3, payload512(p3)) : zero;
  if constexpr (sizeof(T) == 2) {
    if (hasFour) {
      t = joinPairs<0>(b0, b1, b2, b3, ends, t);
      t = joinPairs<1>(b0, b1, b2, b3, ends, t);
      t = joinPairs<2>(b0, b1, b2, b3, ends, t);
      t = joinPairs<3>(b0, b1, b2, b3, ends, t);
    } else {
      t = join16<0>(b0, b1, b2, static_cast<std::uint32_t>(ends), t);
      t = join16<1>(b0, b1, b2, static_cast<std::uint32_t>(ends >> 32), t);
    }
  } else if (hasFour) {
    t = join32<0, 4>(b0, b1, b2, b3, ends, t);
    t = join32<1, 4>(b0, b1, b2, b3, ends, t);
    t = join32<2, 4>(b0, b1, b2, b3, ends, t);
    t = join32<3, 4>(b0, b1, b2, b3, ends, t);
  } else if (hasThree) {
    t = join32<0, 3>(b0, b1, b2, b3, ends, t);
    t = join32<1, 3>(b0, b1, b2, b3, ends, t);
    t = join32<2, 3>(b0, b1, b2, b3, ends, t);
    t = join32<3, 3>(b0, b1, b2, b3, ends, t);
  } else {
    t = join16to32<0>(b0, b1, static_cast<std::uint32_t>(ends), t);
    t = join16to32<1>(b0, b1, static_cast<std::uint32_t>(ends >> 32), t);
  }
  tRef = t;
  return len;
}

// The windows of this file: 64 bytes, or the tail of 16 to 63.
struct Window512 {
  template <class T>
  BQ_DECODE_TARGET int operator()(const UTF8* s, std::ptrdiff_t left, T*& t,
                                  T* tEnd) const {
    return window512(s, left < kWindow ? static_cast<int>(left) : kWindow, t,
                     tEnd);
  }
};

} // namespace
} // namespace detail
} // namespace Brackwell

BQ_DECODE_ENTRY_POINTS(avx512, Window512)

#endif // __x86_64__
