// Replacement of the global allocation functions for the test executables;
// see alloc_fault.h.
#include "support/alloc_fault.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_live{0};
std::atomic<long> g_total{0};
std::atomic<long> g_points{0};

thread_local long t_countdown = 0; // fail when it reaches 0 after decrement
thread_local bool t_fired = false;
thread_local long t_count = 0;

void* allocate(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (p) {
    g_live.fetch_add(1, std::memory_order_relaxed);
    g_total.fetch_add(1, std::memory_order_relaxed);
  }
  return p;
}

void release(void* p) noexcept {
  if (!p)
    return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

void* allocateOrThrow(std::size_t n) {
  void* p = allocate(n);
  if (!p)
    throw std::bad_alloc();
  return p;
}

void* allocateNothrowArray(std::size_t n) noexcept {
  ++t_count;
  if (t_countdown > 0 && --t_countdown == 0) {
    t_fired = true;
    return nullptr;
  }
  return allocate(n);
}

} // namespace

namespace bqtest {
void armFailure(long n) {
  t_countdown = n > 0 ? n : 0;
  t_fired = false;
  t_count = 0;
}
void disarm() { t_countdown = 0; }
bool failureInjected() { return t_fired; }
long nothrowArrayCount() { return t_count; }
void resetCount() { t_count = 0; }
long liveBlocks() { return g_live.load(); }
long totalAllocations() { return g_total.load(); }
long totalFailurePoints() { return g_points.load(); }
void addFailurePoints(long n) { g_points.fetch_add(n); }
} // namespace bqtest

void* operator new(std::size_t n) { return allocateOrThrow(n); }
void* operator new[](std::size_t n) { return allocateOrThrow(n); }
void* operator new(std::size_t n, std::nothrow_t const&) noexcept {
  return allocate(n);
}
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept {
  return allocateNothrowArray(n);
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { release(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { release(p); }
