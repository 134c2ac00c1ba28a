//===- text/simd/encode_sse.cpp - Encoding kernels, SSSE3/SSE4.1 ----------===//
//
// UTF-16 and UTF-32 to UTF-8, UTF-16 to UTF-32 and UTF-32 to UTF-16, in
// blocks of eight source units (one or two 16-byte registers).
//
// To UTF-8: each unit is classified by the bytes it needs (1, 2, 3, or 2+2
// for the two halves of a surrogate pair, whose four bytes are split over
// the pair's two lanes), spread into a lane of its own holding its bytes, and
// the lanes are squeezed together by one shuffle from encode_common.h. Blocks
// of ASCII and blocks without three-byte characters take shorter roads.
//
// Output goes through the staging area of encode_common.h, so nothing after
// the returned target cursor is touched.
//
//===----------------------------------------------------------------------===//
#if defined(__x86_64__)

#include "text/simd/kernels.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#define BQ_TARGET_SSE __attribute__((target("ssse3,sse4.1")))
#define BQ_ENCODE_TARGET BQ_TARGET_SSE
#include "text/simd/encode_body.h"

namespace Brackwell {
namespace detail {
namespace {

BQ_TARGET_SSE inline __m128i load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

BQ_TARGET_SSE inline void store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

BQ_TARGET_SSE inline __m128i pattern(const BytePattern& p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p.b));
}

BQ_TARGET_SSE inline __m128i splat16(int v) {
  return _mm_set1_epi16(static_cast<short>(v));
}

BQ_TARGET_SSE inline __m128i splat32(unsigned v) {
  return _mm_set1_epi32(static_cast<int>(v));
}

// Lanes of 32-bit values that are surrogates (0xD800-0xDFFF).
BQ_TARGET_SSE inline __m128i surrogates32(__m128i v) {
  const __m128i d = _mm_sub_epi32(v, splat32(0xD800));
  return _mm_cmpeq_epi32(_mm_min_epu32(d, splat32(0x7FF)), d);
}

// Lanes of 32-bit values that are scalar values (not surrogates, at most
// 0x10FFFF).
BQ_TARGET_SSE inline __m128i scalar32(__m128i v) {
  const __m128i inRange =
      _mm_cmpeq_epi32(_mm_min_epu32(v, splat32(0x10FFFF)), v);
  return _mm_andnot_si128(surrogates32(v), inRange);
}

BQ_TARGET_SSE inline bool allOnes(__m128i m) {
  return _mm_movemask_epi8(m) == 0xFFFF;
}

// Encodes the eight UTF-16 units `u` as UTF-8 at `out` (which has room for
// 32 bytes) and returns how many units it took: 8, or 7 when unit 7 is a high
// surrogate (its pair is left for the next block), or 0 when the block holds
// an unpaired surrogate, or any surrogate unless `Pairs` (UTF-32 input packed
// to 16 bits). `len` receives the byte count.
template <bool Pairs>
BQ_TARGET_SSE BQ_ALWAYS_INLINE int encode8(__m128i u, std::uint8_t* out,
                                           std::size_t& len) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i biased = _mm_xor_si128(u, splat16(0x8000));
  const __m128i ge80 = _mm_cmpgt_epi16(biased, splat16(0x807F));
  __m128i ge800 = _mm_cmpgt_epi16(biased, splat16(0x87FF));
  const __m128i last6 =
      _mm_or_si128(_mm_and_si128(u, splat16(0x3F)), splat16(0x80));
  const __m128i lead2 = _mm_or_si128(_mm_srli_epi16(u, 6), splat16(0xC0));

  if (_mm_testz_si128(ge800, ge800)) {
    if (_mm_testz_si128(ge80, ge80)) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(u, u));
      len = 8;
      return 8;
    }
    const __m128i two = _mm_or_si128(last6, _mm_slli_epi16(lead2, 8));
    const __m128i lanes = _mm_blendv_epi8(u, two, ge80);
    const unsigned m =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ge80, zero)));
    store(out, _mm_shuffle_epi8(lanes, pattern(kCompress16.pattern[m])));
    len = kCompress16.length[m];
    return 8;
  }

  const __m128i mid6 = _mm_or_si128(
      _mm_and_si128(_mm_srli_epi16(u, 6), splat16(0x3F)), splat16(0x80));
  const __m128i hi = _mm_or_si128(_mm_srli_epi16(u, 12), splat16(0xE0));
  const __m128i sur =
      _mm_cmpeq_epi16(_mm_and_si128(u, splat16(0xF800)), splat16(0xD800));
  if (allOnes(ge800) && _mm_testz_si128(sur, sur)) {
    // Three bytes each, the common case of CJK text.
    const __m128i lo3 = _mm_or_si128(last6, _mm_slli_epi16(mid6, 8));
    const __m128i all3 = pattern(kCompress32.pattern[0xAA]);
    store(out, _mm_shuffle_epi8(_mm_unpacklo_epi16(lo3, hi), all3));
    store(out + 12, _mm_shuffle_epi8(_mm_unpackhi_epi16(lo3, hi), all3));
    len = 24;
    return 8;
  }
  __m128i lo = _mm_blendv_epi8(
      u,
      _mm_or_si128(last6,
                   _mm_slli_epi16(_mm_blendv_epi8(lead2, mid6, ge800), 8)),
      ge80);

  int n = 8;
  if (!_mm_testz_si128(sur, sur)) {
    if (!Pairs) {
      len = 0;
      return 0;
    }
    const __m128i top6 = _mm_and_si128(u, splat16(0xFC00));
    const __m128i high = _mm_cmpeq_epi16(top6, splat16(0xD800));
    const __m128i low = _mm_cmpeq_epi16(top6, splat16(0xDC00));
    unsigned h =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(high, zero)));
    const unsigned l =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(low, zero)));
    n = unitsTaken(h, 8);
    if (l != h << 1) {
      len = 0;
      return 0;
    }
    // w = the top 11 bits of the scalar value, (high & 0x3FF) + 0x40. The
    // high lane holds the first two bytes, the low lane the last two.
    const __m128i w =
        _mm_add_epi16(_mm_and_si128(u, splat16(0x3FF)), splat16(0x40));
    const __m128i highPart = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(_mm_srli_epi16(w, 2), splat16(0x3F)),
                     splat16(0x80)),
        _mm_slli_epi16(_mm_or_si128(_mm_srli_epi16(w, 8), splat16(0xF0)), 8));
    const __m128i wPrev = _mm_slli_si128(w, 2);
    const __m128i third = _mm_or_si128(
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(wPrev, splat16(3)), 4),
                     _mm_and_si128(_mm_srli_epi16(u, 6), splat16(0xF))),
        splat16(0x80));
    const __m128i lowPart = _mm_or_si128(last6, _mm_slli_epi16(third, 8));
    lo = _mm_blendv_epi8(lo, highPart, high);
    lo = _mm_blendv_epi8(lo, lowPart, low);
    ge800 = _mm_andnot_si128(sur, ge800);
  }

  // Two bits per unit: bit 2j set for two bytes, bit 2j+1 for three.
  const __m128i cls =
      _mm_xor_si128(_mm_and_si128(ge80, splat16(0x00FF)), ge800);
  const unsigned idx = static_cast<unsigned>(_mm_movemask_epi8(cls));
  const unsigned ia = idx & 0xFF;
  const unsigned ib = idx >> 8;
  store(out, _mm_shuffle_epi8(_mm_unpacklo_epi16(lo, hi),
                              pattern(kCompress32.pattern[ia])));
  const std::size_t la = kCompress32.length[ia];
  store(out + la, _mm_shuffle_epi8(_mm_unpackhi_epi16(lo, hi),
                                   pattern(kCompress32.pattern[ib])));
  len = la + kCompress32.length[ib] - (n == 7 ? 2 : 0);
  return n;
}

// The UTF-8 lanes of four scalar values: every byte as a continuation byte
// of its 6-bit field, then the lead marker added to the top field of each
// length; ASCII lanes keep the value itself.
BQ_TARGET_SSE inline __m128i wideLanes(__m128i v, __m128i m80, __m128i m800,
                                       __m128i m10000) {
  __m128i x =
      _mm_or_si128(_mm_and_si128(v, splat32(0x3F)), splat32(0x80808080));
  x = _mm_or_si128(x, _mm_and_si128(_mm_slli_epi32(v, 2), splat32(0x3F00)));
  x = _mm_or_si128(x, _mm_and_si128(_mm_slli_epi32(v, 4), splat32(0x3F0000)));
  x = _mm_or_si128(x, _mm_and_si128(_mm_slli_epi32(v, 6), splat32(0x3F000000)));
  __m128i mark = _mm_blendv_epi8(splat32(0x4000), splat32(0x600000), m800);
  mark = _mm_blendv_epi8(mark, splat32(0x70000000), m10000);
  return _mm_blendv_epi8(v, _mm_or_si128(x, mark), m80);
}

// Encodes eight UTF-32 scalar values (a, b), some above 0xFFFF, as UTF-8 at
// `out`; returns the byte count.
BQ_TARGET_SSE BQ_ALWAYS_INLINE std::size_t encodeWide8(__m128i a, __m128i b,
                                                       std::uint8_t* out) {
  const __m128i a80 = _mm_cmpgt_epi32(a, splat32(0x7F));
  const __m128i b80 = _mm_cmpgt_epi32(b, splat32(0x7F));
  const __m128i a800 = _mm_cmpgt_epi32(a, splat32(0x7FF));
  const __m128i b800 = _mm_cmpgt_epi32(b, splat32(0x7FF));
  const __m128i a10000 = _mm_cmpgt_epi32(a, splat32(0xFFFF));
  const __m128i b10000 = _mm_cmpgt_epi32(b, splat32(0xFFFF));

  const __m128i p80 = _mm_packs_epi32(a80, b80);
  const __m128i p800 = _mm_packs_epi32(a800, b800);
  const __m128i p10000 = _mm_packs_epi32(a10000, b10000);
  const __m128i cls = _mm_or_si128(
      _mm_and_si128(_mm_xor_si128(_mm_xor_si128(p80, p800), p10000),
                    splat16(0x00FF)),
      _mm_and_si128(p800, splat16(0xFF00)));
  const unsigned idx = static_cast<unsigned>(_mm_movemask_epi8(cls));
  const unsigned ia = idx & 0xFF;
  const unsigned ib = idx >> 8;
  store(out, _mm_shuffle_epi8(wideLanes(a, a80, a800, a10000),
                              pattern(kCompress32.pattern[ia])));
  const std::size_t la = kCompress32.length[ia];
  store(out + la, _mm_shuffle_epi8(wideLanes(b, b80, b800, b10000),
                                   pattern(kCompress32.pattern[ib])));
  return la + kCompress32.length[ib];
}

// Encodes eight UTF-32 units (a, b) as UTF-8 at `out`; returns false when
// one of them is not a scalar value.
BQ_TARGET_SSE BQ_ALWAYS_INLINE bool
encode32x8(__m128i a, __m128i b, std::uint8_t* out, std::size_t& len) {
  if (_mm_testz_si128(_mm_or_si128(a, b), splat32(0xFFFF0000)))
    // Sixteen bits each; the encoder refuses surrogate values.
    return encode8<false>(_mm_packus_epi32(a, b), out, len) != 0;
  if (!allOnes(_mm_and_si128(scalar32(a), scalar32(b))))
    return false;
  len = encodeWide8(a, b, out);
  return true;
}

// The block work of the SSE kernels (encode_body.h).
struct Ops {
  BQ_TARGET_SSE static BQ_ALWAYS_INLINE int classify(const UTF32* p) {
    const __m128i a = load(p);
    const __m128i b = load(p + 4);
    const __m128i bmpA = _mm_cmpeq_epi32(_mm_min_epu32(a, splat32(0xD7FF)), a);
    const __m128i bmpB = _mm_cmpeq_epi32(_mm_min_epu32(b, splat32(0xD7FF)), b);
    if (allOnes(_mm_and_si128(bmpA, bmpB)))
      return 0;
    if (!allOnes(_mm_and_si128(scalar32(a), scalar32(b))))
      return -1;
    return __builtin_popcount(static_cast<unsigned>(
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(a, splat32(0xFFFF)))) |
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(b, splat32(0xFFFF))))
            << 4));
  }
  BQ_TARGET_SSE static BQ_ALWAYS_INLINE void pack(const UTF32* p, UTF16* q) {
    store(q, _mm_packus_epi32(load(p), load(p + 4)));
  }

  BQ_TARGET_SSE static BQ_ALWAYS_INLINE bool
  surrogates(const UTF16* p, unsigned& high, unsigned& low) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i u = load(p);
    const __m128i sur =
        _mm_cmpeq_epi16(_mm_and_si128(u, splat16(0xF800)), splat16(0xD800));
    if (_mm_testz_si128(sur, sur))
      return false;
    const __m128i top6 = _mm_and_si128(u, splat16(0xFC00));
    high = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(top6, splat16(0xD800)), zero)));
    low = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(top6, splat16(0xDC00)), zero)));
    return true;
  }
  BQ_TARGET_SSE static BQ_ALWAYS_INLINE void widen(const UTF16* p, UTF32* q) {
    const __m128i u = load(p);
    store(q, _mm_unpacklo_epi16(u, _mm_setzero_si128()));
    store(q + 4, _mm_unpackhi_epi16(u, _mm_setzero_si128()));
  }
  BQ_TARGET_SSE static BQ_ALWAYS_INLINE void
  pairs(const UTF16* p, UTF32* q, unsigned high, unsigned, int n) {
    for (int i = 0; i < n; ++i) {
      UTF32 c = p[i];
      if (high >> i & 1) {
        c = ((c - 0xD800) << 10) + (p[i + 1] - 0xDC00u) + 0x10000;
        ++i;
      }
      *q++ = c;
    }
  }
};

} // namespace

BQ_TARGET_SSE void sseUtf16To8(const UTF16*& s, const UTF16* sEnd, UTF8*& t,
                               UTF8* tEnd) {
  const UTF16* p = s;
  UTF8* q = t;
  Staging st;
  // Sixteen units a step while there are that many: ASCII together, else
  // in two halves.
  while (sEnd - p >= 8) {
    const __m128i a = load(p);
    std::size_t len;
    if (sEnd - p >= 16) {
      const __m128i b = load(p + 8);
      if (_mm_testz_si128(_mm_or_si128(a, b), splat16(0xFF80)) &&
          st.room(q, tEnd) >= 16) {
        store(st.next(), _mm_packus_epi16(a, b));
        st.commit(16, q);
        p += 16;
        continue;
      }
      const int n = encode8<true>(a, st.next(), len);
      if (n == 0 || len > st.room(q, tEnd))
        break;
      p += n;
      st.commit(len, q);
      if (n != 8)
        continue;
      const int m = encode8<true>(b, st.next(), len);
      if (m == 0 || len > st.room(q, tEnd))
        break;
      p += m;
      st.commit(len, q);
      continue;
    }
    const int n = encode8<true>(a, st.next(), len);
    if (n == 0 || len > st.room(q, tEnd))
      break;
    p += n;
    st.commit(len, q);
  }
  st.flushTo(q);
  s = p;
  t = q;
}

BQ_TARGET_SSE void sseUtf32To8(const UTF32*& s, const UTF32* sEnd, UTF8*& t,
                               UTF8* tEnd) {
  const UTF32* p = s;
  UTF8* q = t;
  Staging st;
  while (sEnd - p >= 8) {
    const __m128i a = load(p);
    const __m128i b = load(p + 4);
    std::size_t len;
    if (sEnd - p >= 16) {
      const __m128i c = load(p + 8);
      const __m128i d = load(p + 12);
      if (_mm_testz_si128(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)),
                          splat32(0xFFFFFF80)) &&
          st.room(q, tEnd) >= 16) {
        store(st.next(),
              _mm_packus_epi16(_mm_packus_epi32(a, b), _mm_packus_epi32(c, d)));
        st.commit(16, q);
        p += 16;
        continue;
      }
      if (!encode32x8(a, b, st.next(), len) || len > st.room(q, tEnd))
        break;
      p += 8;
      st.commit(len, q);
      if (!encode32x8(c, d, st.next(), len) || len > st.room(q, tEnd))
        break;
      p += 8;
      st.commit(len, q);
      continue;
    }
    if (!encode32x8(a, b, st.next(), len) || len > st.room(q, tEnd))
      break;
    p += 8;
    st.commit(len, q);
  }
  st.flushTo(q);
  s = p;
  t = q;
}

BQ_UTF16_UTF32_ENTRY_POINTS(sse, 8, Ops)

} // namespace detail
} // namespace Brackwell

#endif // __x86_64__
