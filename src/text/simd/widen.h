//===- text/simd/widen.h - Widening ASCII bytes -----------------*- C++ -*-===//
//
// Internal to the library and its tests; not part of the API.
//
// One SSE2 helper shared by the converters' runs of ASCII and the UTF-8
// decoding kernels. It has no target attribute: every file compiles the same
// SSE2 code for it, it is always inlined (into the kernels' wider code too),
// and a copy emitted out of line could hold nothing that an x86-64 processor
// lacks.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_SIMD_WIDEN_H
#define BRACKWELL_SRC_TEXT_SIMD_WIDEN_H

#include <emmintrin.h>

namespace Brackwell {
namespace detail {

// Widens the 16 ASCII bytes `x` to 16 units (UTF-16 or UTF-32) at t.
template <class T>
inline __attribute__((always_inline)) void widen16(__m128i x, T* t) {
  const __m128i zero = _mm_setzero_si128();
  __m128i* d = reinterpret_cast<__m128i*>(t);
  const __m128i lo = _mm_unpacklo_epi8(x, zero);
  const __m128i hi = _mm_unpackhi_epi8(x, zero);
  if constexpr (sizeof(T) == 2) {
    _mm_storeu_si128(d, lo);
    _mm_storeu_si128(d + 1, hi);
  } else {
    _mm_storeu_si128(d, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(d + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(d + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(d + 3, _mm_unpackhi_epi16(hi, zero));
  }
}

} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_TEXT_SIMD_WIDEN_H
