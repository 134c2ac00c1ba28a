// Path operations over every path under /usr/include, against
// std::filesystem::path. Names are "<operation>_<peer>"; items/s counts
// paths, and the counter allocs_per_op the allocations one operation makes
// (counted with bench/alloc_count.cpp over one more pass).
#include "alloc_count.h"

#include <brackwell/fileSpec.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

using Brackwell::BQFileSpec;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> const& paths() {
  static std::vector<std::string> all = [] {
    std::vector<std::string> v;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator("/usr/include", ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
      v.push_back(it->path().string());
    if (v.empty())
      v.push_back("/usr/include/stdio.h");
    return v;
  }();
  return all;
}

// Allocations per call of `one(i)` over `count` calls, recorded as a
// counter of the benchmark.
template <class F> void countAllocations(benchmark::State& st, std::size_t count, F one) {
  const long before = bqbench::totalAllocations();
  for (std::size_t i = 0; i < count; ++i)
    one(i);
  st.counters["allocs_per_op"] =
      static_cast<double>(bqbench::totalAllocations() - before) / count;
}

void join_brackwell(benchmark::State& st) {
  BQFileSpec const dir("/usr/local/share", BQFileSpec::ENCODING_UTF8);
  std::vector<BQFileSpec> names;
  for (auto const& p : paths())
    names.emplace_back(BQFileSpec(p.c_str(), BQFileSpec::ENCODING_UTF8).basename(),
                       BQFileSpec::ENCODING_UTF8);
  std::size_t n = 0;
  for (auto _ : st)
    for (BQFileSpec const& name : names) {
      BQFileSpec j(dir, name);
      benchmark::DoNotOptimize(j.utf8());
      ++n;
    }
  st.SetItemsProcessed(static_cast<int64_t>(n));
  countAllocations(st, names.size(), [&](std::size_t i) {
    BQFileSpec j(dir, names[i]);
    benchmark::DoNotOptimize(j.utf8());
  });
}
void join_filesystem(benchmark::State& st) {
  fs::path const dir("/usr/local/share");
  std::vector<fs::path> names;
  for (auto const& p : paths())
    names.push_back(fs::path(p).filename());
  std::size_t n = 0;
  for (auto _ : st)
    for (fs::path const& name : names) {
      fs::path j = dir / name;
      benchmark::DoNotOptimize(j.c_str());
      ++n;
    }
  st.SetItemsProcessed(static_cast<int64_t>(n));
  countAllocations(st, names.size(), [&](std::size_t i) {
    fs::path j = dir / names[i];
    benchmark::DoNotOptimize(j.c_str());
  });
}

// The operations on values built outside the timed loop.
template <class V, class Make, class Op>
void onValues(benchmark::State& st, Make make, Op op) {
  std::vector<V> values;
  for (auto const& p : paths())
    values.push_back(make(p));
  std::size_t n = 0;
  for (auto _ : st)
    for (V const& v : values) {
      op(v);
      ++n;
    }
  st.SetItemsProcessed(static_cast<int64_t>(n));
  countAllocations(st, values.size(), [&](std::size_t i) { op(values[i]); });
}
BQFileSpec bq(std::string const& p) { return BQFileSpec(p.c_str(), BQFileSpec::ENCODING_UTF8); }
fs::path sp(std::string const& p) { return fs::path(p); }

void dirname_brackwell(benchmark::State& st) {
  onValues<BQFileSpec>(st, bq, [](BQFileSpec const& v) { BQFileSpec d = v.dirname(); benchmark::DoNotOptimize(d.utf8()); });
}
void dirname_filesystem(benchmark::State& st) {
  onValues<fs::path>(st, sp, [](fs::path const& v) { fs::path d = v.parent_path(); benchmark::DoNotOptimize(d.c_str()); });
}
void basename_brackwell(benchmark::State& st) {
  onValues<BQFileSpec>(st, bq, [](BQFileSpec const& v) { benchmark::DoNotOptimize(v.basename()); });
}
void basename_filesystem(benchmark::State& st) {
  onValues<fs::path>(st, sp, [](fs::path const& v) { fs::path f = v.filename(); benchmark::DoNotOptimize(f.c_str()); });
}
void suffix_brackwell(benchmark::State& st) {
  onValues<BQFileSpec>(st, bq, [](BQFileSpec const& v) { benchmark::DoNotOptimize(v.getSuffix()); });
}
void suffix_filesystem(benchmark::State& st) {
  onValues<fs::path>(st, sp, [](fs::path const& v) { fs::path e = v.extension(); benchmark::DoNotOptimize(e.c_str()); });
}
// First rendering of a fresh value (the copy is part of both rows).
void n_str_brackwell(benchmark::State& st) {
  onValues<BQFileSpec>(st, bq, [](BQFileSpec const& v) { BQFileSpec c(v); benchmark::DoNotOptimize(c.n_str()); });
}
void n_str_filesystem(benchmark::State& st) {
  onValues<fs::path>(st, sp, [](fs::path const& v) { fs::path c(v); benchmark::DoNotOptimize(c.native().c_str()); });
}
void w_str_brackwell(benchmark::State& st) {
  onValues<BQFileSpec>(st, bq, [](BQFileSpec const& v) { BQFileSpec c(v); benchmark::DoNotOptimize(c.w_str()); });
}
void w_str_filesystem(benchmark::State& st) {
  onValues<fs::path>(st, sp, [](fs::path const& v) { fs::path c(v); std::wstring w = c.wstring(); benchmark::DoNotOptimize(w.c_str()); });
}
// Repeated renderings of the same values: cached, no allocation.
void w_str_repeated_brackwell(benchmark::State& st) {
  onValues<BQFileSpec>(st, bq, [](BQFileSpec const& v) { benchmark::DoNotOptimize(v.w_str()); });
}

} // namespace

BENCHMARK(join_brackwell);
BENCHMARK(join_filesystem);
BENCHMARK(dirname_brackwell);
BENCHMARK(dirname_filesystem);
BENCHMARK(basename_brackwell);
BENCHMARK(basename_filesystem);
BENCHMARK(suffix_brackwell);
BENCHMARK(suffix_filesystem);
BENCHMARK(n_str_brackwell);
BENCHMARK(n_str_filesystem);
BENCHMARK(w_str_brackwell);
BENCHMARK(w_str_filesystem);
BENCHMARK(w_str_repeated_brackwell);
BENCHMARK_MAIN();
