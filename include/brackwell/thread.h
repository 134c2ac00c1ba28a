//===- brackwell/thread.h - Thread objects ----------------------*- C++ -*-===//
//
// Declares BQThread, an abstract base that runs one task at a time in a new
// POSIX thread (execute) or in the caller's thread (executeInCurrentThread).
//
//   class Summer : public BQThread {
//   public:
//     ~Summer() override { interrupt(); } // the task reads `limit`
//     int limit = 1000;
//   protected:
//     std::int32_t task() override {
//       std::int32_t sum = 0;
//       for (int i = 1; i <= limit; ++i) sum += i % 7;
//       return sum;
//     }
//   };
//
//   Summer s;
//   s.execute();             // => BQ_STS_Success; the task runs in a new thread
//   s.interrupt();           // => 0 once the task has ended (it is not stopped)
//   s.getTaskReturnValue();  // => 3003
//   s.executeInCurrentThread(); // => 0; runs the task again in this thread
//
//===----------------------------------------------------------------------===//
/// @file
/// BQThread: a task run in a POSIX thread or in the caller's.
#ifndef BRACKWELL_THREAD_H
#define BRACKWELL_THREAD_H

#include "bqStatus.h"
#include "utilMutex.h"

#include <cstdint>
#include <pthread.h>

namespace Brackwell {

/// Runs one task at a time, either in a new POSIX thread (execute) or in the
/// calling thread (executeInCurrentThread).
///
/// A derived class supplies the work by overriding task(); its result (1 if
/// it threw) is kept and read back with getTaskReturnValue(). All state is
/// changed under the object's recursive mutex, which is never held while the
/// task runs or while a thread is joined; waits poll every 10 ms.
///
/// States:
/// | State              | running | thread | entered by                | left by             |
/// |--------------------|---------|--------|---------------------------|---------------------|
/// | Idle               | false   | 0      | construction; task end    | execute, executeInCurrentThread |
/// | Starting           | false   | set    | execute creates thread    | bootstrap begins    |
/// | Running in thread  | true    | set    | bootstrap begins          | bootstrap ends task |
/// | Running in caller  | true    | 0      | executeInCurrentThread    | its task ends       |
///
/// Choices made by this implementation:
/// - getTaskReturnValue() is 0 until a task has ended.
/// - A thread whose task ends before any interrupt() began to join it
///   detaches itself, so its resources are reclaimed; interrupt() then sees
///   the object idle and returns 0.
/// - If pthread_create fails, the handle is cleared: the object stays Idle.
/// - interrupt() called from within this object's own task (in its thread or
///   through executeInCurrentThread) returns BQ_STS_Failure at once.
/// - interrupt() of a task running in another caller's thread (no handle to
///   join) polls until it has ended and returns 0.
/// - executeInCurrentThread() also answers BQ_STS_ThreadBusy in Starting.
///
/// A derived class whose task uses the derived class's members must end the
/// task in its own destructor (e.g. by calling interrupt()): ~BQThread waits
/// only after the derived part has been destroyed.
class BQThread {
public:
  /// Accepted by execute() and ignored: every thread gets the default
  /// attributes.
  enum BQThreadPriority {
    PRIORITY_LOW = 0,    ///< low (ignored)
    PRIORITY_NORMAL = 1, ///< normal, the default (ignored)
    PRIORITY_HIGH = 2    ///< high (ignored)
  };

  /// Builds an Idle object: nothing running, no thread, result 0.
  BQThread();
  /// Waits, as interrupt() does, until a running task has ended.
  virtual ~BQThread();

  BQThread(BQThread const&) = delete;
  BQThread& operator=(BQThread const&) = delete;

  /// Runs task() in a new joinable thread with default attributes.
  ///
  /// Returns once the task has begun (or already ended):
  ///   idle object              => BQ_STS_Success (0)
  ///   task running / starting  => BQ_STS_ThreadBusy (3110)
  ///   pthread_create fails     => BQ_STS_Failure (1), object stays Idle
  /// \param priority accepted and ignored.
  BQ_STATUS execute(BQThreadPriority priority = PRIORITY_NORMAL);

  /// Start routine of the threads made by execute(); \p object is the
  /// BQThread. Runs the task, stores its result, clears running and thread,
  /// and ends the thread with a null exit value.
  static void* bootstrap(void* object);

  /// Runs task() in the calling thread; 0 when it has ended, 3110 when a task
  /// of this object is already running (or starting). `thread` and
  /// `interrupted` are not touched.
  BQ_STATUS executeInCurrentThread();

  /// Waits until no task of this object is running; never disturbs the task.
  ///
  ///   idle or starting             => 0 at once
  ///   running, first caller        => joins the thread; 0, or 1 if the join
  ///                                   reports an error
  ///   running, another caller joins => polls every 10 ms; 0
  ///   called from the own task     => BQ_STS_Failure (1) at once
  BQ_STATUS interrupt();

  /// The result of the last task that ended (1 if it threw; 0 before any).
  /// Read without the mutex; meaningful once the task has ended.
  std::int32_t getTaskReturnValue() const;

  /// The calling thread's identifier, as pthread_self() gives it.
  static pthread_t getCurrentThreadID();

protected:
  /// The work of the derived class; its result becomes taskReturnValue.
  virtual std::int32_t task() = 0;

  bool running;                 ///< a task is being run
  bool interrupted;             ///< interrupt() has begun to wait for it
  pthread_t thread;             ///< the thread made by execute(), or 0
  std::int32_t taskReturnValue; ///< the result of the last task that ended
  BQUtilMutex mutex;            ///< guards the four members above
};

} // namespace Brackwell

#endif // BRACKWELL_THREAD_H
