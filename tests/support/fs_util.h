// Small helpers the file-system tests share: paths as BQFileSpec values and
// back, the working directory restored, existence checks, descriptor counts
// and whole-tree snapshots made without the library, file contents, and
// running a body in a child process (child.h).
//
//   BQFileSpec p = bqtest::P(t.path("f"));
//   EXPECT_TRUE(bqtest::exists(t.path("f")));
//   EXPECT_EQ(before, bqtest::snapshot(t.path("src")));
//   EXPECT_EQ("", bqtest::inChild([&]() -> std::string { ... }));
#ifndef BRACKWELL_TESTS_FS_UTIL_H
#define BRACKWELL_TESTS_FS_UTIL_H

#include "brackwell/fileSpec.h"
#include "support/child.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

namespace bqtest {

inline Brackwell::BQFileSpec P(std::string const& s) {
  return Brackwell::BQFileSpec(s.c_str(), Brackwell::BQFileSpec::ENCODING_NATIVE);
}

// The path's text, "(null)" for the null value.
inline std::string str(Brackwell::BQFileSpec const& f) {
  return f.utf8() ? f.utf8() : "(null)";
}

// Restores the working directory when it goes out of scope.
struct CwdGuard {
  char saved[4096];
  CwdGuard() {
    if (!::getcwd(saved, sizeof saved))
      saved[0] = '\0';
  }
  ~CwdGuard() {
    if (saved[0] && ::chdir(saved) != 0)
      ADD_FAILURE() << "cannot restore the working directory";
  }
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
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d))
      ++n;
    ::closedir(d);
  }
  return n;
}

// The tree below `root` as relative path ("/a/b") => the file's bytes,
// "<dir>", "<link>" or "<other>", read without following links; what
// lstat() cannot reach (a path of PATH_MAX bytes or more) is left out.
using Snap = std::map<std::string, std::string>;
inline Snap snapshot(std::string const& root, std::string const& rel = "",
                     Snap* into = nullptr) {
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

} // namespace bqtest

#endif // BRACKWELL_TESTS_FS_UTIL_H
