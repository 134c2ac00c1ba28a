// Replacement of the global allocation functions for the test executables,
// and the injection state shared with the system-call wrappers; see
// alloc_fault.h.
#include "support/alloc_fault.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
std::atomic<long> g_allocPoints{0};
std::atomic<long> g_callPoints{0};
constexpr int kMaxCalls = 64;
std::atomic<bool> g_callFailed[kMaxCalls];

thread_local long t_countdown = 0; // fail when it reaches 0 after decrement
thread_local bool t_withCalls = false; // system calls count as points too
thread_local int t_err = 0;
thread_local char const* t_always = nullptr;
thread_local int t_alwaysErr = 0;
thread_local char const* t_failed = nullptr;
thread_local int t_failedNth = 0;
thread_local int t_seen[kMaxCalls + 1]; // calls per name since the arm
thread_local long t_count = 0;
thread_local bool t_paused = false;

// Counts a fallible call (id kMaxCalls: an allocation) and tells whether
// the armed point is this one.
bool hitPoint(int id, char const* name) {
  if (t_paused)
    return false;
  int nth = ++t_seen[id];
  if (t_countdown > 0 && --t_countdown == 0) {
    t_failed = name;
    t_failedNth = nth;
    return true;
  }
  return false;
}

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
  return hitPoint(kMaxCalls, "new[]") ? nullptr : allocate(n);
}

void arm(long n, bool withCalls, int err) {
  t_countdown = n > 0 ? n : 0;
  t_withCalls = withCalls;
  t_err = err;
  t_failed = nullptr;
  t_count = 0;
  for (int& c : t_seen)
    c = 0;
}

} // namespace

namespace bqtest {
bool harnessActive() { return !BQTEST_UNDER_TSAN; }
#ifndef BQTEST_WRAP
#define BQTEST_WRAP 0
#endif
bool callsWrapped() { return BQTEST_WRAP; }
void armFailure(long n) { arm(n, false, 0); }
void armPoint(long n, int err) { arm(n, true, err); }
void failAlways(char const* call, int err) {
  t_always = call;
  t_alwaysErr = err;
}
void disarm() {
  t_countdown = 0;
  t_always = nullptr;
}
void pause(bool on) { t_paused = on; }
bool failureInjected() { return t_failed != nullptr; }
char const* failedCall() { return t_failed; }
int failedOrdinal() { return t_failedNth; }
long nothrowArrayCount() { return t_count; }
void resetCount() { t_count = 0; }
long liveBlocks() { return g_live.load(); }
long totalAllocations() { return g_total.load(); }
void addFailurePoints(long allocations, long calls) {
  g_allocPoints += allocations;
  g_callPoints += calls;
}
long totalFailurePoints() { return g_allocPoints + g_callPoints; }

namespace detail {
bool injectCall(int id, char const* name, int& err) {
  if (t_always != nullptr && !t_paused && std::strcmp(t_always, name) == 0) {
    err = t_alwaysErr;
    return true;
  }
  if (!t_withCalls || id < 0 || id >= kMaxCalls || !hitPoint(id, name))
    return false;
  g_callFailed[id] = true;
  err = t_err;
  return true;
}
bool callFailed(int id) { return id >= 0 && id < kMaxCalls && g_callFailed[id]; }
void printPoints() {
  if (g_allocPoints + g_callPoints > 0)
    std::printf("fault points driven: %ld allocations, %ld system calls\n",
                g_allocPoints.load(), g_callPoints.load());
}
} // namespace detail
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
