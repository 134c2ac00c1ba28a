// Replacement of the global allocation functions for the test executables;
// see alloc_fault.h.
#include "support/alloc_fault.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_THREAD__)
#define BQTEST_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BQTEST_UNDER_TSAN 1
#endif
#endif
#ifndef BQTEST_UNDER_TSAN
#define BQTEST_UNDER_TSAN 0
#endif

namespace {

std::atomic<long> g_live{0};
std::atomic<long> g_total{0};
std::atomic<long> g_points{0};

thread_local long t_countdown = 0; // fail when it reaches 0 after decrement
thread_local bool t_fired = false;
thread_local long t_count = 0;

[[maybe_unused]] void* allocate(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (p) {
    g_live.fetch_add(1, std::memory_order_relaxed);
    g_total.fetch_add(1, std::memory_order_relaxed);
  }
  return p;
}

[[maybe_unused]] void release(void* p) noexcept {
  if (!p)
    return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

[[maybe_unused]] void* allocateOrThrow(std::size_t n) {
  void* p = allocate(n);
  if (!p)
    throw std::bad_alloc();
  return p;
}

[[maybe_unused]] void* allocateNothrowArray(std::size_t n) noexcept {
  ++t_count;
  if (t_countdown > 0 && --t_countdown == 0) {
    t_fired = true;
    return nullptr;
  }
  return allocate(n);
}

} // namespace

namespace bqtest {
bool harnessActive() { return !BQTEST_UNDER_TSAN; }
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

// ThreadSanitizer's runtime supplies the whole family itself and cannot be
// overridden piecemeal; under it the harness counts nothing and injects
// nothing (harnessActive() is false), which only the allocation-failure
// tests notice, and those are not part of the ThreadSanitizer run.
#if !BQTEST_UNDER_TSAN
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

// Over-aligned forms: defined too, so that no sanitizer runtime has to supply
// part of the family (its definitions would clash with these).
namespace {
void* allocateAligned(std::size_t n, std::align_val_t al) {
  std::size_t a = static_cast<std::size_t>(al);
  if (a < sizeof(void*))
    a = sizeof(void*);
  void* p = nullptr;
  if (posix_memalign(&p, a, n ? n : 1) != 0)
    return nullptr;
  g_live.fetch_add(1, std::memory_order_relaxed);
  g_total.fetch_add(1, std::memory_order_relaxed);
  return p;
}
void* allocateAlignedOrThrow(std::size_t n, std::align_val_t al) {
  void* p = allocateAligned(n, al);
  if (!p)
    throw std::bad_alloc();
  return p;
}
} // namespace

void* operator new(std::size_t n, std::align_val_t al) {
  return allocateAlignedOrThrow(n, al);
}
void* operator new[](std::size_t n, std::align_val_t al) {
  return allocateAlignedOrThrow(n, al);
}
void* operator new(std::size_t n, std::align_val_t al,
                   std::nothrow_t const&) noexcept {
  return allocateAligned(n, al);
}
void* operator new[](std::size_t n, std::align_val_t al,
                     std::nothrow_t const&) noexcept {
  return allocateAligned(n, al);
}
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  release(p);
}
void operator delete(void* p, std::align_val_t,
                     std::nothrow_t const&) noexcept {
  release(p);
}
void operator delete[](void* p, std::align_val_t,
                       std::nothrow_t const&) noexcept {
  release(p);
}

#endif // !BQTEST_UNDER_TSAN
