//===- ConvertUTF.cpp - UTF-8/16/32 conversion routines --------------------===//
//
// The six converters and isLegalUTF8Sequence declared in ConvertUTF.h.
//
// Every converter follows one frame: it walks the source one character at a
// time, decides from the source (and only then from the target room, except
// for UTF-32 to UTF-16, which tests the room first) whether the character can
// be taken, and writes it whole or not at all. On every return both cursors
// are stored back: the source cursor at the first unit of the character that
// was not taken, the target cursor after the last character written.
//
//===----------------------------------------------------------------------===//

#include "brackwell/ConvertUTF.h"

#include <cstddef>

namespace {

constexpr UTF32 kReplacementChar = 0xFFFD;
constexpr UTF32 kMaxBMP = 0xFFFF;
constexpr UTF32 kMaxLegalUTF32 = 0x10FFFF;
constexpr UTF32 kSurHighStart = 0xD800;
constexpr UTF32 kSurHighEnd = 0xDBFF;
constexpr UTF32 kSurLowStart = 0xDC00;
constexpr UTF32 kSurLowEnd = 0xDFFF;
constexpr int kHalfShift = 10;
constexpr UTF32 kHalfBase = 0x10000;
constexpr UTF32 kHalfMask = 0x3FF;

// Number of continuation bytes announced by each lead byte. Bytes that cannot
// lead (0x80-0xBF) announce none; 0xF8-0xFF announce the five- and six-byte
// forms, which are never legal but still decide how much input is needed.
struct TrailingTable {
  signed char v[256];
  constexpr TrailingTable() : v() {
    for (int i = 0; i < 256; ++i)
      v[i] = static_cast<signed char>(i < 0xC0   ? 0
                                      : i < 0xE0 ? 1
                                      : i < 0xF0 ? 2
                                      : i < 0xF8 ? 3
                                      : i < 0xFC ? 4
                                                 : 5);
  }
};
constexpr TrailingTable trailingBytesForUTF8;

// The marker bits that accumulating a (k+1)-byte sequence adds, indexed by k.
constexpr UTF32 offsetsFromUTF8[6] = {0x00000000UL, 0x00003080UL,
                                      0x000E2080UL, 0x03C82080UL,
                                      0xFA082080UL, 0x82082080UL};

// Lead-byte markers for UTF-8 forms of 1 to 4 bytes, indexed by length.
constexpr UTF8 firstByteMark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};

inline bool isSurrogate(UTF32 c) { return c >= kSurHighStart && c <= kSurLowEnd; }
inline bool isHigh(UTF32 c) { return c >= kSurHighStart && c <= kSurHighEnd; }
inline bool isLow(UTF32 c) { return c >= kSurLowStart && c <= kSurLowEnd; }

inline int trailingBytes(UTF8 lead) {
  return trailingBytesForUTF8.v[lead];
}

// Whether the `length` bytes at `s` are one well-formed UTF-8 sequence. The
// caller guarantees that `length` bytes are readable and that `length` is
// the length announced by the lead byte.
bool isLegalUTF8(const UTF8* s, int length) {
  if (length > 4) return false;
  UTF8 a;
  switch (length) {
    case 4:
      if ((a = s[3]) < 0x80 || a > 0xBF) return false;
      [[fallthrough]];
    case 3:
      if ((a = s[2]) < 0x80 || a > 0xBF) return false;
      [[fallthrough]];
    case 2:
      a = s[1];
      switch (s[0]) {
        case 0xE0: if (a < 0xA0 || a > 0xBF) return false; break;
        case 0xED: if (a < 0x80 || a > 0x9F) return false; break;
        case 0xF0: if (a < 0x90 || a > 0xBF) return false; break;
        case 0xF4: if (a < 0x80 || a > 0x8F) return false; break;
        default:   if (a < 0x80 || a > 0xBF) return false; break;
      }
      [[fallthrough]];
    default:
      // Continuation bytes and the overlong leads 0xC0/0xC1 never lead.
      if (s[0] >= 0x80 && s[0] < 0xC2) return false;
  }
  return s[0] <= 0xF4;
}

// Decodes the well-formed sequence of extra+1 bytes at `s`.
inline UTF32 decodeUTF8(const UTF8* s, int extra) {
  UTF32 ch = 0;
  switch (extra) {
    case 3: ch += *s++; ch <<= 6; [[fallthrough]];
    case 2: ch += *s++; ch <<= 6; [[fallthrough]];
    case 1: ch += *s++; ch <<= 6; [[fallthrough]];
    default: ch += *s;
  }
  return ch - offsetsFromUTF8[extra];
}

// Length of the UTF-8 form of `ch` (at most 0x10FFFF or a lone surrogate).
inline std::ptrdiff_t utf8Length(UTF32 ch) {
  return ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
}

// Writes the `length`-byte UTF-8 form of `ch` at `t`; returns the end.
inline UTF8* encodeUTF8(UTF32 ch, std::ptrdiff_t length, UTF8* t) {
  t += length;
  UTF8* end = t;
  switch (length) {
    case 4: *--t = static_cast<UTF8>((ch | 0x80) & 0xBF); ch >>= 6; [[fallthrough]];
    case 3: *--t = static_cast<UTF8>((ch | 0x80) & 0xBF); ch >>= 6; [[fallthrough]];
    case 2: *--t = static_cast<UTF8>((ch | 0x80) & 0xBF); ch >>= 6; [[fallthrough]];
    default: *--t = static_cast<UTF8>(ch | firstByteMark[length]);
  }
  return end;
}

// Reads one character of UTF-16 at `*source` (source tests only). On success
// stores the value, advances `*source` past its units and returns
// conversionOK; otherwise leaves `*source` alone and returns the stop code.
inline ConversionResult readUTF16(const UTF16** source, const UTF16* sourceEnd,
                                  bool lenient, UTF32* out) {
  const UTF16* s = *source;
  UTF32 ch = *s++;
  if (isHigh(ch)) {
    if (s >= sourceEnd) return sourceExhausted;
    const UTF32 ch2 = *s;
    if (isLow(ch2)) {
      ch = ((ch - kSurHighStart) << kHalfShift) + (ch2 - kSurLowStart) + kHalfBase;
      ++s;
    } else if (!lenient) {
      return sourceIllegal;
    }
  } else if (!lenient && isLow(ch)) {
    return sourceIllegal;
  }
  *out = ch;
  *source = s;
  return conversionOK;
}

// Reads one UTF-8 sequence at `*source` (source tests only), with the same
// contract as readUTF16. Leniency does not apply: ill-formed input is never
// replaced.
inline ConversionResult readUTF8(const UTF8** source, const UTF8* sourceEnd,
                                 UTF32* out, const UTF8** next) {
  const UTF8* s = *source;
  const int extra = trailingBytes(*s);
  if (extra >= sourceEnd - s) return sourceExhausted;
  if (!isLegalUTF8(s, extra + 1)) return sourceIllegal;
  *out = decodeUTF8(s, extra);
  *next = s + extra + 1;
  return conversionOK;
}

} // namespace

extern "C" {

ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart,
                                     const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd,
                                     ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const UTF32* source = *sourceStart;
  UTF16* target = *targetStart;
  while (source < sourceEnd) {
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    const UTF32 ch = *source;
    if (ch <= kMaxBMP) {
      if (isSurrogate(ch)) {
        if (!lenient) {
          result = sourceIllegal;
          break;
        }
        *target++ = static_cast<UTF16>(kReplacementChar);
      } else {
        *target++ = static_cast<UTF16>(ch);
      }
    } else if (ch > kMaxLegalUTF32) {
      // Strict mode drops the value and goes on; lenient mode replaces it.
      if (lenient)
        *target++ = static_cast<UTF16>(kReplacementChar);
      else
        result = sourceIllegal;
    } else {
      if (targetEnd - target < 2) {
        result = targetExhausted;
        break;
      }
      const UTF32 v = ch - kHalfBase;
      *target++ = static_cast<UTF16>((v >> kHalfShift) + kSurHighStart);
      *target++ = static_cast<UTF16>((v & kHalfMask) + kSurLowStart);
    }
    ++source;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart,
                                     const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd,
                                     ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const UTF16* source = *sourceStart;
  UTF32* target = *targetStart;
  while (source < sourceEnd) {
    const UTF16* next = source;
    UTF32 ch;
    result = readUTF16(&next, sourceEnd, lenient, &ch);
    if (result != conversionOK) break;
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    *target++ = ch;
    source = next;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart,
                                    const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const UTF16* source = *sourceStart;
  UTF8* target = *targetStart;
  while (source < sourceEnd) {
    const UTF16* next = source;
    UTF32 ch;
    result = readUTF16(&next, sourceEnd, lenient, &ch);
    if (result != conversionOK) break;
    const std::ptrdiff_t length = utf8Length(ch);
    if (targetEnd - target < length) {
      result = targetExhausted;
      break;
    }
    target = encodeUTF8(ch, length, target);
    source = next;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart,
                                    const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd,
                                    ConversionFlags flags) {
  ConversionResult result = conversionOK;
  const bool lenient = flags != 0;
  const UTF32* source = *sourceStart;
  UTF8* target = *targetStart;
  while (source < sourceEnd) {
    UTF32 ch = *source;
    if (!lenient && isSurrogate(ch)) {
      result = sourceIllegal;
      break;
    }
    if (ch > kMaxLegalUTF32) {
      // Replaced in both modes; the result records it and the walk goes on.
      ch = kReplacementChar;
      result = sourceIllegal;
    }
    const std::ptrdiff_t length = utf8Length(ch);
    if (targetEnd - target < length) {
      result = targetExhausted;
      break;
    }
    target = encodeUTF8(ch, length, target);
    ++source;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart,
                                    const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd,
                                    ConversionFlags /*flags*/) {
  ConversionResult result = conversionOK;
  const UTF8* source = *sourceStart;
  UTF16* target = *targetStart;
  while (source < sourceEnd) {
    const UTF8* next;
    UTF32 ch;
    result = readUTF8(&source, sourceEnd, &ch, &next);
    if (result != conversionOK) break;
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    if (ch <= kMaxBMP) {
      *target++ = static_cast<UTF16>(ch);
    } else {
      if (targetEnd - target < 2) {
        result = targetExhausted;
        break;
      }
      const UTF32 v = ch - kHalfBase;
      *target++ = static_cast<UTF16>((v >> kHalfShift) + kSurHighStart);
      *target++ = static_cast<UTF16>((v & kHalfMask) + kSurLowStart);
    }
    source = next;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart,
                                    const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd,
                                    ConversionFlags /*flags*/) {
  ConversionResult result = conversionOK;
  const UTF8* source = *sourceStart;
  UTF32* target = *targetStart;
  while (source < sourceEnd) {
    const UTF8* next;
    UTF32 ch;
    result = readUTF8(&source, sourceEnd, &ch, &next);
    if (result != conversionOK) break;
    if (target >= targetEnd) {
      result = targetExhausted;
      break;
    }
    *target++ = ch;
    source = next;
  }
  *sourceStart = source;
  *targetStart = target;
  return result;
}

bool isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd) {
  const int length = trailingBytes(*source) + 1;
  if (sourceEnd - source < length) return false;
  return isLegalUTF8(source, length);
}

} // extern "C"
