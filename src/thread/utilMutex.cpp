// BQUtilMutex: a recursive pthread mutex whose failures become BQ_STATUS
// codes.
#include "brackwell/utilMutex.h"

namespace Brackwell {

BQUtilMutex::BQUtilMutex() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&m_mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

BQUtilMutex::~BQUtilMutex() { pthread_mutex_destroy(&m_mutex); }

BQ_STATUS BQUtilMutex::lock() {
  return pthread_mutex_lock(&m_mutex) == 0 ? BQ_STS_Success
                                           : BQ_STS_MutexLockFailed;
}

BQ_STATUS BQUtilMutex::tryLock() {
  return pthread_mutex_trylock(&m_mutex) == 0 ? BQ_STS_Success
                                              : BQ_STS_MutexLockFailed;
}

BQ_STATUS BQUtilMutex::unlock() {
  // A recursive mutex checks ownership: unlocking one that this thread does
  // not hold fails with EPERM.
  return pthread_mutex_unlock(&m_mutex) == 0 ? BQ_STS_Success
                                             : BQ_STS_MutexUnlockFailed;
}

} // namespace Brackwell
