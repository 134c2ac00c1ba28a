// Fault-injection harness for the test suite.
//
// Fallible calls are the non-throwing array allocations (`new (std::nothrow)
// T[n]`, the one form the library uses for its buffers; the test executables
// replace the global operator new/delete family) and the system calls the
// library makes, which the test executables reach through `-Wl,--wrap`
// (alloc_fault.cpp holds both, and the list of those calls).
// Every allocation through any operator new is counted, so a test can
// assert that an operation released everything it took.
//
// Faults are injected only in the thread that armed them:
//
//   bqtest::armPoint(n, EIO);     // the n-th fallible call made from now
//   BQ_STATUS s = op();           // on fails (EIO for a system call)
//   std::string p = bqtest::failedPoint(); // "fstat#2": the 2nd fstat
//   bqtest::disarm();
#ifndef BRACKWELL_TESTS_ALLOC_FAULT_H
#define BRACKWELL_TESTS_ALLOC_FAULT_H

#include <set>
#include <string>

namespace bqtest {

// True where the harness is on: the system calls are wrapped (a static
// library, set by tests/CMakeLists.txt) and so the allocation functions are
// replaced (no ThreadSanitizer).
inline bool callsWrapped() { return BQTEST_WRAP; }

// Makes the n-th fallible call of this thread from now on fail, whether an
// allocation or a system call; a failing system call sets `err` (or returns
// it, for the pthread calls). With `always`, every call of that name fails
// too, with `err`; such failures are not points and do not count.
void armPoint(long n, int err, char const* always = nullptr);
// Stops injecting failures in this thread.
void disarm();
// While paused, this thread's calls neither count nor fail.
void pause(bool on);
// The point that failed since the arm: "new[]#1" or the system call's name
// and which call of that name it was; "" if none failed.
std::string failedPoint();

// Blocks currently allocated through any operator new, in all threads.
long liveBlocks();

// The system calls the harness wraps.
std::set<std::string> listedCalls();

} // namespace bqtest

#endif // BRACKWELL_TESTS_ALLOC_FAULT_H
