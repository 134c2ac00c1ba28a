//===- text/simd/decode_avx2.cpp - UTF-8 decoding kernels, AVX2 ------------===//
//
// avx2Utf8To16 and avx2Utf8To32: the kernel of decode_body.h compiled for
// AVX2 (with BMI2 and POPCNT, which every AVX2 processor has; the dispatcher
// checks all three), validating and widening 32 bytes a vector.
//
//===----------------------------------------------------------------------===//

#if defined(__x86_64__)

#define BQ_DECODE_TARGET __attribute__((target("avx2,bmi2,popcnt")))
#define BQ_DECODE_AVX2 1
#include "decode_body.h"

BQ_DECODE_ENTRY_POINTS(avx2, BodyWindow)

#endif // __x86_64__
