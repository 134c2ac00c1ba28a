//===- text/simd/encode_common.h - Shared parts of the encoders -*- C++ -*-===//
//
// Internal to the library; not part of the API.
//
// The SSE and AVX2 encoding kernels (UTF-16 and UTF-32 to UTF-8) first give
// every source unit a lane of its own holding its UTF-8 bytes, then squeeze
// the unused bytes out with one byte shuffle per 16 bytes. These tables hold
// those shuffles, built here at compile time; the staging area below is
// where their output goes. The scalar helpers at the end serve the AVX-512
// kernels too; they are always inlined, and hold no vector code of their
// own.
//
// Lane layout: the bytes of a character sit in its lane in reverse order,
// the last byte of the UTF-8 form in the lane's byte 0 and the lead byte in
// byte n-1, so that every 6-bit field has a fixed place whatever the length.
// The shuffles read each lane from byte n-1 down to byte 0.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_SIMD_ENCODE_COMMON_H
#define BRACKWELL_SRC_TEXT_SIMD_ENCODE_COMMON_H

#if defined(__x86_64__)

#include "brackwell/ConvertUTF.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#define BQ_ALWAYS_INLINE inline __attribute__((always_inline))

namespace Brackwell {
namespace detail {

// One 16-byte shuffle pattern; 0x80 entries give zero bytes.
struct alignas(16) BytePattern {
  std::uint8_t b[16];
};

// Eight 16-bit lanes, each holding a one- or two-byte character. Index bit j
// is set when lane j holds two bytes.
struct Compress16Table {
  BytePattern pattern[256];
  std::uint8_t length[256];
  constexpr Compress16Table() : pattern(), length() {
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int j = 0; j < 8; ++j) {
        if (m >> j & 1)
          pattern[m].b[n++] = static_cast<std::uint8_t>(2 * j + 1);
        pattern[m].b[n++] = static_cast<std::uint8_t>(2 * j);
      }
      length[m] = static_cast<std::uint8_t>(n);
      for (int k = n; k < 16; ++k)
        pattern[m].b[k] = 0x80;
    }
  }
};

// Four 32-bit lanes holding one to four bytes each. Bits 2j and 2j+1 of the
// index give the byte count of lane j, less one.
struct Compress32Table {
  BytePattern pattern[256];
  std::uint8_t length[256];
  constexpr Compress32Table() : pattern(), length() {
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int j = 0; j < 4; ++j)
        for (int k = (m >> (2 * j) & 3); k >= 0; --k)
          pattern[m].b[n++] = static_cast<std::uint8_t>(4 * j + k);
      length[m] = static_cast<std::uint8_t>(n);
      for (int k = n; k < 16; ++k)
        pattern[m].b[k] = 0x80;
    }
  }
};

inline constexpr Compress16Table kCompress16{};
inline constexpr Compress32Table kCompress32{};

// Eight copies of V, 32 bytes: a vector constant kept in memory.
template <std::uint32_t V> struct Splat {
  alignas(32) static constexpr std::uint32_t v[8] = {V, V, V, V, V, V, V, V};
};

// UTF-8 output of the encoders. A squeezed register is stored whole, so its
// last bytes are garbage until the next block overwrites them. A block is
// therefore written here first (up to kSlack bytes past `used`), committed
// only when its exact size fits the room left in the target, and committed
// bytes, whole characters only, are copied to the target.
struct Staging {
  static constexpr std::size_t kSize = 512;
  static constexpr std::size_t kSlack = 96;

  alignas(32) std::uint8_t buf[kSize + kSlack];
  std::size_t used = 0;

  std::uint8_t* next() { return buf + used; }
  // Bytes left for new blocks, with `t` the target cursor.
  std::size_t room(const UTF8* t, const UTF8* tEnd) const {
    return static_cast<std::size_t>(tEnd - t) - used;
  }
  // Commits `len` staged bytes, copying to `t` when the area is full.
  void commit(std::size_t len, UTF8*& t) {
    used += len;
    if (used >= kSize)
      flushTo(t);
  }
  void flushTo(UTF8*& t) {
    if (used == 0)
      return;
    std::memcpy(t, buf, used);
    t += used;
    used = 0;
  }
};

// The units a block of `width` UTF-16 units takes, given the mask `high` of
// its high surrogates: all, or all but the last when that is a high
// surrogate, whose pair is left for the next block (its bit is cleared).
BQ_ALWAYS_INLINE int unitsTaken(unsigned& high, int width) {
  const unsigned last = 1u << (width - 1);
  if ((high & last) == 0)
    return width;
  high &= ~last;
  return width - 1;
}

// Writes the `n` scalar values at p as UTF-16 at q, pairs for those above
// the BMP; the caller has made room. Returns the new target position.
BQ_ALWAYS_INLINE UTF16* putUTF16(const UTF32* p, int n, UTF16* q) {
  for (int i = 0; i < n; ++i) {
    const UTF32 c = p[i];
    if (c > 0xFFFF) {
      *q++ = static_cast<UTF16>(0xD800 + ((c - 0x10000) >> 10));
      *q++ = static_cast<UTF16>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      *q++ = static_cast<UTF16>(c);
    }
  }
  return q;
}

} // namespace detail
} // namespace Brackwell

#endif // __x86_64__
#endif // BRACKWELL_SRC_TEXT_SIMD_ENCODE_COMMON_H
