//===- text/simd/kernels.h - Block kernels of the converters ----*- C++ -*-===//
//
// Internal to the library and its tests; not part of the API.
//
// A kernel converts whole blocks of source text and nothing else. It takes a
// block only when every character in it is well formed, the block's whole
// output fits before `tEnd`, and strict and lenient conversion give the same
// result for it (no unpaired surrogate in UTF-16, no surrogate value and no
// value above U+10FFFF in UTF-32). It advances `s` and `t` past what it
// converted and returns; the converters then hand the next character to the
// per-character rules, with the caller's own source and target ends.
//
// A kernel never reads at or past `sEnd`, never writes at or past `tEnd`,
// and leaves every unit after the returned `t` as it was.
//
// Each instruction set has its own files under simd/ (decode_*.cpp for UTF-8
// sources, encode_*.cpp for the others); their entry points are compiled for
// that set only (target attributes, never per-file -m flags, so no shared
// inline code is ever emitted for a newer processor) and are reached through
// the KernelSet that the dispatcher (dispatch.cpp) picks once, from CPU
// detection. Kernels exist on x86-64 only; elsewhere every set is absent and
// the converters use their portable paths.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_SIMD_KERNELS_H
#define BRACKWELL_SRC_TEXT_SIMD_KERNELS_H

#include "brackwell/ConvertUTF.h"

namespace Brackwell {
namespace detail {

using Utf8To16Kernel = void (*)(const UTF8*& s, const UTF8* sEnd, UTF16*& t,
                                UTF16* tEnd);
using Utf8To32Kernel = void (*)(const UTF8*& s, const UTF8* sEnd, UTF32*& t,
                                UTF32* tEnd);
using Utf16To8Kernel = void (*)(const UTF16*& s, const UTF16* sEnd, UTF8*& t,
                                UTF8* tEnd);
using Utf32To8Kernel = void (*)(const UTF32*& s, const UTF32* sEnd, UTF8*& t,
                                UTF8* tEnd);
using Utf16To32Kernel = void (*)(const UTF16*& s, const UTF16* sEnd,
                                 UTF32*& t, UTF32* tEnd);
using Utf32To16Kernel = void (*)(const UTF32*& s, const UTF32* sEnd,
                                 UTF16*& t, UTF16* tEnd);

// One instruction set's kernels; a null entry means "no kernel, use the
// per-character path".
struct KernelSet {
  const char* name;
  Utf8To16Kernel utf8To16;
  Utf8To32Kernel utf8To32;
  Utf16To8Kernel utf16To8;
  Utf32To8Kernel utf32To8;
  Utf16To32Kernel utf16To32;
  Utf32To16Kernel utf32To16;
};

// The best set this processor runs; null when there is none (not x86-64,
// or no SSSE3/SSE4.1). Chosen on first use, under the thread-safe
// initialisation of a function-local static, and fixed from then on: later
// calls cost one load and one test, inline.
const KernelSet* pickBestKernelSet();
inline const KernelSet* bestKernelSet() {
  static const KernelSet* const best = pickBestKernelSet();
  return best;
}

// The set named "sse", "avx2" or "avx512", or null when this build or this
// processor lacks it. For tests and benchmarks, which compare and time each
// set on its own.
const KernelSet* kernelSet(const char* name);

#if defined(__x86_64__)
// The entry points. SSE: target "ssse3,sse4.1"; AVX2: "avx2,bmi2"; AVX-512:
// "avx512f,avx512bw,avx512vl,avx512vbmi2,bmi2".
void sseUtf8To16(const UTF8*& s, const UTF8* sEnd, UTF16*& t, UTF16* tEnd);
void sseUtf8To32(const UTF8*& s, const UTF8* sEnd, UTF32*& t, UTF32* tEnd);
void sseUtf16To8(const UTF16*& s, const UTF16* sEnd, UTF8*& t, UTF8* tEnd);
void sseUtf32To8(const UTF32*& s, const UTF32* sEnd, UTF8*& t, UTF8* tEnd);
void sseUtf16To32(const UTF16*& s, const UTF16* sEnd, UTF32*& t, UTF32* tEnd);
void sseUtf32To16(const UTF32*& s, const UTF32* sEnd, UTF16*& t, UTF16* tEnd);

void avx2Utf8To16(const UTF8*& s, const UTF8* sEnd, UTF16*& t, UTF16* tEnd);
void avx2Utf8To32(const UTF8*& s, const UTF8* sEnd, UTF32*& t, UTF32* tEnd);
void avx2Utf16To8(const UTF16*& s, const UTF16* sEnd, UTF8*& t, UTF8* tEnd);
void avx2Utf32To8(const UTF32*& s, const UTF32* sEnd, UTF8*& t, UTF8* tEnd);
void avx2Utf16To32(const UTF16*& s, const UTF16* sEnd, UTF32*& t, UTF32* tEnd);
void avx2Utf32To16(const UTF32*& s, const UTF32* sEnd, UTF16*& t, UTF16* tEnd);

void avx512Utf8To16(const UTF8*& s, const UTF8* sEnd, UTF16*& t, UTF16* tEnd);
void avx512Utf8To32(const UTF8*& s, const UTF8* sEnd, UTF32*& t, UTF32* tEnd);
void avx512Utf16To8(const UTF16*& s, const UTF16* sEnd, UTF8*& t, UTF8* tEnd);
void avx512Utf32To8(const UTF32*& s, const UTF32* sEnd, UTF8*& t, UTF8* tEnd);
void avx512Utf16To32(const UTF16*& s, const UTF16* sEnd, UTF32*& t,
                     UTF32* tEnd);
void avx512Utf32To16(const UTF32*& s, const UTF32* sEnd, UTF16*& t,
                     UTF16* tEnd);
#endif

} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_TEXT_SIMD_KERNELS_H
