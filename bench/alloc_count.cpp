// Counting replacement of the global allocation functions; see alloc_count.h.
#include "alloc_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_live{0};
std::atomic<long> g_total{0};

void* allocate(std::size_t n) noexcept {
  void* p = std::malloc(n ? n : 1);
  if (p) {
    g_live.fetch_add(1, std::memory_order_relaxed);
    g_total.fetch_add(1, std::memory_order_relaxed);
  }
  return p;
}

void* allocateOrThrow(std::size_t n) {
  if (void* p = allocate(n))
    return p;
  throw std::bad_alloc();
}

void release(void* p) noexcept {
  if (p) {
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
  }
}

} // namespace

long bqbench::totalAllocations() { return g_total.load(); }
long bqbench::liveBlocks() { return g_live.load(); }

void* operator new(std::size_t n) { return allocateOrThrow(n); }
void* operator new[](std::size_t n) { return allocateOrThrow(n); }
void* operator new(std::size_t n, std::nothrow_t const&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept { return allocate(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { release(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { release(p); }
