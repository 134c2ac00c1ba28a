// Fault-injection harness for the test suite.
//
// Fallible calls are the non-throwing array allocations (`new (std::nothrow)
// T[n]`, the one form the library uses for its buffers; the test executables
// replace the global operator new/delete family, alloc_fault.cpp) and the
// system calls the library makes, which the test executables reach through
// `-Wl,--wrap` (fault_calls.cpp, which also holds the list of those calls).
// Every allocation through any operator new is counted, so a test can
// assert that an operation released everything it took.
//
// Faults are injected only in the thread that armed them:
//
//   bqtest::armPoint(n, EIO);     // the n-th fallible call made from now
//   BQ_STATUS s = op();           // on fails (EIO for a system call)
//   bool fired = bqtest::failureInjected();   // bqtest::failedCall(): "fstat"
//   bqtest::disarm();
//
// forEachAllocFailure drives every allocation point of an operation:
//
//   long points = bqtest::forEachAllocFailure([&] { ... });
#ifndef BRACKWELL_TESTS_ALLOC_FAULT_H
#define BRACKWELL_TESTS_ALLOC_FAULT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bqtest {

// False where the allocation functions could not be replaced (under
// ThreadSanitizer); the other functions then count and inject nothing.
bool harnessActive();
// True where the system calls are wrapped too (a static library, no
// ThreadSanitizer).
bool callsWrapped();

// Makes the n-th (1-based) non-throwing array allocation made by this thread
// from now on return null. n <= 0 disarms.
void armFailure(long n);
// Makes the n-th fallible call of this thread from now on fail, whether an
// allocation or a system call; a failing system call sets `err` (or returns
// it, for the pthread calls).
void armPoint(long n, int err);
// Until disarm(), every call of this name made by this thread fails with
// `err`; such failures are not points and do not count.
void failAlways(char const* call, int err);
// Stops injecting failures in this thread.
void disarm();
// While paused, this thread's calls neither count nor fail.
void pause(bool on);
// True when the armed failure has fired since the last arm.
bool failureInjected();
// The call that failed: "new[]" or the system call's name; null if none.
char const* failedCall();
// Which call of that name it was since the arm (1 = the first).
int failedOrdinal();

// Non-throwing array allocations made by this thread since the last arm, or
// since resetCount().
long nothrowArrayCount();
void resetCount();
// Blocks currently allocated through any operator new, in all threads.
long liveBlocks();
// Every allocation through any operator new (all threads), ever.
long totalAllocations();

// Points driven in this process, printed when the test executable ends.
void addFailurePoints(long allocations, long calls = 0);
long totalFailurePoints();

// The system calls the harness wraps (with `failedOnly`, those an armed
// point has failed so far).
std::vector<std::string> listedCalls(bool failedOnly = false);

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
    EXPECT_EQ(before, liveBlocks()) << "blocks leaked with allocation " << n
                                    << " failing";
    if (!fired)
      break;
    ++points;
  }
  addFailurePoints(points);
  return points;
}

namespace detail {
// For the system-call wrappers: whether call `id` (its index in the list)
// fails now, and with which error number.
bool injectCall(int id, char const* name, int& err);
bool callFailed(int id);
} // namespace detail

} // namespace bqtest

#endif // BRACKWELL_TESTS_ALLOC_FAULT_H
