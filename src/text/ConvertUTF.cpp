//===- ConvertUTF.cpp - UTF-8/16/32 conversion routines --------------------===//
//
// The six converters and isLegalUTF8Sequence declared in ConvertUTF.h: the
// fast variants of convert_impl.h, which give the reference rules' results.
// A source shorter than kKernelMin units never asks for the block kernels;
// the UTF-8 readers ask only when a kernel is due (kDecodeMin bytes left,
// after a run of ASCII). So short texts pay neither for the dispatch nor
// for a block set-up.
//
//===----------------------------------------------------------------------===//

#include "brackwell/ConvertUTF.h"

#include "convert_impl.h"

using namespace Brackwell::detail;

namespace {

template <class S>
const KernelSet* kernelsFor(const S* const* sourceStart, const S* sourceEnd) {
  return sourceEnd - *sourceStart >= kKernelMin ? bestKernelSet() : nullptr;
}

} // namespace

extern "C" {

ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart,
                                     const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd,
                                     ConversionFlags flags) {
  return utf32ToUTF16<true>(sourceStart, sourceEnd, targetStart, targetEnd,
                       flags, kernelsFor(sourceStart, sourceEnd));
}

ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart,
                                     const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd,
                                     ConversionFlags flags) {
  return utf16ToUTF32<true>(sourceStart, sourceEnd, targetStart, targetEnd,
                       flags, kernelsFor(sourceStart, sourceEnd));
}

ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart,
                                    const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  return utf16ToUTF8<true>(sourceStart, sourceEnd, targetStart, targetEnd,
                       flags, kernelsFor(sourceStart, sourceEnd));
}

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart,
                                    const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  return utf32ToUTF8<true>(sourceStart, sourceEnd, targetStart, targetEnd,
                       flags, kernelsFor(sourceStart, sourceEnd));
}

ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart,
                                    const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd,
                                    ConversionFlags /*flags*/) {
  return utf8ToUTF16(sourceStart, sourceEnd, targetStart, targetEnd,
                     BestKernels{});
}

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart,
                                    const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd,
                                    ConversionFlags /*flags*/) {
  return utf8ToUTF32(sourceStart, sourceEnd, targetStart, targetEnd,
                     BestKernels{});
}

bool isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd) {
  return isLegalSequence(source, sourceEnd);
}

} // extern "C"
