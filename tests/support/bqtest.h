// What the tests share: the fault-injection harness, scratch trees, paths as
// BQFileSpec values and back, snapshots of whole trees made without the
// library, and running a body in a child process. It also brings in
// GoogleTest and the standard and POSIX headers the tests use.
//
// Fallible calls are the non-throwing array allocations (`new (std::nothrow)
// T[n]`, the one form the library uses for its buffers; the test executables
// replace the global operator new/delete family) and the system calls the
// library makes, which the test executables reach through `-Wl,--wrap`
// (bqtest.cpp holds both, and the list of those calls). Every allocation
// through any operator new is counted, so a test can assert that an
// operation released everything it took. Faults are injected only in the
// thread that armed them:
//
//   bqtest::armPoint(n, EIO);     // the n-th fallible call made from now
//   BQ_STATUS s = op();           // on fails (EIO for a system call)
//   std::string p = bqtest::failedPoint(); // "fstat#2": the 2nd fstat
//   bqtest::disarm();
//
// Trees and children:
//
//   bqtest::TempTree t;           // fresh directory under $TMPDIR or /tmp,
//   t.write("a/b/f.txt", "hi");   // removed with all below it at the end
//   EXPECT_EQ(before, bqtest::snapshot(t.path("a")));
//   EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
//     CHILD_CHECK(::setrlimit(RLIMIT_NOFILE, &lim) == 0);
//     return "";
//   }));
#ifndef BRACKWELL_TESTS_BQTEST_H
#define BRACKWELL_TESTS_BQTEST_H

#include "brackwell/fileSpec.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace bqtest {

// True where the harness is on: the system calls are wrapped (a static
// library, set by tests/CMakeLists.txt) and so the allocation functions are
// replaced (no ThreadSanitizer).
inline bool callsWrapped() { return BQTEST_WRAP; }
// Makes the n-th fallible call of this thread from now on fail, whether an
// allocation or a system call; a failing system call sets `err` (or returns
// it, for the pthread calls). With `always`, every call of that name fails
// too, with `err`; such failures are not points and do not count.
void armPoint(long n, int err, char const* always = nullptr);
// Stops injecting failures in this thread.
void disarm();
// While paused, this thread's calls neither count nor fail.
void pause(bool on);
// The point that failed since the arm: "new[]#1" or the system call's name
// and which call of that name it was; "" if none failed.
std::string failedPoint();
// Blocks currently allocated through any operator new, in all threads.
long liveBlocks();
// The system calls the harness wraps.
std::set<std::string> listedCalls();

// A scratch directory, removed with everything below it at the end.
class TempTree {
public:
  TempTree();
  ~TempTree();
  TempTree(TempTree const&) = delete;
  std::string const& root() const { return m_root; }
  std::string path(std::string const& rel) const { return m_root + "/" + rel; }
  // Creates the directory rel (and its parents).
  void mkdir(std::string const& rel) const;
  // Creates or replaces the file rel with the given bytes (parents made).
  void write(std::string const& rel, std::string const& bytes) const;
  // Reads a whole file; "<missing>" when it cannot be opened.
  static std::string read(std::string const& absPath);

private:
  std::string m_root;
};
// Removes a tree without using the library (nftw, no links followed).
void removeTree(std::string const& path);

inline Brackwell::BQFileSpec P(std::string const& s) {
  return Brackwell::BQFileSpec(s.c_str(), Brackwell::BQFileSpec::ENCODING_NATIVE);
}
// The path's text, "(null)" for the null value.
inline std::string str(Brackwell::BQFileSpec const& f) { return f.utf8() ? f.utf8() : "(null)"; }

// Restores the working directory when it goes out of scope.
struct CwdGuard {
  char saved[4096];
  CwdGuard() { saved[0] = ::getcwd(saved, sizeof saved) ? saved[0] : '\0'; }
  ~CwdGuard() { EXPECT_TRUE(!saved[0] || ::chdir(saved) == 0) << "cannot restore the working directory"; }
};

// lstat() succeeds: the entry exists, a dangling link included.
inline bool exists(std::string const& s) {
  struct stat st;
  return ::lstat(s.c_str(), &st) == 0;
}
inline bool isDir(std::string const& s) {
  struct stat st;
  return ::stat(s.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `n` pseudo-random bytes, the same for the same seed.
inline std::string content(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (char& c : s)
    c = char((seed = seed * 1103515245u + 12345u) >> 16);
  return s;
}

// The descriptors this process holds open (the listing's own included).
inline int openFds() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  while (d && ::readdir(d))
    ++n;
  return d && ::closedir(d), n;
}

// The tree below `root` as relative path ("/a/b") => the file's bytes,
// "<dir>", "<link>" or "<other>", read without following links; what
// lstat() cannot reach (a path of PATH_MAX bytes or more) is left out.
using Snap = std::map<std::string, std::string>;
inline Snap snapshot(std::string const& root, std::string const& rel = "", Snap* into = nullptr) {
  Snap own;
  Snap& out = into ? *into : own;
  DIR* d = ::opendir((root + rel).c_str());
  for (dirent* e; d && (e = ::readdir(d));) {
    std::string const n = e->d_name, r = rel + "/" + n;
    struct stat st;
    if (n == "." || n == ".." || ::lstat((root + r).c_str(), &st) != 0)
      continue;
    out[r] = S_ISDIR(st.st_mode)   ? "<dir>"
             : S_ISREG(st.st_mode) ? TempTree::read(root + r)
             : S_ISLNK(st.st_mode) ? "<link>" : "<other>";
    if (S_ISDIR(st.st_mode))
      snapshot(root, r, &out);
  }
  if (d)
    ::closedir(d);
  return own;
}

// What changed from snapshot `a` to `b`, in path order: " -path" (gone),
// " ~path" (changed) and " +path" (made), the last two followed by `tell` of
// the new value.
template <class F> std::string changes(Snap const& a, Snap const& b, F tell) {
  Snap all = b;
  all.insert(a.begin(), a.end()); // b's value where both have one
  std::string out;
  for (auto const& [k, v] : all)
    out += !b.count(k) ? " -" + k.substr(1)
           : !a.count(k) ? " +" + k.substr(1) + tell(v)
           : v != a.at(k) ? " ~" + k.substr(1) + tell(v) : "";
  return out;
}

// Runs `body` in a forked child and brings back its verdict: the empty text
// when every check held, otherwise what failed. With asNobody the child
// first drops to uid/gid 65534 (needs root). The child ends with exit(), not
// _exit(), so that coverage counters and a sanitizer's leak check run in it
// too; a leak or a crash there is reported as "child died".
template <class F> std::string inChild(F body, bool asNobody = false) {
  static_assert(std::is_same<decltype(body()), std::string>::value, "a child's verdict is text");
  int fds[2];
  if (::pipe(fds) != 0)
    return "pipe failed";
  std::fflush(nullptr); // nothing buffered is written twice
  pid_t const pid = ::fork();
  if (pid == 0) {
    std::string msg = "cannot become user 65534";
    try {
      if (!asNobody || (::setgid(65534) == 0 && ::setuid(65534) == 0))
        msg = body();
    } catch (...) {
      msg = "exception";
    }
    std::exit(::write(fds[1], msg.data(), msg.size()) == ssize_t(msg.size()) ? 0 : 2);
  }
  ::close(fds[1]);
  std::string msg;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    msg.append(buf, std::size_t(n));
  ::close(fds[0]);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || status != 0)
    return "child died (status " + std::to_string(status) + ") " + msg;
  return msg;
}

} // namespace bqtest

// In a child's body: returns the failed condition as its verdict.
#define CHILD_CHECK(cond)                                                                          \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      return std::string("line ") + std::to_string(__LINE__) + ": " #cond;                         \
  } while (0)

#endif // BRACKWELL_TESTS_BQTEST_H
