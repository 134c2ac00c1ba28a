//===- brackwell/utilMutex.h - Recursive mutex ------------------*- C++ -*-===//
//
// Declares BQUtilMutex, a recursive mutual-exclusion lock over a POSIX mutex
// that reports failures as BQ_STATUS codes.
//
//   BQUtilMutex m;
//   m.lock();      // => BQ_STS_Success
//   m.lock();      // => BQ_STS_Success (recursive: same thread)
//   m.unlock();    // still held
//   m.unlock();    // released for other threads
//
//===----------------------------------------------------------------------===//
/// @file
/// BQUtilMutex: a recursive mutex.
#ifndef BRACKWELL_UTILMUTEX_H
#define BRACKWELL_UTILMUTEX_H

#include "bqStatus.h"

#include <pthread.h>

namespace Brackwell {

/// BQUtilMutex
///
/// A recursive lock: the holding thread may lock it again without blocking,
/// and other threads get it after as many unlock() calls as there were
/// successful locks. Not copyable.
class BQUtilMutex {
public:
  /// Initialises a recursive pthread mutex.
  BQUtilMutex();
  /// Destroys the mutex; it must not be held.
  ~BQUtilMutex();

  BQUtilMutex(BQUtilMutex const&) = delete;
  BQUtilMutex& operator=(BQUtilMutex const&) = delete;

  /// Blocks until the lock is held.
  /// @returns BQ_STS_Success, or BQ_STS_MutexLockFailed on any error.
  BQ_STATUS lock();

  /// Takes the lock only if that does not block.
  /// @returns BQ_STS_Success when taken; BQ_STS_MutexLockFailed when another
  /// thread holds it or on any error.
  BQ_STATUS tryLock();

  /// Releases one level of the lock.
  /// @returns BQ_STS_Success, or BQ_STS_MutexUnlockFailed on any error, in
  /// particular when the calling thread does not hold the lock.
  BQ_STATUS unlock();

private:
  pthread_mutex_t m_mutex;
};

} // namespace Brackwell

#endif // BRACKWELL_UTILMUTEX_H
