//===- text/simd/encode_body.h - Frames of the encoding kernels -*- C++ -*-===//
//
// Internal to the library; not part of the API. Included only by
// encode_sse.cpp and encode_avx2.cpp, each of which defines BQ_ENCODE_TARGET
// (its target attribute) first. Everything here has internal linkage and
// that file's target attribute, so each instruction set gets its own copy.
// A frame walks the blocks of one direction; the including file gives the
// vector work for one block of its width as the static members of a class
// `Ops`, and the macros at the end make its entry points.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_SIMD_ENCODE_BODY_H
#define BRACKWELL_SRC_TEXT_SIMD_ENCODE_BODY_H

#include "encode_common.h"

namespace Brackwell {
namespace detail {
namespace {

// Walks blocks of at least W source units while that many are left:
// put(p, q) converts the block at p to q, advancing both, or returns false,
// changing nothing, when it takes none. It works on copies of the cursors,
// which the kernel's stores cannot alias, and stores them back at the end.
template <int W, class S, class T, class Put>
BQ_ENCODE_TARGET BQ_ALWAYS_INLINE void blocks(const S*& s, const S* sEnd,
                                              T*& t, Put put) {
  const S* p = s;
  T* q = t;
  while (sEnd - p >= W && put(p, q)) {
  }
  s = p;
  t = q;
}

// To UTF-8 through the staging area, in blocks of W units:
// Ops::block(p, out, len) writes the block at p to out, sets len to its
// bytes and returns the units it took (0: none). Stops at a block that is
// not taken or does not fit.
template <int W, class Ops, class S>
BQ_ENCODE_TARGET BQ_ALWAYS_INLINE void toUTF8(const S*& s, const S* sEnd,
                                              UTF8*& t, UTF8* tEnd) {
  const S* p = s;
  UTF8* q = t;
  Staging st;
  while (sEnd - p >= W) {
    std::size_t len;
    const int n = Ops::block(p, st.next(), len);
    if (n == 0 || len > st.room(q, tEnd))
      break;
    p += n;
    st.commit(len, q);
  }
  st.flushTo(q);
  s = p;
  t = q;
}

// UTF-32 to UTF-16 in blocks of W values: Ops::classify(p) gives -1 when a
// value of the block at p is no scalar value, else how many lie above the
// BMP; Ops::pack(p, q) stores a block without such values as W units at q.
template <int W, class Ops>
BQ_ENCODE_TARGET BQ_ALWAYS_INLINE void toUTF16(const UTF32*& s,
                                               const UTF32* sEnd, UTF16*& t,
                                               UTF16* tEnd) {
  blocks<W>(s, sEnd, t, [tEnd](const UTF32*& p, UTF16*& q) BQ_ENCODE_TARGET {
    const int pairs = Ops::classify(p);
    if (pairs < 0 || tEnd - q < W + pairs)
      return false;
    if (pairs == 0)
      Ops::pack(p, q);
    else
      putUTF16(p, W, q);
    p += W;
    q += W + pairs;
    return true;
  });
}

// UTF-16 to UTF-32 in blocks of W units: Ops::surrogates(p, high, low)
// gives false when the block at p holds no surrogate, else sets the masks
// of its high and low ones; Ops::widen(p, q) stores a block without
// surrogates as W values; Ops::pairs(p, q, high, low, n) stores the values
// of its first n units, in which every high surrogate is followed by its
// low one.
template <int W, class Ops>
BQ_ENCODE_TARGET BQ_ALWAYS_INLINE void toUTF32(const UTF16*& s,
                                               const UTF16* sEnd, UTF32*& t,
                                               UTF32* tEnd) {
  blocks<W>(s, sEnd, t, [tEnd](const UTF16*& p, UTF32*& q) BQ_ENCODE_TARGET {
    unsigned high, low;
    if (!Ops::surrogates(p, high, low)) {
      if (tEnd - q < W)
        return false;
      Ops::widen(p, q);
      p += W;
      q += W;
      return true;
    }
    const int n = unitsTaken(high, W);
    const int out = n - __builtin_popcount(low);
    if (low != high << 1 || tEnd - q < out)
      return false;
    Ops::pairs(p, q, high, low, n);
    p += n;
    q += out;
    return true;
  });
}

} // namespace
} // namespace detail
} // namespace Brackwell

// Entry points of kernels.h for one instruction set, in blocks of W units
// with the block work of `Ops`: `set`Utf16To32 and `set`Utf32To16, and
// with BQ_ENCODE_ENTRY_POINTS `set`Utf16To8 and `set`Utf32To8 too.
#define BQ_UTF16_UTF32_ENTRY_POINTS(set, W, Ops)                               \
  BQ_ENCODE_TARGET void set##Utf16To32(const UTF16*& s, const UTF16* sEnd,     \
                                       UTF32*& t, UTF32* tEnd) {               \
    toUTF32<W, Ops>(s, sEnd, t, tEnd);                                         \
  }                                                                            \
  BQ_ENCODE_TARGET void set##Utf32To16(const UTF32*& s, const UTF32* sEnd,     \
                                       UTF16*& t, UTF16* tEnd) {               \
    toUTF16<W, Ops>(s, sEnd, t, tEnd);                                         \
  }
#define BQ_ENCODE_ENTRY_POINTS(set, W, Ops)                                    \
  BQ_UTF16_UTF32_ENTRY_POINTS(set, W, Ops)                                     \
  BQ_ENCODE_TARGET void set##Utf16To8(const UTF16*& s, const UTF16* sEnd,      \
                                      UTF8*& t, UTF8* tEnd) {                  \
    toUTF8<W, Ops>(s, sEnd, t, tEnd);                                          \
  }                                                                            \
  BQ_ENCODE_TARGET void set##Utf32To8(const UTF32*& s, const UTF32* sEnd,      \
                                      UTF8*& t, UTF8* tEnd) {                  \
    toUTF8<W, Ops>(s, sEnd, t, tEnd);                                          \
  }

#endif // BRACKWELL_SRC_TEXT_SIMD_ENCODE_BODY_H
