// Allocation counter for the benchmarks: alloc_count.cpp replaces the global
// operator new/delete family (the forms without an alignment) with malloc and
// free wrappers that count. Linked into bench_paths and bench_fs only.
#ifndef BRACKWELL_BENCH_ALLOC_COUNT_H
#define BRACKWELL_BENCH_ALLOC_COUNT_H

namespace bqbench {

// Every allocation through operator new or new[], in all threads, ever.
long totalAllocations();
// Blocks currently allocated through them.
long liveBlocks();

} // namespace bqbench

#endif // BRACKWELL_BENCH_ALLOC_COUNT_H
