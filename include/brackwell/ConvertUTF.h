//===- brackwell/ConvertUTF.h - UTF-8/16/32 conversion routines --*- C++ -*-===//
//
// Declares six routines that convert text among UTF-8, UTF-16 and UTF-32
// between caller-supplied buffers, and isLegalUTF8Sequence, which tells
// whether one UTF-8 sequence is well formed. They are plain C functions
// (unmangled names, outside namespace Brackwell); they allocate nothing,
// keep no state, never write a terminator and never look for one.
//
//   const UTF8* src = bytes;           UTF16* dst = units;
//   ConversionResult r = ConvertUTF8toUTF16(&src, bytes + n, &dst,
//                                           units + cap, strictConversion);
//   // r == conversionOK: all n bytes consumed, dst - units units written.
//   // Otherwise src points at the first character not converted and
//   // everything before it is in [units, dst): the call can be resumed.
//
// Every converter takes (sourceStart, sourceEnd, targetStart, targetEnd,
// flags). Both cursors are rewritten on every return. A character is written
// whole or not at all.
//
//===----------------------------------------------------------------------===//
/// @file
/// The Unicode conversion routines among UTF-8, UTF-16 and UTF-32.
#ifndef BRACKWELL_CONVERTUTF_H
#define BRACKWELL_CONVERTUTF_H

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#include <stdbool.h>
#endif

/// A UTF-8 code unit (byte).
typedef uint8_t UTF8;
/// A UTF-16 code unit.
typedef uint16_t UTF16;
/// A UTF-32 code unit: one code point.
typedef uint32_t UTF32;

// In C++ both enumerations have the fixed underlying type int, so every int
// value (a flags value of 7, say) is a valid value of the type; C sees the
// same enumerators as plain int-sized enums.

/// ConversionResult
///
/// The outcome of a conversion.
typedef enum ConversionResult
#ifdef __cplusplus
    : int
#endif
{
  conversionOK = 0,    ///< every source unit was consumed and converted
  sourceExhausted = 1, ///< the source ends inside a character
  targetExhausted = 2, ///< the target has no room for the next character
  sourceIllegal = 3    ///< an ill-formed or out-of-range character was met
} ConversionResult;

/// ConversionFlags
///
/// Only tested against zero: any non-zero value acts as lenientConversion.
typedef enum ConversionFlags
#ifdef __cplusplus
    : int
#endif
{
  strictConversion = 0, ///< a lone surrogate stops the conversion
  lenientConversion = 1 ///< a lone surrogate is kept or becomes U+FFFD, as
                        ///< each routine says; ill-formed UTF-8 still stops it
} ConversionFlags;

#ifdef __cplusplus
extern "C" {
#endif

/// @name Converters
/// @{

/// UTF-32 to UTF-16. The target room is tested before each value is read.
///
/// @code
///   {0x41, 0x1F600}           => {0x41, 0xD83D, 0xDE00}, conversionOK
///   {0xD800} strict           => {}, sourceIllegal (cursor on 0xD800)
///   {0xD800} lenient          => {0xFFFD}, conversionOK
///   {0x41, 0x110000, 0x42}    => strict: {0x41, 0x42}, sourceIllegal
///                                (the value is dropped, conversion goes on)
///                                lenient: {0x41, 0xFFFD, 0x42}, conversionOK
/// @endcode
ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart,
                                     const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd,
                                     ConversionFlags flags);

/// UTF-16 to UTF-32. Source tests come first, the target room test last.
///
/// @code
///   {0xD83D, 0xDE00}        => {0x1F600}, conversionOK
///   {0x41, 0xD800} (end)    => {0x41}, sourceExhausted (both modes)
///   {0xDC00} strict         => {}, sourceIllegal, even with an empty target
///   {0xD800, 0x41} lenient  => {0xD800, 0x41}, conversionOK
/// @endcode
ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart,
                                     const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd,
                                     ConversionFlags flags);

/// UTF-16 to UTF-8. As ConvertUTF16toUTF32, then the UTF-8 form is written
/// when the whole sequence fits.
///
/// @code
///   {0xD800, 0x41} lenient  => ED A0 80 41, conversionOK
///   {0xD800, 0x41} strict   => (nothing), sourceIllegal
/// @endcode
ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart,
                                    const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags);

/// UTF-8 to UTF-16. Ill-formed UTF-8 stops with sourceIllegal in both modes.
///
/// @code
///   E2 82 AC           => {0x20AC}, conversionOK
///   E2 82 (end)        => {}, sourceExhausted (cursor on E2)
///   E2 41 41           => {}, sourceIllegal (cursor on E2)
///   F0 9F 98 80, room 1 => {}, targetExhausted (cursor on F0)
/// @endcode
ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart,
                                    const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd,
                                    ConversionFlags flags);

/// UTF-32 to UTF-8. A value above 0x10FFFF becomes U+FFFD and the result
/// becomes sourceIllegal, in both modes; the conversion goes on.
///
/// @code
///   {0x110000}          => EF BF BD, sourceIllegal
///   {0xD800} strict     => (nothing), sourceIllegal
///   {0xD800} lenient    => ED A0 80, conversionOK
/// @endcode
ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart,
                                    const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags);

/// UTF-8 to UTF-32. Same source rules as ConvertUTF8toUTF16.
///
/// @code
///   68 C3 A9     => {0x68, 0xE9}, conversionOK
///   FF (end)     => {}, sourceExhausted (0xFF announces six bytes)
/// @endcode
ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart,
                                    const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd,
                                    ConversionFlags flags);

/// @}
/// @name Validation
/// @{

/// Whether the sequence that starts at `source` is one well-formed UTF-8
/// character. The range [source, sourceEnd) must hold at least one byte.
///
/// @code
///   41          => true
///   E0 A0 (end) => false (the lead byte announces three bytes)
///   C0 80       => false (overlong)
///   ED A0 80    => false (encoded surrogate)
///   F4 8F BF BF => true  (U+10FFFF)
/// @endcode
bool isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd);

/// @}

#ifdef __cplusplus
} // extern "C"
#endif

#endif // BRACKWELL_CONVERTUTF_H
