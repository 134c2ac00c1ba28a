// File-system work of BQFileUtils on trees generated under a fresh
// temporary directory, against std::filesystem, timed side by side
// (alternating runs, medians). Prints Markdown sections for bench/RESULTS.md:
//
//   - RecurseFiles, deleteDir and copyDirectory called in this process
//     against find -L, rm -rf (on a fresh copy) and cp -r as commands, wall
//     and CPU time;
//   - RecurseFiles against recursive_directory_iterator with a status read
//     per entry (links followed);
//   - copyDirectory against std::filesystem::copy (recursive), every copy
//     compared byte for byte with its source after the timing;
//   - getRelativePathTo against std::filesystem::relative on pairs of real
//     directories;
//   - RecurseFiles, copyDirectory and deleteDir per file on trees of 1,000,
//     10,000 and 100,000 files;
//   - the allocations RecurseFiles makes on the largest tree, counted with
//     bench/alloc_count.cpp.
//
//   bench_fs [runs]     (default 5; the trees go under $TMPDIR or /tmp)
#include "alloc_count.h"

#include <brackwell/fileSpec.h>
#include <brackwell/fileUtils.h>

#include <algorithm>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

using Brackwell::BQFileSpec;
using Brackwell::BQFileUtils;
namespace fs = std::filesystem;

namespace {

BQFileSpec pathOf(std::string const& s) {
  return BQFileSpec(s.c_str(), BQFileSpec::ENCODING_UTF8);
}

double seconds(std::function<void()> const& f) {
  auto t = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t)
      .count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "bench_fs: %s\n", what);
    std::exit(1);
  }
}

// `files` files of 100-3,000 bytes, 20 per directory, in two levels of
// directories (d0/s00 ... ): 20,000 files make 1,011 directories.
void makeTree(std::string const& root, int files) {
  std::string data(3000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 131 + 7);
  for (int d = 0; d < files / 20; ++d) {
    char dir[64];
    std::snprintf(dir, sizeof dir, "/d%d/s%02d", d / 100, d % 100);
    fs::create_directories(root + dir);
    for (int f = 0; f < 20; ++f) {
      char name[16];
      std::snprintf(name, sizeof name, "/f%02d", f);
      std::ofstream(root + dir + name, std::ios::binary)
          .write(data.data(), 100 + (d * 31 + f * 17) % 2900);
    }
  }
}

std::string contents(fs::path const& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Same directories and byte-identical files on both sides.
bool sameTree(std::string const& a, std::string const& b) {
  std::size_t n = 0;
  for (auto const& e : fs::recursive_directory_iterator(a)) {
    fs::path other = fs::path(b) / fs::relative(e.path(), a);
    if (e.is_directory() ? !fs::is_directory(other)
                         : contents(e.path()) != contents(other))
      return false;
    ++n;
  }
  std::size_t m = 0;
  for (auto it = fs::recursive_directory_iterator(b);
       it != fs::recursive_directory_iterator(); ++it)
    ++m;
  return n == m;
}

std::size_t recurseBrackwell(std::string const& root) {
  std::vector<BQFileSpec> files;
  check(BQFileUtils::RecurseFiles(pathOf(root), files) == 0, "RecurseFiles");
  return files.size();
}

std::size_t recurseFilesystem(std::string const& root) {
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(
           root, fs::directory_options::follow_directory_symlink);
       it != fs::recursive_directory_iterator(); ++it)
    if (fs::is_regular_file(fs::status(it->path())))
      files.push_back(it->path());
  return files.size();
}

void row(const char* name, const char* peer, double bq, double other,
         double target) {
  double r = other / bq;
  std::printf("| %s | %.4f | %s | %.4f | %.2f %s | %.1f |\n", name, bq, peer,
              other, r, r >= target ? "met" : "missed", target);
}

// Wall and CPU seconds of one run.
struct Times {
  double wall, cpu;
};

// A library call in this process: its CPU is this (single-threaded)
// process's CPU time over the call.
Times timeCall(std::function<void()> const& f) {
  timespec c0, c1;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  double wall = seconds(f);
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
  return {wall, double(c1.tv_sec - c0.tv_sec) + 1e-9 * double(c1.tv_nsec - c0.tv_nsec)};
}

// A command, started without a shell, its output thrown away: the child's
// user + system time, from wait4().
Times timeCommand(std::vector<std::string> const& args) {
  std::vector<char*> argv;
  for (std::string const& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  rusage ru{};
  int status = 0;
  double wall = seconds([&] {
    check(posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0,
          "posix_spawnp");
    check(::wait4(pid, &status, 0, &ru) == pid, "wait4");
  });
  posix_spawn_file_actions_destroy(&fa);
  check(WIFEXITED(status) && WEXITSTATUS(status) == 0, args[0].c_str());
  auto sec = [](timeval t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); };
  return {wall, sec(ru.ru_utime) + sec(ru.ru_stime)};
}

// Alternating runs of a library call and a command (each after its own
// untimed preparation); prints medians and both ratios (the command's time
// over the call's: above 1, the call is faster).
void callVsCommand(const char* name, std::function<void()> const& call,
                   std::vector<std::string> const& command, const char* peer,
                   std::function<void()> const& prepareCall,
                   std::function<void()> const& prepareCommand, int runs,
                   double target) {
  std::vector<double> aw, ac, bw, bc;
  for (int k = 0; k < runs; ++k) {
    prepareCall();
    Times a = timeCall(call);
    prepareCommand();
    Times b = timeCommand(command);
    aw.push_back(a.wall);
    ac.push_back(a.cpu);
    bw.push_back(b.wall);
    bc.push_back(b.cpu);
  }
  double rw = median(bw) / median(aw), rc = median(bc) / median(ac);
  std::printf("| %s | %.4f / %.4f | %s | %.4f / %.4f | %.2f | %.2f | %.1f %s |\n",
              name, median(aw), median(ac), peer, median(bw), median(bc), rw,
              rc, target, std::min(rw, rc) >= target ? "met" : "missed");
}

} // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/bq-bench-fs.XXXXXX";
  check(mkdtemp(templ.data()) != nullptr, "mkdtemp");
  const std::string root = templ;
  const std::string tree = root + "/tree", c1 = root + "/c1", c2 = root + "/c2";
  makeTree(tree, 20000);

  {
    std::printf("## Library calls against commands (20,000 files in 1,011 "
                "directories, medians of %d alternating runs)\n\n"
                "The call runs in this process; the command is started "
                "without a shell, its output to /dev/null, and its CPU is its "
                "user + system time. Ratios are the command's time over the "
                "call's.\n\n"
                "| operation | call wall / CPU s | command | wall / CPU s | "
                "wall ratio | CPU ratio | target |\n"
                "|---|---|---|---|---|---|---|\n",
                runs);
    auto none = [] {};
    auto fresh = [&](std::string const& dst) {
      return [&tree, dst] {
        fs::remove_all(dst);
        timeCommand({"cp", "-r", tree, dst});
      };
    };
    callVsCommand("RecurseFiles", [&] { check(recurseBrackwell(tree) == 20000,
                                              "RecurseFiles count"); },
                  {"find", "-L", tree, "-type", "f"}, "find -L DIR -type f",
                  none, none, runs, 1.2);
    callVsCommand("deleteDir (fresh copy each run)",
                  [&] { check(BQFileUtils::deleteDir(pathOf(c1), true) == 0,
                              "deleteDir"); },
                  {"rm", "-rf", c2}, "rm -rf", fresh(c1), fresh(c2), runs, 1.2);
    callVsCommand("copyDirectory",
                  [&] { check(BQFileUtils::copyDirectory(pathOf(tree),
                                                         pathOf(c1)) == 0,
                              "copyDirectory"); },
                  {"cp", "-r", tree, c2}, "cp -r",
                  [&] { fs::remove_all(c1); }, [&] { fs::remove_all(c2); },
                  runs, 1.1);
    check(sameTree(tree, c1), "the copy differs");
    fs::remove_all(c1);
    fs::remove_all(c2);
    std::printf("\n");
  }
  std::printf("## File-system work against std::filesystem (median seconds "
              "of %d alternating runs, 20,000 files in 1,011 directories)\n\n",
              runs);
  std::printf("| operation | brackwell s | peer | peer s | speed ratio | "
              "target |\n|---|---|---|---|---|---|\n");
  {
    std::vector<double> a, b;
    std::size_t na = 0, nb = 0;
    for (int k = 0; k < runs; ++k) {
      a.push_back(seconds([&] { na = recurseBrackwell(tree); }));
      b.push_back(seconds([&] { nb = recurseFilesystem(tree); }));
    }
    check(na == 20000 && nb == 20000, "file counts differ");
    row("RecurseFiles", "recursive_directory_iterator + status", median(a),
        median(b), 3.0);
  }
  {
    std::vector<double> a, b;
    for (int k = 0; k < runs; ++k) {
      fs::remove_all(c1);
      fs::remove_all(c2);
      a.push_back(seconds([&] {
        check(BQFileUtils::copyDirectory(pathOf(tree), pathOf(c1)) == 0,
              "copyDirectory");
      }));
      b.push_back(seconds([&] {
        fs::copy(tree, c2, fs::copy_options::recursive);
      }));
    }
    check(sameTree(tree, c1) && sameTree(tree, c2), "a copy differs");
    row("copyDirectory", "std::filesystem::copy recursive", median(a),
        median(b), 0.8);
  }
  {
    std::vector<std::string> dirs;
    for (auto const& e : fs::recursive_directory_iterator(tree))
      if (e.is_directory())
        dirs.push_back(e.path().string());
    std::vector<double> a, b;
    std::size_t pairs = dirs.size();
    for (int k = 0; k < runs; ++k) {
      a.push_back(seconds([&] {
        for (std::size_t i = 0; i < pairs; ++i) {
          BQFileSpec out;
          BQFileUtils::getRelativePathTo(out, pathOf(dirs[i]),
                                         pathOf(dirs[(i * 7 + 3) % pairs]));
          check(out.utf8() != nullptr, "getRelativePathTo");
        }
      }));
      b.push_back(seconds([&] {
        for (std::size_t i = 0; i < pairs; ++i)
          check(!fs::relative(dirs[i], dirs[(i * 7 + 3) % pairs]).empty(),
                "relative");
      }));
    }
    char name[64];
    std::snprintf(name, sizeof name, "getRelativePathTo, %zu pairs", pairs);
    row(name, "std::filesystem::relative", median(a), median(b), 1.0);
  }
  fs::remove_all(c1);
  fs::remove_all(c2);
  fs::remove_all(tree);

  std::printf("\n## Scale (microseconds per file, median of runs)\n\n");
  std::printf("cp -r of the same tree, timed alongside, shows what the file "
              "system itself adds as the tree grows.\n\n");
  std::printf("| files | RecurseFiles | copyDirectory | deleteDir | cp -r |\n"
              "|---|---|---|---|---|\n");
  long allocs = 0, listed = 0, dirsListed = 0, liveAfter = 0;
  for (int n : {1000, 10000, 100000}) {
    makeTree(tree, n);
    const int reps = runs;
    std::vector<double> r, c, d, p;
    const std::string cp = "cp -r " + tree + " " + c2;
    for (int k = 0; k < reps; ++k) {
      r.push_back(seconds([&] { check(recurseBrackwell(tree) == std::size_t(n),
                                      "RecurseFiles count"); }));
      c.push_back(seconds([&] {
        check(BQFileUtils::copyDirectory(pathOf(tree), pathOf(c1)) == 0, "copy");
      }));
      d.push_back(seconds([&] {
        check(BQFileUtils::deleteDir(pathOf(c1), true) == 0, "deleteDir");
      }));
      p.push_back(seconds([&] { check(std::system(cp.c_str()) == 0, "cp -r"); }));
      fs::remove_all(c2);
    }
    std::printf("| %d | %.2f | %.2f | %.2f | %.2f |\n", n, median(r) * 1e6 / n,
                median(c) * 1e6 / n, median(d) * 1e6 / n, median(p) * 1e6 / n);
    if (n == 100000) {
      std::vector<BQFileSpec> files;
      const long before = bqbench::totalAllocations();
      const long liveBefore = bqbench::liveBlocks();
      check(BQFileUtils::RecurseFiles(pathOf(tree), files) == 0, "RecurseFiles");
      allocs = bqbench::totalAllocations() - before;
      liveAfter = bqbench::liveBlocks() - liveBefore;
      listed = static_cast<long>(files.size());
      dirsListed = n / 20 + n / 2000 + 1;
    }
    fs::remove_all(tree);
  }
  std::printf("\nRecurseFiles on 100,000 files in %ld directories: %ld "
              "allocations in all (%.3f per file, or %.3f per file and "
              "directory path); %ld blocks still live afterwards for %ld "
              "result paths and the result vector.\n",
              dirsListed, allocs, double(allocs) / listed,
              double(allocs) / (listed + dirsListed), liveAfter, listed);
  fs::remove_all(root);
  return 0;
}
