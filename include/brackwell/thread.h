//===- brackwell/thread.h - Thread objects ----------------------*- C++ -*-===//
//
// Declares BQThread, an abstract base that runs one task at a time in a new
// POSIX thread (execute) or in the caller's thread (executeInCurrentThread).
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_THREAD_H
#define BRACKWELL_THREAD_H

#include "bqStatus.h"
#include "utilMutex.h"

#include <cstdint>
#include <pthread.h>

namespace Brackwell {

/// BQThread
class BQThread {
public:
  /// Accepted by execute() and ignored: every thread gets the default
  /// attributes.
  enum BQThreadPriority {
    PRIORITY_LOW = 0,
    PRIORITY_NORMAL = 1,
    PRIORITY_HIGH = 2
  };

  BQThread();
  virtual ~BQThread();

  BQThread(BQThread const&) = delete;
  BQThread& operator=(BQThread const&) = delete;

  BQ_STATUS execute(BQThreadPriority priority = PRIORITY_NORMAL);
  static void* bootstrap(void* object);
  BQ_STATUS executeInCurrentThread();
  BQ_STATUS interrupt();
  std::int32_t getTaskReturnValue() const;
  static pthread_t getCurrentThreadID();

protected:
  virtual std::int32_t task() = 0;

  bool running;
  bool interrupted;
  pthread_t thread;
  std::int32_t taskReturnValue;
  BQUtilMutex mutex;
};

} // namespace Brackwell

#endif // BRACKWELL_THREAD_H
