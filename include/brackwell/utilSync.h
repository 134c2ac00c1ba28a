//===- brackwell/utilSync.h - Sleep and atomic helpers ----------*- C++ -*-===//
//
// Declares BQUtilSync: a millisecond sleep, atomic increment and decrement of
// an int, and an atomic compare-and-swap of a pointer, all with full ordering.
//
//   int n = 5;
//   BQUtilSync::atomicIncrementAndReturn(n);   // => 6, n == 6
//   void* slot = nullptr;
//   BQUtilSync::doAtomicCompareAndSwap(&slot, nullptr, buf);  // => true
//   BQUtilSync::doAtomicCompareAndSwap(&slot, nullptr, other); // => false
//
//===----------------------------------------------------------------------===//
/// @file
/// BQUtilSync: a millisecond sleep and atomic helpers.
#ifndef BRACKWELL_UTILSYNC_H
#define BRACKWELL_UTILSYNC_H

namespace Brackwell {

/// BQUtilSync
///
/// Static helpers only; no instances and no state.
class BQUtilSync {
public:
  BQUtilSync() = delete;

  /// Blocks the calling thread for `milliseconds` with select().
  ///
  /// @code
  ///   sleep(0)    => 0 at once
  ///   sleep(1500) => 0 after 1.5 s
  /// @endcode
  /// @returns 0 when the full time passed, -1 when a signal ended it early
  /// (the wait is not resumed).
  static int sleep(unsigned int milliseconds);

  /// Adds 1 atomically (wrapping at INT_MAX) and returns the new value.
  static int atomicIncrementAndReturn(int& value);

  /// Subtracts 1 atomically (wrapping at INT_MIN) and returns the new value.
  static int atomicDecrementAndReturn(int& value);

  /// Atomically stores `newValue` into `*location` if it holds `expected`.
  /// @returns true when swapped; false (location unchanged) otherwise.
  static bool doAtomicCompareAndSwap(void** location, void* expected,
                                     void* newValue);
};

} // namespace Brackwell

#endif // BRACKWELL_UTILSYNC_H
