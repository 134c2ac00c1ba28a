// Allocation-failure harness for the test suite.
//
// The test executables replace the whole global operator new/delete family
// (alloc_fault.cpp) with malloc/free wrappers that
//   - count the live blocks of every allocation, so a test can assert that
//     an operation released everything it took, and
//   - can make the N-th non-throwing array allocation (`new (std::nothrow)
//     T[n]`, the one form the library uses for its buffers) in the arming
//     thread return null.
//
// Typical use: drive every failure point of an operation until it runs
// through without an injected failure, checking the stated outcome each time:
//
//   long points = bqtest::forEachAllocFailure([&] {
//     try {
//       BQFileSpec p("a", "b", BQFileSpec::ENCODING_NATIVE);
//       EXPECT_FALSE(bqtest::failureInjected());
//     } catch (BQUtilException const& e) {
//       EXPECT_TRUE(bqtest::failureInjected());
//       EXPECT_EQ(8, e.code);
//     }
//   });
//
// forEachAllocFailure asserts (with gtest) that no block leaked in any run
// and adds the number of points driven to a process-wide total that the test
// environment prints at exit ("allocation-failure points driven: N").
#ifndef BRACKWELL_TESTS_ALLOC_FAULT_H
#define BRACKWELL_TESTS_ALLOC_FAULT_H

#include <gtest/gtest.h>

namespace bqtest {

// False where the allocation functions could not be replaced (under
// ThreadSanitizer); the other functions then count and inject nothing.
bool harnessActive();

// Makes the n-th (1-based) non-throwing array allocation made by this thread
// from now on return null. n <= 0 disarms.
void armFailure(long n);
// Stops injecting failures in this thread.
void disarm();
// True when the armed failure has fired since the last armFailure().
bool failureInjected();
// Non-throwing array allocations made by this thread since the last arm, or
// since resetCount().
long nothrowArrayCount();
void resetCount();
// Blocks currently allocated through any operator new, in all threads.
long liveBlocks();
// Every allocation through any operator new (all threads), ever.
long totalAllocations();

// Total failure points driven by forEachAllocFailure in this process.
long totalFailurePoints();
void addFailurePoints(long n);

// Runs `op` with the 1st, 2nd, ... non-throwing array allocation failing,
// until a run completes with no failure injected (that last run is the
// success run). Checks that liveBlocks() is the same after each run as
// before it. Returns the number of runs in which a failure was injected.
template <class Op> long forEachAllocFailure(Op&& op, long limit = 100000) {
  long points = 0;
  for (long n = 1; n <= limit; ++n) {
    long before = liveBlocks();
    armFailure(n);
    op();
    bool fired = failureInjected();
    disarm();
    long after = liveBlocks();
    EXPECT_EQ(before, after) << "blocks leaked with allocation " << n
                             << " failing";
    if (!fired)
      break;
    ++points;
  }
  addFailurePoints(points);
  return points;
}

} // namespace bqtest

#endif // BRACKWELL_TESTS_ALLOC_FAULT_H
