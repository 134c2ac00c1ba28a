// BQUtilSync: select()-based millisecond sleep and full-barrier atomics.
#include "brackwell/utilSync.h"

#include <sys/select.h>

namespace Brackwell {

int BQUtilSync::sleep(unsigned int milliseconds) {
  if (milliseconds == 0)
    return 0;
  struct timeval timeout;
  timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
  timeout.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  // No descriptors: select() only waits. A signal ends the wait early with
  // -1; the remaining time is not waited for.
  return select(1, nullptr, nullptr, nullptr, &timeout) < 0 ? -1 : 0;
}

int BQUtilSync::atomicIncrementAndReturn(int& value) {
  // The __atomic builtins wrap on overflow (two's complement); sequential
  // consistency keeps every load and store of the caller on its side.
  return __atomic_add_fetch(&value, 1, __ATOMIC_SEQ_CST);
}

int BQUtilSync::atomicDecrementAndReturn(int& value) {
  return __atomic_sub_fetch(&value, 1, __ATOMIC_SEQ_CST);
}

bool BQUtilSync::doAtomicCompareAndSwap(void** location, void* expected,
                                        void* newValue) {
  return __atomic_compare_exchange_n(location, &expected, newValue,
                                     /*weak=*/false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST);
}

} // namespace Brackwell
