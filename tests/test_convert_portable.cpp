// The fast-versus-scalar comparison again, with the portable block paths
// that builds without SSE2 use.
#define BRACKWELL_NO_SIMD 1
#include "test_convert_fast.cpp"
