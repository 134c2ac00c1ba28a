//===- text/simd/decode_sse.cpp - UTF-8 decoding kernels, SSSE3/SSE4.1 -----===//
//
// sseUtf8To16 and sseUtf8To32: the kernel of decode_body.h compiled for
// SSSE3 and SSE4.1, 16 bytes a vector.
//
//===----------------------------------------------------------------------===//

#if defined(__x86_64__)

#define BQ_DECODE_TARGET __attribute__((target("ssse3,sse4.1")))
#include "decode_body.h"

namespace Brackwell {
namespace detail {

BQ_DECODE_TARGET void sseUtf8To16(const UTF8*& s, const UTF8* sEnd, UTF16*& t,
                                  UTF16* tEnd) {
  decode(s, sEnd, t, tEnd);
}

BQ_DECODE_TARGET void sseUtf8To32(const UTF8*& s, const UTF8* sEnd, UTF32*& t,
                                  UTF32* tEnd) {
  decode(s, sEnd, t, tEnd);
}

} // namespace detail
} // namespace Brackwell

#endif // __x86_64__
