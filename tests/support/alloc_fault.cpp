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
#ifndef BQTEST_WRAP
#define BQTEST_WRAP 0
#endif

#if BQTEST_WRAP // the harness's own blocks are no points
extern "C" void* __real_malloc(std::size_t);
#define BQTEST_MALLOC __real_malloc
#else
#define BQTEST_MALLOC std::malloc
#endif

namespace {

std::atomic<long> g_live{0}, g_allocPoints{0}, g_callPoints{0};
constexpr int kAlloc = 64; // the id of an allocation; calls have lower ids
std::atomic<bool> g_callFailed[kAlloc];

thread_local long t_countdown = 0; // fail when it reaches 0 after decrement
thread_local bool t_paused = false;
thread_local int t_err = 0, t_alwaysErr = 0, t_failedNth = 0;
thread_local char const* t_always = nullptr;
thread_local char const* t_failed = nullptr;
thread_local int t_seen[kAlloc + 1]; // calls per id since the arm

// Counts a fallible call and tells whether the armed point is this one.
bool hitPoint(int id, char const* name) {
  if (t_paused)
    return false;
  int nth = ++t_seen[id];
  if (t_countdown <= 0 || --t_countdown > 0)
    return false;
  t_failed = name;
  t_failedNth = nth;
  return true;
}

[[maybe_unused]] void* allocate(std::size_t n, std::size_t align = 0) {
  void* p = nullptr;
  if (align <= alignof(std::max_align_t))
    p = BQTEST_MALLOC(n ? n : 1);
  else if (posix_memalign(&p, align, n ? n : 1) != 0)
    p = nullptr;
  if (p)
    g_live.fetch_add(1, std::memory_order_relaxed);
  return p;
}
[[maybe_unused]] void* allocateOrThrow(std::size_t n, std::size_t align = 0) {
  if (void* p = allocate(n, align))
    return p;
  throw std::bad_alloc();
}
[[maybe_unused]] void release(void* p) noexcept {
  if (p)
    g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

} // namespace

namespace bqtest {
bool callsWrapped() { return BQTEST_WRAP && !BQTEST_UNDER_TSAN; }
void armPoint(long n, int err) {
  t_countdown = n > 0 ? n : 0;
  t_err = err;
  t_failed = nullptr;
  std::memset(t_seen, 0, sizeof t_seen);
}
void failAlways(char const* call, int err) {
  t_always = call;
  t_alwaysErr = err;
}
void disarm() {
  t_countdown = 0;
  t_always = nullptr;
}
void pause(bool on) { t_paused = on; }
char const* failedCall() { return t_failed; }
int failedOrdinal() { return t_failedNth; }
long liveBlocks() { return g_live.load(); }
void addFailurePoints(long allocations, long calls) {
  g_allocPoints += allocations;
  g_callPoints += calls;
}

namespace detail {
bool injectCall(int id, char const* name, int& err) {
  if (t_always != nullptr && !t_paused && std::strcmp(t_always, name) == 0) {
    err = t_alwaysErr;
    return true;
  }
  if (id < 0 || id >= kAlloc || !hitPoint(id, name))
    return false;
  g_callFailed[id] = true;
  err = t_err;
  return true;
}
bool callFailed(int id) { return id >= 0 && id < kAlloc && g_callFailed[id]; }
} // namespace detail
} // namespace bqtest

namespace {
// Reports, at the end of each test executable, the points it drove.
struct PointReport : ::testing::Environment {
  void TearDown() override {
    if (g_allocPoints + g_callPoints > 0)
      std::printf("fault points driven: %ld allocations, %ld system calls\n",
                  g_allocPoints.load(), g_callPoints.load());
  }
};
auto* const g_report = ::testing::AddGlobalTestEnvironment(new PointReport);
} // namespace

// ThreadSanitizer's runtime supplies the whole family itself and cannot be
// overridden piecemeal; under it the harness counts nothing and injects
// nothing (callsWrapped() is false). Elsewhere every form is defined, the
// over-aligned ones included, so that no sanitizer runtime has to supply
// part of the family (its definitions would clash with these).
#if !BQTEST_UNDER_TSAN
using std::size_t;
using Al = std::align_val_t;
using Nt = std::nothrow_t const&;
void* operator new(size_t n) { return allocateOrThrow(n); }
void* operator new[](size_t n) { return allocateOrThrow(n); }
void* operator new(size_t n, Nt) noexcept { return allocate(n); }
void* operator new[](size_t n, Nt) noexcept {
  return hitPoint(kAlloc, "new[]") ? nullptr : allocate(n);
}
void* operator new(size_t n, Al a) { return allocateOrThrow(n, size_t(a)); }
void* operator new[](size_t n, Al a) { return allocateOrThrow(n, size_t(a)); }
void* operator new(size_t n, Al a, Nt) noexcept { return allocate(n, size_t(a)); }
void* operator new[](size_t n, Al a, Nt) noexcept {
  return allocate(n, size_t(a));
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
void operator delete(void* p, Nt) noexcept { release(p); }
void operator delete[](void* p, Nt) noexcept { release(p); }
void operator delete(void* p, Al) noexcept { release(p); }
void operator delete[](void* p, Al) noexcept { release(p); }
void operator delete(void* p, size_t, Al) noexcept { release(p); }
void operator delete[](void* p, size_t, Al) noexcept { release(p); }
void operator delete(void* p, Al, Nt) noexcept { release(p); }
void operator delete[](void* p, Al, Nt) noexcept { release(p); }
#endif // !BQTEST_UNDER_TSAN
