//===- ConvertUTF.cpp - UTF-8/16/32 conversion routines --------------------===//
//
// The six converters and isLegalUTF8Sequence declared in ConvertUTF.h: the
// fast variants of convert_impl.h, which give the scalar rules' results.
//
//===----------------------------------------------------------------------===//

#include "brackwell/ConvertUTF.h"

#include "convert_impl.h"

extern "C" {

ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart,
                                     const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd,
                                     ConversionFlags flags) {
  return convert_impl::utf32ToUTF16<true>(sourceStart, sourceEnd, targetStart,
                                          targetEnd, flags);
}

ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart,
                                     const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd,
                                     ConversionFlags flags) {
  return convert_impl::utf16ToUTF32<true>(sourceStart, sourceEnd, targetStart,
                                          targetEnd, flags);
}

ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart,
                                    const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  return convert_impl::utf16ToUTF8<true>(sourceStart, sourceEnd, targetStart,
                                         targetEnd, flags);
}

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart,
                                    const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  return convert_impl::utf32ToUTF8<true>(sourceStart, sourceEnd, targetStart,
                                         targetEnd, flags);
}

ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart,
                                    const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd,
                                    ConversionFlags flags) {
  return convert_impl::utf8ToUTF16<true>(sourceStart, sourceEnd, targetStart,
                                         targetEnd, flags);
}

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart,
                                    const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd,
                                    ConversionFlags flags) {
  return convert_impl::utf8ToUTF32<true>(sourceStart, sourceEnd, targetStart,
                                         targetEnd, flags);
}

bool isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd) {
  return convert_impl::isLegalSequence(source, sourceEnd);
}

} // extern "C"
