// Replacement of the global allocation functions for the test executables,
// and the injection state shared with the system-call wrappers; see
// alloc_fault.h.
#include "support/alloc_fault.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SANITIZE_THREAD__)
#define BQTEST_TSAN 1
#elif defined(__has_feature)
#define BQTEST_TSAN __has_feature(thread_sanitizer)
#else
#define BQTEST_TSAN 0
#endif

namespace {

std::atomic<long> g_live{0};
constexpr int kAlloc = 64; // the id of an allocation; calls have lower ids

thread_local long t_countdown = 0; // fail when it reaches 0 after decrement
thread_local bool t_paused = false;
thread_local int t_err = 0, t_failedNth = 0;
thread_local char const *t_always = nullptr, *t_failed = nullptr;
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

} // namespace

namespace bqtest {
void armPoint(long n, int err, char const* always) {
  t_countdown = n > 0 ? n : 0;
  t_err = err;
  t_always = always;
  t_failed = nullptr;
  std::memset(t_seen, 0, sizeof t_seen);
}
void disarm() {
  t_countdown = 0;
  t_always = nullptr;
}
void pause(bool on) { t_paused = on; }
std::string failedPoint() {
  return t_failed ? t_failed + ("#" + std::to_string(t_failedNth)) : "";
}
long liveBlocks() { return g_live.load(); }

bool detail::injectCall(int id, char const* name, int& err) {
  err = t_err;
  if (t_always != nullptr && !t_paused && std::strcmp(t_always, name) == 0)
    return true;
  return hitPoint(id, name);
}
} // namespace bqtest

// ThreadSanitizer's runtime supplies the whole family itself and cannot be
// overridden piecemeal; under it the harness counts nothing and injects
// nothing (the calls are not wrapped either). Elsewhere every form is defined, the
// over-aligned ones included, so that no sanitizer runtime has to supply
// part of the family (its definitions would clash with these). Blocks come
// from the real malloc, so the harness's own are no points.
#if !BQTEST_TSAN
#if BQTEST_WRAP
extern "C" void* __real_malloc(std::size_t);
#define BQTEST_MALLOC __real_malloc
#else
#define BQTEST_MALLOC std::malloc
#endif
namespace {
void* allocate(std::size_t n, std::size_t align = 0) {
  void* p = nullptr;
  if (align <= alignof(std::max_align_t))
    p = BQTEST_MALLOC(n ? n : 1);
  else if (posix_memalign(&p, align, n ? n : 1) != 0)
    p = nullptr;
  if (p)
    ++g_live;
  return p;
}
void* allocateOrThrow(std::size_t n, std::size_t align = 0) {
  if (void* p = allocate(n, align))
    return p;
  throw std::bad_alloc();
}
void release(void* p) noexcept {
  if (p)
    --g_live;
  std::free(p);
}
} // namespace

using std::size_t;
using Al = std::align_val_t;
using Nt = std::nothrow_t const&;
void* operator new(size_t n) { return allocateOrThrow(n); }
void* operator new[](size_t n) { return allocateOrThrow(n); }
void* operator new(size_t n, Al a) { return allocateOrThrow(n, size_t(a)); }
void* operator new[](size_t n, Al a) { return allocateOrThrow(n, size_t(a)); }
void* operator new(size_t n, Nt) noexcept { return allocate(n); }
void* operator new[](size_t n, Nt) noexcept {
  return hitPoint(kAlloc, "new[]") ? nullptr : allocate(n);
}
void* operator new(size_t n, Al a, Nt) noexcept { return allocate(n, size_t(a)); }
void* operator new[](size_t n, Al a, Nt) noexcept { return allocate(n, size_t(a)); }
// Each delete form, plain and array, with the parameters given.
#define BQTEST_DELETE(params)                                                  \
  void operator delete params noexcept { release(p); }                         \
  void operator delete[] params noexcept { release(p); }
BQTEST_DELETE((void* p)) BQTEST_DELETE((void* p, size_t))
BQTEST_DELETE((void* p, Nt)) BQTEST_DELETE((void* p, Al))
BQTEST_DELETE((void* p, size_t, Al)) BQTEST_DELETE((void* p, Al, Nt))
#endif // !BQTEST_TSAN
