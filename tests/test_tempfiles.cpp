// The temporary-file and process-path operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "brackwell/utilTokenizer.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace Brackwell;
using bqtest::P;
using bqtest::str;

namespace {

// Restores TMPDIR, TEMP, PATH and the working directory at its end.
struct Env {
  std::vector<std::pair<char const*, std::optional<std::string>>> saved;
  bqtest::CwdGuard cwd;
  Env() {
    for (char const* name : {"TMPDIR", "TEMP", "PATH"}) {
      char const* v = std::getenv(name);
      saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  ~Env() {
    for (auto const& s : saved)
      set(s.first, s.second ? s.second->c_str() : nullptr);
  }
  // Sets the variable, or unsets it for null.
  static void set(char const* name, char const* value) {
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
};

std::string realCwd() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? buf : "(none)";
}

} // namespace

// A variable that is set decides, even when it names no directory.
TEST(TempDir, SourcesInOrder) {
  Env env;
  bqtest::TempTree t;
  t.mkdir("tmp");
  t.mkdir("temp");
  t.write("file", "x");
  std::string slash = t.path("tmp") + "/", temp = t.path("temp"),
              file = t.path("file"), nope = t.path("nope");
  struct { char const* tmpdir; char const* temp; std::string expected; } const rows[] = {
      {slash.c_str(), nullptr, slash},      {slash.c_str(), temp.c_str(), slash},
      {"", temp.c_str(), "."},              {file.c_str(), temp.c_str(), "."},
      {nope.c_str(), nullptr, "."},         {nullptr, temp.c_str(), temp},
      {nullptr, "", "."},                   {nullptr, nope.c_str(), "."},
      {nullptr, nullptr, bqtest::isDir("/tmp") ? "/tmp" : "."}};
  for (auto const& r : rows) {
    Env::set("TMPDIR", r.tmpdir);
    Env::set("TEMP", r.temp);
    EXPECT_EQ(r.expected, str(BQFileUtils::getTempDir()))
        << (r.tmpdir ? r.tmpdir : "-") << " " << (r.temp ? r.temp : "-");
  }
  ::setenv("TMPDIR", t.path("tmp").c_str(), 1);
  std::pair<BQFileSpec, std::string> const setups[] = {
      {P(slash + "/"), slash + "/"}, {P(nope), "."}, {P(file), "."},
      {BQFileSpec(), t.path("tmp")}, {P(""), t.path("tmp")}};
  for (auto const& s : setups) {
    BQFileSpec dir = s.first;
    BQFileUtils::setupTempDir(dir);
    EXPECT_EQ(s.second, str(dir));
  }
}

TEST(CreateTempFile, NamesPermissionsAndPlaces) {
  Env env;
  bqtest::TempTree t;
  t.mkdir("tmp");
  t.mkdir("d");
  t.write("plain", "x");
  ::setenv("TMPDIR", t.path("tmp").c_str(), 1);
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  ::umask(022);
  BQFileSpec r1, r2, r3, r4 = P("old");
  ASSERT_EQ(0, BQFileUtils::createTempFile(BQFileSpec(), nullptr, r1));
  ASSERT_EQ(0, BQFileUtils::createTempFile(P(""), nullptr, r2));
  std::string prefix = t.path("tmp") + "/bqx";
  for (BQFileSpec const* r : {&r1, &r2}) {
    std::string s = str(*r);
    EXPECT_EQ(prefix, s.substr(0, prefix.size()));
    EXPECT_EQ(prefix.size() + 6, s.size());
    EXPECT_EQ(std::string::npos, s.find("XXXXXX"));
    struct stat st;
    ASSERT_EQ(0, ::stat(s.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(0600u, st.st_mode & 0777u);
    EXPECT_EQ(0, st.st_size);
    EXPECT_EQ(std::wstring(s.begin(), s.end()), r->w_str()); // made after
  }
  EXPECT_NE(str(r1), str(r2));
  ASSERT_EQ(0, BQFileUtils::createTempFile(P(t.path("d")), "log-", r3));
  EXPECT_EQ(t.path("d") + "/log-", str(r3).substr(0, t.path("d").size() + 5));
  EXPECT_EQ(t.path("d").size() + 11, str(r3).size());
  // A missing directory, or a file, means the current directory; the
  // caller's directory is left as it was.
  BQFileSpec const missing = P(t.path("missing"));
  ASSERT_EQ(0, BQFileUtils::createTempFile(missing, "p", r4));
  EXPECT_EQ(t.path("missing"), str(missing));
  EXPECT_EQ("./p", str(r4).substr(0, 3));
  EXPECT_TRUE(bqtest::exists(t.path(str(r4).substr(2))));
  ASSERT_EQ(0, BQFileUtils::createTempFile(P(t.path("plain")), "q", r4));
  EXPECT_EQ("./q", str(r4).substr(0, 3));
}

TEST(Cwd, ReadsWorkingDirectoryUpTo2047Bytes) {
  Env env;
  bqtest::TempTree t;
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  EXPECT_EQ(realCwd(), str(BQFileUtils::cwd()));
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

TEST(ProcessPath, ProcSelfExeWhateverTheName) {
  char buf[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath("/proc/self/exe", buf));
  for (char const* name : {static_cast<char const*>(nullptr), "x", "/bin/sh"}) {
    BQFileSpec r = P("old");
    EXPECT_EQ(0, BQFileUtils::getProcessFullPath(r, name));
    EXPECT_EQ(buf, str(r));
  }
}

// Without /proc (a tmpfs over it in a private mount namespace, in a child)
// the program name and PATH decide.
TEST(ProcessPath, WithoutProc) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to hide /proc";
  bqtest::TempTree t;
  for (char const* f : {"usr/bin/prog", "bin/prog2", "usr/a\\prog", "usr/\\a/b"})
    t.write(f, "");
  t.mkdir("gone");
  std::string const r = t.root(), usr = r + "/usr", ub = usr + "/bin",
                    upb = ub + "/prog";
  std::string verdict = bqtest::inChild([&]() -> std::string {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
      return "skip";
    struct Remount { // /proc back for the leak checker at exit
      ~Remount() { ::umount2("/proc", MNT_DETACH); }
    } remount;
    CHILD_CHECK(::chdir(usr.c_str()) == 0);
    // PATH "" stands for unset; "-" for a value that a name with a
    // separator never reads.
    std::string const none = "(null)", bin = r + "/bin";
    struct { std::string path; char const* name; int status; std::string out; } const rows[] = {
        {"-", nullptr, BQ_STS_NullArgument, none},
        {"-", upb.c_str(), 0, upb},
        {"-", "/none/x", BQ_STS_Failure, none},
        {"-", "bin/prog", 0, upb},
        {"-", "./bin/prog", 0, usr + "/./bin/prog"},
        {"-", "a\\prog", 0, usr + "/a\\prog"},
        {"-", "\\a/b", 0, usr + "/\\a/b"}, // its first "/" is inside
        {":" + ub + "::" + bin, "prog2", 0, bin + "/prog2"},
        {":" + ub + "::" + bin, "prog", 0, upb},
        {ub + ":", "proc", 0, "/proc"}, // the empty last element: "/"
        {ub, "proc", BQ_STS_Failure, none},
        {"::", "proc", 0, "/proc"},
        {"bin", "prog", 0, "bin/prog"},
        {"", "prog", BQ_STS_Failure, none}};
    for (auto const& row : rows) {
      Env::set("PATH", row.path.empty() ? nullptr : row.path.c_str());
      BQFileSpec res = P("old");
      CHILD_CHECK(BQFileUtils::getProcessFullPath(res, row.name) == row.status);
      if (str(res) != row.out)
        return (row.name ? row.name : "(null)") + std::string(": ") + str(res);
    }
    // Chosen: with the working directory removed, a relative name gives 1.
    std::string gone = r + "/gone";
    CHILD_CHECK(::chdir(gone.c_str()) == 0 && ::rmdir(gone.c_str()) == 0);
    BQFileSpec res = P("old");
    CHILD_CHECK(BQFileUtils::getProcessFullPath(res, "bin/prog") == 1 && !res.utf8());
    return "";
  });
  if (verdict == "skip")
    GTEST_SKIP() << "no private mount namespace to hide /proc in";
  EXPECT_EQ("", verdict);
}
