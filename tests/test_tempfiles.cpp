// The temporary-file and process-path operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "support/bqtest.h"

#include <optional>

using namespace Brackwell;
using bqtest::P;
using bqtest::str;

// Each test runs in a scratch tree holding tmp/, temp/, d/ and a plain
// file; TMPDIR, TEMP, PATH and the working directory are restored after it.
struct TempPaths : ::testing::Test {
  bqtest::TempTree t;
  bqtest::CwdGuard cwd;
  std::vector<std::pair<char const*, std::optional<std::string>>> saved;
  TempPaths() {
    for (char const* name : {"TMPDIR", "TEMP", "PATH"})
      saved.emplace_back(name, std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt);
    for (char const* dir : {"tmp", "temp", "d"})
      t.mkdir(dir);
    t.write("file", "x");
  }
  ~TempPaths() override {
    for (auto const& s : saved)
      set(s.first, s.second ? s.second->c_str() : nullptr);
  }
  // Sets the variable, or unsets it for null.
  static void set(char const* name, char const* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); }
};

// A variable that is set decides, even when it names no directory.
TEST_F(TempPaths, TempDirSourcesInOrder) {
  std::string slash = t.path("tmp") + "/", temp = t.path("temp"), file = t.path("file"), nope = t.path("nope");
  struct { char const *tmpdir, *temp; std::string expected; } const rows[] = {
      {slash.c_str(), nullptr, slash}, {slash.c_str(), temp.c_str(), slash}, {"", temp.c_str(), "."},
      {file.c_str(), temp.c_str(), "."}, {nope.c_str(), nullptr, "."}, {nullptr, temp.c_str(), temp},
      {nullptr, "", "."}, {nullptr, nope.c_str(), "."}, {nullptr, nullptr, bqtest::isDir("/tmp") ? "/tmp" : "."}};
  for (auto const& r : rows) {
    set("TMPDIR", r.tmpdir);
    set("TEMP", r.temp);
    EXPECT_EQ(r.expected, str(BQFileUtils::getTempDir()))
        << (r.tmpdir ? r.tmpdir : "-") << " " << (r.temp ? r.temp : "-");
  }
  ::setenv("TMPDIR", t.path("tmp").c_str(), 1);
  std::pair<BQFileSpec, std::string> const setups[] = {{P(slash + "/"), slash + "/"}, {P(nope), "."},
      {P(file), "."}, {BQFileSpec(), t.path("tmp")}, {P(""), t.path("tmp")}};
  for (auto s : setups) { // a copy, which setupTempDir rewrites
    BQFileUtils::setupTempDir(s.first);
    EXPECT_EQ(s.second, str(s.first));
  }
}

// New, empty, closed files of mode 0600 named prefix plus six characters,
// in the temporary directory for an empty directory, in "." for a missing
// one (the caller's value unchanged), and never the same twice.
TEST_F(TempPaths, CreateTempFile) {
  ::setenv("TMPDIR", t.path("tmp").c_str(), 1);
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  mode_t const mask = ::umask(022);
  struct { BQFileSpec dir; char const* prefix; std::string start; } const rows[] = {
      {BQFileSpec(), nullptr, t.path("tmp/bqx")}, {P(""), nullptr, t.path("tmp/bqx")},
      {P(t.path("d")), "log-", t.path("d/log-")}, {P(t.path("missing")), "p", "./p"}};
  std::string previous;
  for (auto const& r : rows) {
    BQFileSpec made = P("old");
    EXPECT_EQ(0, BQFileUtils::createTempFile(r.dir, r.prefix, made));
    std::string s = str(made);
    struct stat st;
    EXPECT_TRUE(s.size() == r.start.size() + 6 && s.rfind(r.start, 0) == 0 && s.find("XXXXXX") == s.npos &&
                s != previous && ::stat(s.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                (st.st_mode & 0777) == 0600 && st.st_size == 0)
        << s;
    EXPECT_EQ(std::wstring(s.begin(), s.end()), made.w_str()); // made after mkstemp
    previous = s;
  }
  ::umask(mask);
  EXPECT_EQ(t.path("missing"), str(rows[3].dir));
}

TEST_F(TempPaths, CwdUpTo2047Bytes) {
  auto real = [] { char buf[4096]; return std::string(::getcwd(buf, sizeof buf) ? buf : "(none)"); };
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  // Levels of 200 bytes, then one that ends at 2047.
  for (std::string name(200, 'n'); real().size() < 2047;) {
    name.resize(std::min<std::size_t>(200, 2046 - real().size()));
    ASSERT_TRUE(::mkdir(name.c_str(), 0700) == 0 && ::chdir(name.c_str()) == 0);
  }
  ASSERT_EQ(2047u, real().size());
  EXPECT_EQ(real(), str(BQFileUtils::cwd()));
  ASSERT_TRUE(::mkdir("x", 0700) == 0 && ::chdir("x") == 0);
  EXPECT_EQ(nullptr, BQFileUtils::cwd().utf8());
}

// With /proc the name is not looked at; without it (realpath failing) the
// program name and PATH decide. Run in .../usr, which holds bin/prog.
TEST_F(TempPaths, ProcessPath) {
  char exe[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath("/proc/self/exe", exe));
  for (char const* f : {"usr/bin/prog", "bin/prog2", "usr/a\\prog", "usr/\\a/b"})
    t.write(f, "");
  std::string const r = t.root(), usr = r + "/usr", ub = usr + "/bin", upb = ub + "/prog", bin = r + "/bin";
  ASSERT_EQ(0, ::chdir(usr.c_str()));
  // PATH "" stands for unset; "-" for a value that a name with a separator
  // never reads.
  struct { std::string path; char const* name; std::string out; } const rows[] = {
      {"-", nullptr, "3 (null)"}, {"-", upb.c_str(), "0 " + upb}, {"-", "/none/x", "1 (null)"},
      {"-", "bin/prog", "0 " + upb}, {"-", "./bin/prog", "0 " + usr + "/./bin/prog"},
      {"-", "a\\prog", "0 " + usr + "/a\\prog"}, {"-", "\\a/b", "0 " + usr + "/\\a/b"}, // its first "/" is inside
      {":" + ub + "::" + bin, "prog2", "0 " + bin + "/prog2"}, {":" + ub + "::" + bin, "prog", "0 " + upb},
      {ub + ":", "proc", "0 /proc"}, // the empty last element: "/"
      {ub, "proc", "1 (null)"}, {"::", "proc", "0 /proc"}, {"bin", "prog", "0 bin/prog"}, {"", "prog", "1 (null)"}};
  for (bool proc : {true, false}) {
    if (!proc && !bqtest::callsWrapped())
      GTEST_SKIP() << "no fault harness to fail realpath with";
    if (!proc)
      bqtest::armPoint(0, ENOENT, "realpath"); // no point: every realpath fails
    for (auto const& row : rows) {
      set("PATH", row.path.empty() ? nullptr : row.path.c_str());
      BQFileSpec res = P("old");
      BQ_STATUS st = BQFileUtils::getProcessFullPath(res, row.name);
      EXPECT_EQ(proc ? "0 " + std::string(exe) : row.out, std::to_string(st) + " " + str(res))
          << (row.name ? row.name : "(null)") << (proc ? " with /proc" : "");
    }
  }
  // Chosen: with the working directory removed a relative name gives 1.
  ASSERT_TRUE(::chdir(t.path("temp").c_str()) == 0 && ::rmdir(t.path("temp").c_str()) == 0);
  BQFileSpec res = P("old");
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::getProcessFullPath(res, "bin/prog"));
  EXPECT_EQ(nullptr, res.utf8());
  bqtest::disarm();
}
