// BQThread: runs one task at a time, in a new POSIX thread or in the caller's
// thread. The state (running, interrupted, thread, taskReturnValue) is only
// changed under the object's recursive mutex; waiting is done by polling at a
// 10 millisecond step.
#include "brackwell/thread.h"

#include "brackwell/utilSync.h"

namespace Brackwell {

namespace {

// Polling step of the waiting loops, in milliseconds.
constexpr unsigned int kPollMs = 10;

// The chain of objects whose task the calling thread is running, innermost
// first. interrupt() consults it so that a task never waits for itself,
// whether it runs in its own thread or in a caller's thread.
struct TaskFrame {
  const BQThread* object;
  TaskFrame* outer;
};
thread_local TaskFrame* currentTasks = nullptr;

// Pushes a frame for the duration of one task() call.
class TaskScope {
public:
  explicit TaskScope(const BQThread* object) : frame{object, currentTasks} {
    currentTasks = &frame;
  }
  ~TaskScope() { currentTasks = frame.outer; }
  TaskScope(TaskScope const&) = delete;
  TaskScope& operator=(TaskScope const&) = delete;

private:
  TaskFrame frame;
};

// Runs `task` (the object's task() call) under a frame of `object`; an
// exception that escapes the task counts as the return value 1.
template <class Task>
std::int32_t runTask(const BQThread* object, Task task) {
  try {
    TaskScope scope(object);
    return task();
  } catch (...) {
    return 1;
  }
}

bool insideTaskOf(const BQThread* object) {
  for (TaskFrame* f = currentTasks; f != nullptr; f = f->outer)
    if (f->object == object)
      return true;
  return false;
}

} // namespace

BQThread::BQThread()
    : running(false), interrupted(false), thread(0), taskReturnValue(0) {}

BQThread::~BQThread() { interrupt(); }

BQ_STATUS BQThread::execute(BQThreadPriority priority) {
  (void)priority; // Every thread gets the default attributes.
  mutex.lock();
  if (running || thread != 0) {
    mutex.unlock();
    return BQ_STS_ThreadBusy;
  }
  interrupted = false;
  // The new thread blocks in bootstrap() on the mutex until the handle has
  // been stored here.
  if (pthread_create(&thread, nullptr, &BQThread::bootstrap, this) != 0) {
    thread = 0; // The platform may have left a value there.
    mutex.unlock();
    return BQ_STS_Failure;
  }
  mutex.unlock();

  // Wait until the task has begun, or has already ended (thread cleared).
  for (;;) {
    mutex.lock();
    bool const begun = running;
    bool const ended = thread == 0;
    mutex.unlock();
    if (begun || ended)
      return BQ_STS_Success;
    BQUtilSync::sleep(kPollMs);
  }
}

void* BQThread::bootstrap(void* object) {
  BQThread* self = static_cast<BQThread*>(object);
  self->mutex.lock();
  self->running = true;
  self->mutex.unlock();

  const std::int32_t result = runTask(self, [self] { return self->task(); });

  self->mutex.lock();
  __atomic_store_n(&self->taskReturnValue, result, __ATOMIC_RELEASE);
  self->running = false;
  self->thread = 0;
  // Nobody will join a thread that ends before interrupt() has started to
  // wait for it (interrupt sees running clear), so it releases its own
  // resources. When interrupted is set, the first interrupt() caller joins.
  if (!self->interrupted)
    pthread_detach(pthread_self());
  self->mutex.unlock();
  // The object may be destroyed from here on; it is not touched again.
  pthread_exit(nullptr);
  return nullptr;
}

BQ_STATUS BQThread::executeInCurrentThread() {
  mutex.lock();
  // A thread handle without running is the Starting state of execute(): the
  // object is already committed to a task.
  if (running || thread != 0) {
    mutex.unlock();
    return BQ_STS_ThreadBusy;
  }
  running = true;
  mutex.unlock();

  const std::int32_t result = runTask(this, [this] { return task(); });

  mutex.lock();
  __atomic_store_n(&taskReturnValue, result, __ATOMIC_RELEASE);
  running = false;
  mutex.unlock();
  return BQ_STS_Success;
}

BQ_STATUS BQThread::interrupt() {
  mutex.lock();
  if (!running) {
    mutex.unlock();
    return BQ_STS_Success;
  }
  // A task cannot wait for itself to end.
  if (insideTaskOf(this) ||
      (thread != 0 && pthread_equal(getCurrentThreadID(), thread))) {
    mutex.unlock();
    return BQ_STS_Failure;
  }
  if (!interrupted && thread != 0) {
    interrupted = true;
    pthread_t const handle = thread;
    mutex.unlock();
    // Members are not touched after the join: the object may be gone.
    return pthread_join(handle, nullptr) == 0 ? BQ_STS_Success
                                               : BQ_STS_Failure;
  }
  // Another caller is already joining, or the task runs in a caller's thread
  // (no handle to join): poll until it has ended.
  interrupted = true;
  mutex.unlock();
  for (;;) {
    BQUtilSync::sleep(kPollMs);
    mutex.lock();
    bool const stillRunning = running;
    mutex.unlock();
    if (!stillRunning)
      return BQ_STS_Success;
  }
}

std::int32_t BQThread::getTaskReturnValue() const {
  return __atomic_load_n(&taskReturnValue, __ATOMIC_ACQUIRE);
}

pthread_t BQThread::getCurrentThreadID() { return pthread_self(); }

} // namespace Brackwell
