//===- text/simd/decode_sse.cpp - UTF-8 decoding kernels, SSSE3/SSE4.1 -----===//
//
// sseUtf8To16 and sseUtf8To32: the kernel of decode_body.h compiled for
// SSSE3 and SSE4.1, 16 bytes a vector.
//
//===----------------------------------------------------------------------===//

#if defined(__x86_64__)

#define BQ_DECODE_TARGET __attribute__((target("ssse3,sse4.1")))
#include "decode_body.h"

BQ_DECODE_ENTRY_POINTS(sse, BodyWindow)

#endif // __x86_64__
