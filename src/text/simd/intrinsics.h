//===- text/simd/intrinsics.h - The x86 intrinsics --------------*- C++ -*-===//
//
// Internal to the library; not part of the API. <immintrin.h> for the
// kernel files. GCC 12's AVX-512 intrinsics read a deliberately
// uninitialised register for their unused lanes, and its flow analysis warns
// about that inside the header whenever they are inlined; those two warnings
// are off for the header alone.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_SIMD_INTRINSICS_H
#define BRACKWELL_SRC_TEXT_SIMD_INTRINSICS_H

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif // BRACKWELL_SRC_TEXT_SIMD_INTRINSICS_H
