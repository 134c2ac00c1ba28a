//===- text/simd/dispatch.cpp - Choosing the block kernels -----------------===//
//
// One KernelSet per instruction set, and the choice among them. The choice
// is made once, on first use, under the thread-safe initialisation of a
// function-local static (bestKernelSet in kernels.h); afterwards it is a
// constant read without a lock.
// An entry left null has no kernel for that set: the converters then use
// their per-character paths for that direction.
//
//===----------------------------------------------------------------------===//

#include "kernels.h"

#include <cstring>

namespace Brackwell {
namespace detail {

#if defined(__x86_64__)

namespace {

// Entries in the order of KernelSet: utf8To16, utf8To32, utf16To8,
// utf32To8, utf16To32, utf32To16.
const KernelSet kSse = {"sse",        sseUtf8To16,  sseUtf8To32,
                        sseUtf16To8,  sseUtf32To8,  sseUtf16To32,
                        sseUtf32To16};
const KernelSet kAvx2 = {"avx2",        avx2Utf8To16,  avx2Utf8To32,
                         avx2Utf16To8,  avx2Utf32To8,  avx2Utf16To32,
                         avx2Utf32To16};
const KernelSet kAvx512 = {"avx512",        avx512Utf8To16,  avx512Utf8To32,
                           avx512Utf16To8,  avx512Utf32To8,  avx512Utf16To32,
                           avx512Utf32To16};

bool hasSse() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
}

bool hasAvx2() {
  return hasSse() && __builtin_cpu_supports("avx2") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

bool hasAvx512() {
  return hasAvx2() && __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512vbmi2");
}

const KernelSet* pickBest() {
  if (hasAvx512())
    return &kAvx512;
  if (hasAvx2())
    return &kAvx2;
  if (hasSse())
    return &kSse;
  return nullptr;
}

} // namespace

const KernelSet* pickBestKernelSet() { return pickBest(); }

const KernelSet* kernelSet(const char* name) {
  if (std::strcmp(name, "sse") == 0)
    return hasSse() ? &kSse : nullptr;
  if (std::strcmp(name, "avx2") == 0)
    return hasAvx2() ? &kAvx2 : nullptr;
  if (std::strcmp(name, "avx512") == 0)
    return hasAvx512() ? &kAvx512 : nullptr;
  return nullptr;
}

#else

const KernelSet* pickBestKernelSet() { return nullptr; }
const KernelSet* kernelSet(const char*) { return nullptr; }

#endif

} // namespace detail
} // namespace Brackwell
