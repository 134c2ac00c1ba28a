// The kernel comparison again, with the portable word paths that builds
// without SSE2 use (and no kernels); and, since this build shares no inline
// code with the library, the tests of the public routines.
#define BRACKWELL_NO_SIMD 1
#include "test_convert_kernels.cpp"
