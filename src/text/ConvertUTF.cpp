//===- ConvertUTF.cpp - UTF-8/16/32 conversion routines --------------------===//
//
// The six converters and isLegalUTF8Sequence declared in ConvertUTF.h: the
// fast variants of convert_impl.h, which give the reference rules' results.
// They fetch the block kernels from the dispatcher only when a kernel is due
// (kKernelMin units left, kDecodeMin bytes for UTF-8, and for the UTF-8
// readers after a run of ASCII), so short texts pay neither for the dispatch
// nor for a block set-up.
//
//===----------------------------------------------------------------------===//

#include "brackwell/ConvertUTF.h"

#include "convert_impl.h"

using namespace Brackwell::detail;

#define BQ_ROUTINE(name, routine, S, T)                                        \
  ConversionResult routine(const S** sourceStart, const S* sourceEnd,          \
                           T** targetStart, T* targetEnd,                     \
                           ConversionFlags flags) {                           \
    return convert<true>(sourceStart, sourceEnd, targetStart, targetEnd,       \
                         flags, BestKernels{});                                \
  }

extern "C" {

BQ_DIRECTIONS(BQ_ROUTINE)

bool isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd) {
  return isLegalSequence(source, sourceEnd);
}

} // extern "C"
