//===- text/simd/decode_tables.h - Tables of the UTF-8 decoders -*- C++ -*-===//
//
// Internal to the library; not part of the API.
//
// Constant tables shared by the UTF-8 decoding kernels (decode_*.cpp), all
// computed at compile time. Data only: no function here is ever called at
// run time, so nothing in this header is compiled for one instruction set
// and reached from another.
//
// Validation looks at every byte together with the byte before it: three
// 16-entry tables, indexed by the previous byte's high nibble, its low
// nibble and the current byte's high nibble, each hold the error classes
// that nibble allows; a byte pair is in error where a class is allowed by
// all three (the tables' AND). Two continuation bytes in a row are flagged
// as well and cancelled again where a three- or four-byte lead two or three
// places back requires them.
//
// Decoding works on 12-byte windows. Bit i of a window's mask is set when
// byte i is the last byte of a character. The index table maps each of the
// 4096 masks to a pattern: a byte shuffle that moves the bytes of each of the
// first characters into a lane of their own, last byte lowest, and the
// number of bytes and characters that the pattern consumes. The lane width
// is chosen by the characters' lengths:
//   kind 1: six characters of one or two bytes, 16-bit lanes;
//   kind 2: up to four characters of up to three bytes, 32-bit lanes;
//   kind 3: up to three characters of up to four bytes, 32-bit lanes.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_SIMD_DECODE_TABLES_H
#define BRACKWELL_SRC_TEXT_SIMD_DECODE_TABLES_H

#include <cstdint>

namespace Brackwell {
namespace detail {

// Error classes of a byte pair (previous byte P, current byte C).
enum : std::uint8_t {
  kTooShort = 0x01,     // a lead not followed by a continuation
  kTooLong = 0x02,      // a continuation after ASCII
  kOverlong2 = 0x04,    // C0 or C1 and a continuation
  kOverlong3 = 0x08,    // E0 80-9F
  kSurrogate = 0x10,    // ED A0-BF
  kTooLarge = 0x20,     // F4-FF 90-BF
  kTooLarge80 = 0x40,   // F5-FF 80-8F, and the overlong F0 80-8F
  kTwoConts = 0x80,     // a continuation after a continuation
};

struct NibbleRule {
  std::uint8_t error;
  std::uint8_t prevHigh[2], prevLow[2], curHigh[2]; // inclusive ranges
};

// A class is listed once per range; two rows with the same class differ in
// one nibble only, so the AND of the tables flags exactly their union.
constexpr NibbleRule kPairRules[] = {
    {kTooShort, {0xC, 0xF}, {0x0, 0xF}, {0x0, 0x7}},
    {kTooShort, {0xC, 0xF}, {0x0, 0xF}, {0xC, 0xF}},
    {kTooLong, {0x0, 0x7}, {0x0, 0xF}, {0x8, 0xB}},
    {kOverlong2, {0xC, 0xC}, {0x0, 0x1}, {0x8, 0xB}},
    {kOverlong3, {0xE, 0xE}, {0x0, 0x0}, {0x8, 0x9}},
    {kSurrogate, {0xE, 0xE}, {0xD, 0xD}, {0xA, 0xB}},
    {kTooLarge, {0xF, 0xF}, {0x4, 0xF}, {0x9, 0xB}},
    {kTooLarge80, {0xF, 0xF}, {0x0, 0x0}, {0x8, 0x8}},
    {kTooLarge80, {0xF, 0xF}, {0x5, 0xF}, {0x8, 0x8}},
    {kTwoConts, {0x8, 0xB}, {0x0, 0xF}, {0x8, 0xB}},
};

struct NibbleTables {
  std::uint8_t prevHigh[16], prevLow[16], curHigh[16];
  constexpr NibbleTables() : prevHigh(), prevLow(), curHigh() {
    for (const NibbleRule& r : kPairRules)
      for (int n = 0; n < 16; ++n) {
        if (n >= r.prevHigh[0] && n <= r.prevHigh[1]) prevHigh[n] |= r.error;
        if (n >= r.prevLow[0] && n <= r.prevLow[1]) prevLow[n] |= r.error;
        if (n >= r.curHigh[0] && n <= r.curHigh[1]) curHigh[n] |= r.error;
      }
  }
};
inline constexpr NibbleTables kNibbleTables;

// The payload mask of a byte, by its high nibble: ASCII keeps 7 bits, a
// continuation 6, a two-, three- or four-byte lead 5, 4 or 3.
struct PayloadMasks {
  std::uint8_t v[16];
  constexpr PayloadMasks() : v() {
    for (int n = 0; n < 16; ++n)
      v[n] = n < 8 ? 0x7F : n < 12 ? 0x3F : n < 14 ? 0x1F : n < 15 ? 0x0F : 0x07;
  }
};
inline constexpr PayloadMasks kPayloadMasks;

struct DecodePattern {
  std::uint8_t shuffle[16];
  std::uint8_t consumed; // bytes
  std::uint8_t count;    // characters
  std::uint8_t kind;     // 1, 2 or 3, as above
};

constexpr int kDecodePatterns = 64 + 120 + 84;

struct DecodeTables {
  std::uint16_t index[4096];
  DecodePattern patterns[kDecodePatterns];

  constexpr DecodeTables() : index{}, patterns{} {
    for (int mask = 0; mask < 4096; ++mask) {
      // The lengths of the characters that end inside the window.
      int lens[12] = {}, count = 0, start = 0;
      for (int i = 0; i < 12; ++i)
        if (mask >> i & 1) {
          if (i - start + 1 > 4) break;
          lens[count++] = i - start + 1;
          start = i + 1;
        }
      if (count == 0) lens[count++] = 1; // no whole character: unreachable
      int kind = 3, take = count < 3 ? count : 3;
      bool upTo2 = count >= 6, upTo3 = true;
      for (int k = 0; k < 6 && k < count; ++k) upTo2 = upTo2 && lens[k] <= 2;
      for (int k = 0; k < 4 && k < count; ++k) upTo3 = upTo3 && lens[k] <= 3;
      if (upTo2) {
        kind = 1;
        take = 6;
      } else if (upTo3) {
        kind = 2;
        take = count < 4 ? count : 4;
      }
      // The pattern's number: kind 1 by six lengths of 1-2, kind 2 by 1-4
      // lengths of 1-3, kind 3 by 1-3 lengths of 1-4, each a mixed-radix
      // number after the numbers of the shorter sequences.
      const int radix = kind == 1 ? 2 : kind == 2 ? 3 : 4;
      int key = 0, before = 0, power = 1;
      for (int c = 1; c < take; ++c) {
        power *= radix;
        before += power;
      }
      for (int k = take - 1; k >= 0; --k) key = key * radix + (lens[k] - 1);
      key += kind == 1 ? 0 : kind == 2 ? 64 + before : 184 + before;
      index[mask] = static_cast<std::uint16_t>(key);
      DecodePattern& p = patterns[key];
      const int width = kind == 1 ? 2 : 4;
      int end = -1;
      for (int b = 0; b < 16; ++b) p.shuffle[b] = 0x80;
      for (int k = 0; k < take; ++k) {
        end += lens[k];
        for (int j = 0; j < lens[k]; ++j)
          p.shuffle[k * width + j] = static_cast<std::uint8_t>(end - j);
      }
      p.consumed = static_cast<std::uint8_t>(end + 1);
      p.count = static_cast<std::uint8_t>(take);
      p.kind = static_cast<std::uint8_t>(kind);
    }
  }
};
inline constexpr DecodeTables kDecodeTables;

// Squeezing eight 16-bit lanes: for each 8-bit mask of lanes to keep, the
// byte shuffle that moves the kept lanes to the front, in order, and their
// number.
struct CompressTables {
  std::uint8_t shuffle[256][16];
  std::uint8_t count[256];
  constexpr CompressTables() : shuffle{}, count{} {
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int lane = 0; lane < 8; ++lane)
        if (m >> lane & 1) {
          shuffle[m][2 * n] = static_cast<std::uint8_t>(2 * lane);
          shuffle[m][2 * n + 1] = static_cast<std::uint8_t>(2 * lane + 1);
          ++n;
        }
      for (int b = 2 * n; b < 16; ++b) shuffle[m][b] = 0x80;
      count[m] = static_cast<std::uint8_t>(n);
    }
  }
};
inline constexpr CompressTables kCompress;

// Writing up to four 32-bit lanes as UTF-16: each lane holds one unit, or a
// surrogate pair (high unit in the low half); for each 4-bit mask of pair
// lanes, the byte shuffle that lines the units up.
struct PairTables {
  std::uint8_t shuffle[16][16];
  constexpr PairTables() : shuffle{} {
    for (int m = 0; m < 16; ++m) {
      int b = 0;
      for (int lane = 0; lane < 4; ++lane) {
        shuffle[m][b++] = static_cast<std::uint8_t>(4 * lane);
        shuffle[m][b++] = static_cast<std::uint8_t>(4 * lane + 1);
        if (m >> lane & 1) {
          shuffle[m][b++] = static_cast<std::uint8_t>(4 * lane + 2);
          shuffle[m][b++] = static_cast<std::uint8_t>(4 * lane + 3);
        }
      }
      while (b < 16) shuffle[m][b++] = 0x80;
    }
  }
};
inline constexpr PairTables kPairShuffles;

} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_TEXT_SIMD_DECODE_TABLES_H
