// Tests of the temporary-file and process-path operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "brackwell/utilTokenizer.h"
#include "support/alloc_fault.h"
#include "support/child.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Brackwell::BQFileSpec;
using Brackwell::BQFileUtils;

namespace {

BQFileSpec P(std::string const& s) {
  return BQFileSpec(s.c_str(), BQFileSpec::ENCODING_NATIVE);
}

std::string str(BQFileSpec const& p) {
  return p.utf8() ? std::string(p.utf8()) : std::string("<null>");
}

// Saves TMPDIR, TEMP, PATH and the working directory; restores them when it
// goes out of scope.
class EnvGuard {
public:
  EnvGuard() {
    for (int i = 0; i < 3; ++i) {
      char const* v = std::getenv(kNames[i]);
      m_set[i] = v != nullptr;
      m_val[i] = v ? v : "";
    }
    char buf[4096];
    m_cwd = ::getcwd(buf, sizeof buf) ? buf : "/";
  }
  ~EnvGuard() {
    for (int i = 0; i < 3; ++i) {
      if (m_set[i])
        ::setenv(kNames[i], m_val[i].c_str(), 1);
      else
        ::unsetenv(kNames[i]);
    }
    if (::chdir(m_cwd.c_str()) != 0)
      ADD_FAILURE() << "cannot restore the working directory";
  }

private:
  static constexpr char const* kNames[3] = {"TMPDIR", "TEMP", "PATH"};
  bool m_set[3];
  std::string m_val[3];
  std::string m_cwd;
};
constexpr char const* EnvGuard::kNames[3];

std::string realCwd() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? buf : "<none>";
}

} // namespace

TEST(TempDir, SourcesInOrder) {
  EnvGuard guard;
  bqtest::TempTree t;
  t.mkdir("tmp");
  t.mkdir("temp");
  t.write("file", "x");
  std::string withSlash = t.path("tmp") + "/", temp = t.path("temp"),
              file = t.path("file"), nope = t.path("nope");
  struct Case {
    char const* tmpdir; // null: unset
    char const* temp;
    std::string expected;
  } cases[] = {
      {withSlash.c_str(), nullptr, withSlash},
      {withSlash.c_str(), temp.c_str(), withSlash},
      {"", temp.c_str(), "."},
      {file.c_str(), temp.c_str(), "."},
      {nope.c_str(), nullptr, "."},
      {nullptr, temp.c_str(), temp},
      {nullptr, "", "."},
      {nullptr, nope.c_str(), "."},
  };
  for (auto const& c : cases) {
    if (c.tmpdir) ::setenv("TMPDIR", c.tmpdir, 1); else ::unsetenv("TMPDIR");
    if (c.temp) ::setenv("TEMP", c.temp, 1); else ::unsetenv("TEMP");
    EXPECT_EQ(c.expected, str(BQFileUtils::getTempDir()))
        << (c.tmpdir ? c.tmpdir : "-") << " " << (c.temp ? c.temp : "-");
  }
  ::unsetenv("TMPDIR");
  ::unsetenv("TEMP");
  struct stat st;
  bool tmpIsDir = ::stat("/tmp", &st) == 0 && S_ISDIR(st.st_mode);
  EXPECT_EQ(tmpIsDir ? "/tmp" : ".", str(BQFileUtils::getTempDir()));
}

TEST(TempDir, SetupTempDir) {
  EnvGuard guard;
  bqtest::TempTree t;
  t.mkdir("d");
  t.write("f", "x");
  ::setenv("TMPDIR", t.path("d").c_str(), 1);
  BQFileSpec a = P(t.path("d") + "//");
  BQFileUtils::setupTempDir(a);
  EXPECT_EQ(t.path("d") + "//", str(a));
  BQFileSpec b = P(t.path("missing"));
  BQFileUtils::setupTempDir(b);
  EXPECT_EQ(".", str(b));
  BQFileSpec c = P(t.path("f"));
  BQFileUtils::setupTempDir(c);
  EXPECT_EQ(".", str(c));
  for (BQFileSpec e : {BQFileSpec(), P("")}) {
    BQFileUtils::setupTempDir(e);
    EXPECT_EQ(t.path("d"), str(e));
  }
}

TEST(CreateTempFile, DefaultPrefixPermissionsAndUniqueness) {
  EnvGuard guard;
  bqtest::TempTree t;
  t.mkdir("tmp");
  ::setenv("TMPDIR", t.path("tmp").c_str(), 1);
  ::umask(022);
  BQFileSpec r1, r2;
  ASSERT_EQ(0, BQFileUtils::createTempFile(BQFileSpec(), nullptr, r1));
  ASSERT_EQ(0, BQFileUtils::createTempFile(P(""), nullptr, r2));
  std::string prefix = t.path("tmp") + "/bqx";
  for (BQFileSpec const* r : {&r1, &r2}) {
    std::string s = str(*r);
    ASSERT_EQ(prefix.size() + 6, s.size()) << s;
    EXPECT_EQ(prefix, s.substr(0, prefix.size()));
    EXPECT_EQ(std::string::npos, s.find("XXXXXX"));
    struct stat st;
    ASSERT_EQ(0, ::stat(s.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(0600u, st.st_mode & 0777u);
    EXPECT_EQ(0, st.st_size);
    // The wide rendering, made after the call, names the same file.
    std::wstring w(r->w_str());
    EXPECT_EQ(std::wstring(s.begin(), s.end()), w);
  }
  EXPECT_NE(str(r1), str(r2));
}

TEST(CreateTempFile, PrefixAndFallbackDirectory) {
  EnvGuard guard;
  bqtest::TempTree t;
  t.mkdir("d");
  t.write("plain", "x");
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  BQFileSpec r;
  ASSERT_EQ(0, BQFileUtils::createTempFile(P(t.path("d")), "log-", r));
  EXPECT_EQ(0u, str(r).find(t.path("d") + "/log-"));
  EXPECT_EQ(t.path("d").size() + 1 + 4 + 6, str(r).size());

  BQFileSpec dirArg = P(t.path("nonexistent"));
  ASSERT_EQ(0, BQFileUtils::createTempFile(dirArg, "p", r));
  EXPECT_EQ(t.path("nonexistent"), str(dirArg)); // caller's value untouched
  EXPECT_EQ(0u, str(r).find("./p"));
  struct stat st;
  EXPECT_EQ(0, ::stat((t.root() + "/" + str(r).substr(2)).c_str(), &st));
  ASSERT_EQ(0, BQFileUtils::createTempFile(P(t.path("plain")), "q", r));
  EXPECT_EQ(0u, str(r).find("./q"));
}

TEST(CreateTempFile, NoWritePermission) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user or root directory";
  bqtest::TempTree t;
  t.mkdir("ro");
  ASSERT_EQ(0, ::chmod(t.root().c_str(), 0755));
  ASSERT_EQ(0, ::chmod(t.path("ro").c_str(), 0555));
  std::string ro = t.path("ro");
  EXPECT_EQ("", bqtest::inChild([&] {
    BQFileSpec r;
    return BQFileUtils::createTempFile(P(ro), nullptr, r) == 3037 ? 0 : 1;
  }, true));
}

TEST(CreateTempFile, NameBufferFailureLeavesResult) {
  bqtest::TempTree t;
  BQFileSpec dir = P(t.root());
  long points = bqtest::forEachAllocFailure([&] {
    try {
      BQFileSpec r = P("sentinel");
      Brackwell::BQ_STATUS st = BQFileUtils::createTempFile(dir, "z", r);
      if (st == 8) {
        EXPECT_TRUE(bqtest::failureInjected());
        EXPECT_EQ("sentinel", str(r));
      } else {
        EXPECT_EQ(0, st);
        ASSERT_NE(nullptr, r.utf8());
        EXPECT_EQ(0u, str(r).find(t.root() + "/z")); // never elsewhere
        EXPECT_EQ(0, ::unlink(r.utf8())) << str(r);
      }
    } catch (Brackwell::BQUtilException const& e) {
      EXPECT_TRUE(bqtest::failureInjected());
      EXPECT_EQ(8, e.code);
    }
  });
  EXPECT_GE(points, 1);
}

TEST(Cwd, ReadsWorkingDirectory) {
  EnvGuard guard;
  bqtest::TempTree t;
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  EXPECT_EQ(realCwd(), str(BQFileUtils::cwd()));

  // Descend until the path needs 2048 bytes or more.
  std::string name(200, 'n');
  while (realCwd().size() < 2047) {
    ASSERT_EQ(0, ::mkdir(name.c_str(), 0700));
    ASSERT_EQ(0, ::chdir(name.c_str()));
  }
  if (realCwd().size() == 2047) {
    EXPECT_EQ(realCwd(), str(BQFileUtils::cwd()));
    ASSERT_EQ(0, ::mkdir("x", 0700));
    ASSERT_EQ(0, ::chdir("x"));
  }
  EXPECT_EQ(nullptr, BQFileUtils::cwd().utf8());
}

TEST(ProcessPath, ProcSelfExe) {
  char buf[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath("/proc/self/exe", buf));
  for (char const* name : {static_cast<char const*>(nullptr), "x", "/bin/sh",
                           "./nothing"}) {
    BQFileSpec r = P("old");
    EXPECT_EQ(0, BQFileUtils::getProcessFullPath(r, name));
    EXPECT_EQ(std::string(buf), str(r));
  }
  // Exhausted memory: the path is stored, or code 8 is thrown; never a
  // success with a null result.
  bqtest::forEachAllocFailure([&] {
    BQFileSpec r;
    try {
      EXPECT_EQ(0, BQFileUtils::getProcessFullPath(r, nullptr));
      EXPECT_EQ(std::string(buf), str(r));
    } catch (Brackwell::BQUtilException const& e) {
      EXPECT_TRUE(bqtest::failureInjected());
      EXPECT_EQ(8, e.code);
    }
  });
}

// Without /proc the program name and PATH decide. /proc is hidden by a tmpfs
// mounted over it in a private mount namespace, or, where that is refused, by
// a chroot into the scratch tree (whose paths then start at "/"). Runs in a
// child; the exit code names the first failing check.
TEST(ProcessPath, WithoutProc) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to hide /proc";
  bqtest::TempTree t;
  t.mkdir("usr/bin");
  t.mkdir("usr/\\a");
  t.mkdir("bin");
  t.mkdir("gone");
  t.mkdir("proc");
  t.write("usr/bin/prog", "");
  t.write("bin/prog2", "");
  t.write("usr/a\\prog", "");
  t.write("usr/\\a/b", "");
  char real[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath(t.root().c_str(), real));
  constexpr int kNoHiding = 120;
  std::fflush(stdout); // the child's exit flushes its copy of the buffers
  pid_t pid = ::fork();
  if (pid == 0) {
    // Private mounts, so the tmpfs never shows outside this child; only a
    // tmpfs mounted here is ever unmounted.
    bool ns = ::unshare(CLONE_NEWNS) == 0 &&
              ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ==
                  0 &&
              ::mount("none", "/proc", "tmpfs", 0, nullptr) == 0;
    if (!ns && ::chroot(real) != 0)
      ::_exit(kNoHiding);
    // In the namespace: exit rather than _exit, so that a coverage build
    // writes the child's counters (libgcov dumps them at exit), with /proc
    // back first for the leak checker of a sanitizer build. In the chroot
    // neither could work.
    auto leave = [ns](int code) {
      if (!ns)
        ::_exit(code);
      ::umount2("/proc", MNT_DETACH);
      std::exit(code);
    };
    std::string r(ns ? real : ""), usr = r + "/usr", ub = usr + "/bin";
    std::string upb = ub + "/prog", pathA = ":" + ub + "::" + r + "/bin",
                pathB = ub + ":";
    if (::chdir(usr.c_str()) != 0)
      leave(100);
    int check = 0;
    auto expect = [&](char const* path, char const* name, int st,
                      std::string const* expected) {
      ++check;
      if (path) ::setenv("PATH", path, 1); else ::unsetenv("PATH");
      BQFileSpec res = P("old");
      if (BQFileUtils::getProcessFullPath(res, name) != st)
        leave(check);
      if (expected ? str(res) != *expected : res.utf8() != nullptr)
        leave(50 + check);
    };
    std::string const e[] = {usr + "/./bin/prog", usr + "/a\\prog",
                             r + "/bin/prog2", "/proc", "bin/prog",
                             usr + "/\\a/b"};
    expect("/bin", nullptr, 3, nullptr);
    expect(nullptr, upb.c_str(), 0, &upb);
    expect(nullptr, (ub + "/none").c_str(), 1, nullptr);
    expect(nullptr, "bin/prog", 0, &upb);
    expect(nullptr, "./bin/prog", 0, &e[0]);
    expect(nullptr, "a\\prog", 0, &e[1]);
    expect(nullptr, "\\a/b", 0, &e[5]); // its first "/" is inside
    expect(pathA.c_str(), "prog2", 0, &e[2]);
    expect(pathA.c_str(), "prog", 0, &upb);
    expect(pathB.c_str(), "proc", 0, &e[3]); // the empty last element: "/"
    expect(ub.c_str(), "proc", 1, nullptr);
    expect("::", "proc", 0, &e[3]);
    expect("bin", "prog", 0, &e[4]);
    expect(nullptr, "prog", 1, nullptr);
    // The copy of PATH cannot be had: 8, result unchanged.
    ::setenv("PATH", ub.c_str(), 1);
    BQFileSpec kept = P("old");
    bqtest::armFailure(1);
    Brackwell::BQ_STATUS oom = BQFileUtils::getProcessFullPath(kept, "prog");
    bool injected = bqtest::failureInjected();
    bqtest::disarm();
    if (oom != 8 || !injected || str(kept) != "old")
      leave(99);
    // The working directory removed: a relative name cannot be placed.
    std::string gone = r + "/gone";
    if (::chdir(gone.c_str()) != 0 || ::rmdir(gone.c_str()) != 0)
      leave(101);
    expect(nullptr, "bin/prog", 1, nullptr);
    leave(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kNoHiding)
    GTEST_SKIP() << "cannot hide /proc: no private mount namespace, no chroot";
  EXPECT_EQ(0, WEXITSTATUS(status)) << "first failing check";
}
