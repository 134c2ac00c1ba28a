// Every operation that makes fallible calls, run with its 1st, 2nd, ...
// fallible call (an array allocation or a system call) failing until it
// completes. At each point the outcome must be the one stated for a failure
// of that call, the same for two error numbers, with no block and no
// descriptor leaked. An outcome is the result followed by what changed on
// disk: +path (made; a file with its size), -path (gone), ~path (changed).
#include "brackwell/fileUtils.h"
#include "brackwell/stringUtils.h"
#include "brackwell/thread.h"
#include "brackwell/utilSync.h"
#include "brackwell/utilTokenizer.h"

#include "support/bqtest.h"

#include <filesystem>
#include <numeric>
#include <regex>
#include <sstream>

using namespace Brackwell;
using bqtest::P;

namespace {

// A row states its outcomes as "calls=pattern;calls=pattern...": by failing
// call as "call#n" (its n-th use), then "call", then "*"; "done" is the run
// without a failure. In a pattern ( ) | ? group and choose and # stands for
// any text; the rest is literal.
struct Row {
  char const* name;
  std::function<std::string()> op;
  std::string expect;
  char const* always = nullptr; // fails at every use, not a point
};
void PrintTo(Row const& r, std::ostream* os) { *os << r.name; }
// A row whose outcome is `expr` as text; with every call named `always`
// failing.
#define ROW(expr, ...) {#expr, [] { return str(expr); }, __VA_ARGS__}
#define ALWAYS(always, expr, ...) {#expr ", " always " failing", [] { return str(expr); }, __VA_ARGS__, always}

std::string str(std::string s) { return s; }
std::string str(long v) { return std::to_string(v); }
std::string str(std::wstring const& w) { return std::string(w.begin(), w.end()); }
std::string str(BQFileSpec const& f) { return f.utf8() ? f.utf8() : "null"; }
template <class C> std::string own(C* p) { // the text of a block from new[], which it frees; "null" for none
  return p ? str(std::basic_string<C>(std::unique_ptr<C[]>(p).get())) : "null";
}
std::string str(std::vector<BQFileSpec> const& v) { // the first, then the rest by name
  std::multiset<std::string> s;
  for (std::size_t i = 1; i < v.size(); ++i)
    s.insert("," + str(v[i]));
  return std::accumulate(s.begin(), s.end(), str(v.at(0)));
}
template <class F> auto quiet(F f) { // no points in f
  bqtest::pause(true);
  auto r = f();
  bqtest::pause(false);
  return r;
}
BQFileSpec old() { return quiet([] { return P("old"); }); }
std::vector<BQFileSpec> pre() { return quiet([] { return std::vector<BQFileSpec>{P("pre")}; }); }
// The status of `f` ("!8" when it threw) and then `out` as it stands.
template <class F, class... O> std::string then(F f, O const&... out) {
  std::string s;
  try {
    s = str(f());
  } catch (BQUtilException const& e) {
    s = "!" + str(e.code);
  }
  return (s + ... + (" " + str(out)));
}
std::string thr(std::string ok) { return "done=" + ok + ";new[]=!8"; }
std::string nul(std::string ok) { return "done=" + ok + ";new[]=null"; }

bool matches(std::string const& out, std::string const& pat) {
  std::string const re = std::regex_replace(pat, std::regex("[^A-Za-z0-9()|?#]"), "\\$&"); // the rest is literal
  return std::regex_match(out, std::regex(std::regex_replace(re, std::regex("#"), ".*")));
}

std::unique_ptr<bqtest::TempTree> g_tree; // the runs' working directory is w in it
long g_points[2]; // system calls and allocations failed
std::set<std::string> g_failed;

// One run with the n-th point failing in the tree every run starts from:
// the outcome, then what changed in the tree (names that mkstemp() made up
// masked), and the point ("" when none failed). Run 0 builds what an
// operation keeps for good (function statics), so its leak check is skipped.
std::pair<std::string, std::string> run(Row const& r, long n, int err) {
  g_tree->mkdir("w/d/s"); // before d/g, as the rows' listing order has it
  g_tree->mkdir("w/tmp");
  for (auto const& [f, c] : bqtest::Snap{{"w/f", bqtest::content(3000, 1)}, {"w/d/g", "ggggg"},
                                         {"w/d/s/h", "hhh"}, {"w/bin/prog", ""}})
    g_tree->write(f, c);
  EXPECT_EQ(0, ::chdir("w"));
  bqtest::Snap const before = bqtest::snapshot(".");
  long const held[] = {bqtest::liveBlocks(), bqtest::openFds()}; // blocks, descriptors
  bqtest::armPoint(n, err, r.always);
  char out[2048];
  std::snprintf(out, sizeof out, "%s", then(r.op).c_str());
  bqtest::disarm();
  long const leaked[] = {bqtest::liveBlocks() - held[0], bqtest::openFds() - held[1]};
  std::string const point = bqtest::failedPoint();
  EXPECT_TRUE(n == 0 || (leaked[0] == 0 && leaked[1] == 0))
      << r.name << ", " << point << ": " << leaked[0] << " blocks, " << leaked[1] << " descriptors leaked";
  // A file made or changed is told with its size.
  auto const size = [](std::string const& v) { return v == "<dir>" ? "" : ":" + str(long(v.size())); };
  std::string const outcome = out + bqtest::changes(before, bqtest::snapshot("."), size);
  EXPECT_EQ(0, ::chdir(".."));
  bqtest::removeTree(g_tree->path("w"));
  return {std::regex_replace(outcome, std::regex("bqx(?!XXXXXX)\\w{6}"), "bqx######"), point};
}

using SU = BQStringUtils;
using FU = BQFileUtils;
unsigned short const k16[][3] = {{'a', '/', 0}, {'b', 0}, {'c', 0}};
BQFileSpec const F = P("f"), D = P("d"), T = P("tmp"), Nw = P("n"), L = P("l"), Src = P("src/x");
struct Task : BQThread { // still running when interrupt() joins it
  std::int32_t task() override { return BQUtilSync::sleep(100) + 7; }
};
std::string const kAllD = " -d -d/g -d/s -d/s/h", kSomeOfD = "( -d)?( -d/g)?( -d/s)?( -d/s/h)?",
                  kCopied = " +n +n/c +n/c/g:5 +n/c/s +n/c/s/h:3", kMerged = " +tmp/g:5 +tmp/s +tmp/s/h:3",
                  kMovedIn = " +n +n/g:5 +n/s +n/s/h:3", kMoved = kAllD + kMovedIn;
// A component whose conversion buffer cannot be had is left out.
std::string const kJoin = "done=a/b/c;new[]#1=null;new[]#2=a/;new[]#3=a/b;new[]#4=!8";
// Failures a copy ignores (a stream buffer, a close) are explicit; any
// other call may fail it, leaving what it wrote.
std::string copying(std::string done, std::string stat) {
  return "done setvbuf malloc fclose=" + done + ";stat=" + stat +
         ";fopen=1;new[]=8 +n:0;fread fwrite fflush=1 +n:#;*=" + done + "|1( +n:#)?";
}

Row const kRows[] = {
    ROW(SU::toLower("MiXeD"), thr("mixed")),
    ROW(SU::toUpper(L"ab"), thr("AB")),
    ROW(SU::towcs("ab"), thr("ab")),
    ROW(SU::tostr(L"ab"), thr("ab")),
    ROW([] { std::wstring w; SU::itoa(-5, w); return w; }(), thr("-5")),
    ROW(SU::atol(L" 42"), thr("42")),
    ROW(long(SU::atod(L"2.5") * 2), thr("5")),
    ROW(SU::compare_no_case(L"abc", std::wstring(L"AbC")), thr("0")),
    ROW(own(SU::NativeToUTF8("x")), thr("x")),
    ROW(own(SU::UTF8ToNative("x")), thr("x")),
    ROW(own(SU::WideToUTF8(L"\u00e9")), nul("\xC3\xA9")),
    ROW(own(SU::UTF8ToWide("a")), nul("a")),
    ROW([] { // a token that cannot be allocated is tried again
      BQUtilTokenizer<char> k("  \"a b\"  c ");
      std::string s;
      for (std::string t; (t = then([&] { return own(k.nextNonEmpty(' ')); })) != "null";)
        s += t + "/";
      return s;
    }(), "done=a b/c/;new[]#1=!8/a b/c/;new[]#2=a b/!8/c/"),
    ROW(BQFileSpec("a/", "b", "c", BQFileSpec::ENCODING_NATIVE), thr("a/b/c")),
    ROW(BQFileSpec(k16[0]), nul("a/")),
    ROW(BQFileSpec(k16[0], k16[1], k16[2]), kJoin),
    ROW(BQFileSpec(L"a/", L"b", L"c"), kJoin),
    ROW(BQFileSpec(Src), nul("src/x")),
    ROW([] { BQFileSpec d = old(); d = Src; return str(d) + str(Src); }(), "done=src/xsrc/x;new[]=nullsrc/x"),
    ROW(std::string(quiet([] { return BQFileSpec(Src); }).n_str()), thr("src/x")),
    ROW([] { BQFileSpec f = old(); return str(std::wstring(f.w_str() ? f.w_str() : L"null")); }(), nul("old")),
    ROW(str(Src.dirname()) + str(Src), thr("srcsrc/x")),
    ROW(Src.replaceSuffix("t"), thr("src/x.t")),
    ROW(P("a.b").removeSuffix(), thr("a")),
    ROW(FU::fileExists("f"), "done=1;stat=0;new[]=!8"),
    ROW([] { FILE* s = FU::open(F, "rb"); return s && !std::fclose(s); }(), "done=1;fopen fclose=0"),
    ROW([] { FILE* s = FU::reopen(F, "rb", std::tmpfile()); return s && !std::fclose(s); }(), "done=1;freopen fclose=0"),
    ROW(FU::touch(Nw), "done fclose=0 +n:0;fopen=1"),
    ROW(FU::deleteFile("f"), "done=0 -f;unlink=3030;new[]=!8"),
    {"getStats; a record that cannot be filled stays as it was", [] {
       BQFileStat st = {1, 2, 3, 4, true};
       std::string s = str(FU::getStats(F, st)); // before the record is read
       return s + " " + str(st.size) + str(st.accessTime == 2 && st.modificationTime == 3 && st.statusChangeTime == 4 && st.isDir);
     }, "done=0 30000;stat=3035 11"},
    ROW(FU::getFileSize(F), "done=3000;stat=-1"),
    ROW(FU::isDirectory(D), "done=1;stat=0"),
    ROW(FU::getAccessTime(F) > 0, "done=1;stat=0"),
    ROW(FU::createDirectory(P("n/m"), true), "done stat=0 +n +n/m;mkdir#1=3032;mkdir#2=3032 +n;new[]=!8"),
    ROW(FU::copyFile(F, Nw), copying("0 +n:3000", "1|0 +n:3000")),
    ROW(FU::moveFile(F, Nw), "done rename=0 -f +n:3000"),
    ALWAYS("rename", FU::moveFile(F, Nw), copying("0 -f +n:3000", "1|0 -f +n:3000") + ";unlink=0 +n:3000"),
    // Onto itself, or onto another name of it (a hard link), when rename
    // fails: nothing to do, and nothing is lost.
    ALWAYS("rename", FU::moveFile(F, F), "done=0;*=0|1"),
    ALWAYS("rename", [] { std::string s = str(::link("f", "l")); return s + str(FU::moveFile(F, L)); }(),
           "done=00 +l:3000;*=0(0|1) +l:3000"),
    ROW([] { BQFileSpec d = quiet([] { return P("tmp"); }); FU::setupTempDir(d); return d; }(), "done=tmp;stat=.;new[]=!8"),
    // In the temporary directory (TMPDIR), with the default prefix.
    ROW([] { BQFileSpec r = old(); return then([&] { return FU::createTempFile(P(""), nullptr, r); }, r); }(),
        "done=0 tmp/bqx###### +tmp/bqx######:0;stat=0 ./bqx###### +bqx######:0;"
        "mkstemp=3037 tmp/bqxXXXXXX;close=3037 tmp/bqx###### +tmp/bqx######:0;new[]=!?8 old"),
    ROW(str(FU::cwd()) == g_tree->path("w"), "done=1;getcwd=0;new[]=!8"),
    ROW([] { BQFileSpec r; std::string s = str(FU::getProcessFullPath(r, nullptr)); return s + " " + str(r); }(),
        "done=0 " + std::filesystem::canonical("/proc/self/exe").string() + ";realpath=3 null;new[]=!8"),
    // Without /proc: a search of PATH, and a name relative to the working directory.
    ALWAYS("realpath", [] { BQFileSpec r = old(); return then([&] { return FU::getProcessFullPath(r, "prog"); }, r); }(),
           "done stat=0 bin/prog;stat#2=1 null;new[]=8 old|!8 (old|x/prog)"),
    ALWAYS("realpath", [] { BQFileSpec r; std::string s = str(FU::getProcessFullPath(r, "bin/prog")); return s + " " + str(r); }(),
           "done=0 /#/w/bin/prog;getcwd stat=1 null;new[]=!8"),
    ROW([] { BQFileSpec o = old(); return then([&] { return FU::getRelativePathTo(o, P("d/g"), F); }, o); }(),
        "done stat=0 ../f;stat#1=0 ../../f;getcwd=3033 old;new[]=!8 old"),
    // Both missing, compared as written; a result longer than any stack
    // buffer.
    ROW([] { BQFileSpec o = old(); return then([&] { return FU::getRelativePathTo(o, P("a"), P(std::string(600, 'z') + "/b")); }, o); }(),
        "done stat=0 ../z#z/b;new[]=!8 old"),
    // Lists keep what was appended before a failure.
    ROW([] { auto f = pre(); auto d = pre(); return then([&] { return FU::getContents(D, f, d); }, f, d); }(),
        "done closedir=0 pre,d/g pre,d/s;stat opendir=3033 pre pre;"
        "readdir fstatat=0 pre(,d/g)? pre(,d/s)?;new[]=!8 pre(,d/g)? pre(,d/s)?"),
    ROW([] { auto f = pre(); return then([&] { return FU::RecurseFiles(D, f); }, f); }(),
        "done closedir=0 pre,d/g,d/s/h;stat opendir#1=3033 pre;opendir#2=3033 pre,d/g;"
        "readdir fstatat=0 pre(,d/g)?(,d/s/h)?;fstat=3033 pre(,d/g)?;new[]=!8 pre(,d/g)?(,d/s/h)?"),
    ROW(FU::deleteDir(T, false), "done=0 -tmp;rmdir=3030"),
    // A directory that cannot be listed is 3033 before anything in it goes;
    // an entry left out of the listing stays, and so does its directory.
    ROW(FU::deleteDir(D, true), "done close closedir=0" + kAllD + ";*=0" + kAllD + "|3033|3030" + kSomeOfD +
        ";stat fdopendir=3033;new[]=!8;open fstat=3033|3030|3030 -d/s -d/s/h;readdir=0" + kAllD + "|3030" + kSomeOfD +
        ";fstatat=3030" + kSomeOfD + ";unlinkat=3030|3030 -d/s -d/s/h;rmdir=3030 -d/s/h|3030 -d/g -d/s -d/s/h"),
    // A failed copy removes what it made, not the ancestor n made for it. A
    // new target whose status cannot be read once made ends the copy before
    // it starts (3032) and stays, as the ancestors do.
    ROW(FU::copyDirectory(D, P("n/c")), "done closedir setvbuf malloc fclose=0" + kCopied + ";*=0" + kCopied +
        "|(1|8|3032|3033) +n;stat=3033|3032 +n( +n/c)?|0" + kCopied + ";mkdir=3032( +n)?;opendir#1=3033 +n +n/c;"
        "opendir=3033 +n;fopen fread fwrite fflush=1 +n;readdir fstatat=0 +n +n/c#;new[]=8 +n|!8( +n)?"),
    // Into an existing target: a failure leaves it as it was.
    ROW(FU::copyDirectory(D, T), "done closedir setvbuf malloc fclose=0" + kMerged + ";*=0" + kMerged +
        "|1|8|3032|3033;stat=3032|3033|0" + kMerged + ";readdir fstatat=0#;new[]=8|!8;fopen fread fwrite fflush=1;"
        "mkdir=3032;opendir=3033"),
    // Every source file fails to open, so the copy is rolled back; a
    // rollback that cannot finish leaves some of what the copy made. A
    // target whose status cannot be read is taken as existing and stays.
    ALWAYS("openat", FU::copyDirectory(D, T),
           "done=1;*=1( +tmp/s)?;new[]=(1|!8)( +tmp/s)?;stat#1 opendir=3033;readdir=0#;fstatat=0#|1( +tmp/s)?"),
    ALWAYS("openat", FU::copyDirectory(D, P("n/c")),
           "done=1 +n;*=(1|3032|3033)( +n#)?|0 +n +n/c#;stat#1=3033;new[]=(1|!8)( +n#)?"),
    ROW(FU::moveDirectory(D, Nw), "done rename=0" + kMoved + ";stat=3033"),
    // A failing readdir or fstatat leaves an entry out of the copy, which
    // then counts as complete: the source goes all the same.
    ALWAYS("rename", FU::moveDirectory(D, Nw), "done=0" + kMoved + ";stat#1=3033;opendir#1=3031 +n;readdir fstatat=0" + kSomeOfD + " +n#;new[]=3031|!8(" +
         kMovedIn + ")?;*=3031( +n)?|0" + kSomeOfD + kMovedIn),
    ROW([] { Task t; std::string s = str(t.execute()); s += str(t.interrupt()); return s + str(t.getTaskReturnValue()); }(),
        "done=007;pthread_create=100;pthread_join=017"),
};

class FaultPoints : public ::testing::TestWithParam<Row> {};
TEST_P(FaultPoints, EachPointGivesItsStatedOutcome) {
  if (!bqtest::callsWrapped())
    GTEST_SKIP() << "no fault harness in this build";
  Row const& r = GetParam();
  std::map<std::string, std::string> stated; // pattern by call
  std::istringstream in(r.expect);
  for (std::string item, key; std::getline(in, item, ';');)
    for (std::istringstream keys(item.substr(0, item.find('='))); keys >> key;)
      stated[key == "done" ? "" : key] = item.substr(item.find('=') + 1); // "done": no point failed
  run(r, 0, 0);
  long n = 1;
  for (;; ++n) {
    auto const [outcome, point] = run(r, n, EIO);
    std::string const call = point.substr(0, point.find('#'));
    std::string const pattern = stated.count(point) ? stated[point] : stated.count(call) ? stated[call] : stated["*"];
    EXPECT_TRUE(!pattern.empty() && matches(outcome, pattern))
        << r.name << ", " << point << ": " << outcome << " !~ " << pattern;
    if (point.empty())
      break;
    ++g_points[call == "new[]"];
    g_failed.insert(call);
    // The same outcome for another error number.
    EXPECT_EQ(outcome, call == "new[]" ? outcome : run(r, n, call[0] == 'p' ? EAGAIN : EACCES).first)
        << r.name << ", " << point;
    ASSERT_LT(n, 1000) << r.name << " never completed";
  }
  EXPECT_GT(n, 1) << "no fallible call reached";
}
INSTANTIATE_TEST_SUITE_P(All, FaultPoints, ::testing::ValuesIn(kRows));

// Library calls that the rows do not fail: those that cannot fail, whose
// result the library does not look at (locks, the sleep), and the
// compiler's and sanitizers' own.
std::string const kUnfailed = "memchr|memcmp|memcpy|memmove|memset|wmemcpy|wmemset|strlen|strcmp|strchr|strrchr|"
    "strcasecmp|strtol|strtod|wcslen|wcscmp|snprintf|tolower|toupper|towlower|towupper|getenv|free|dirfd|feof|ferror|"
    "select|pthread_(self|equal|detach|exit)|pthread_mutex#|_Z#|__cxa_#|_Unwind_#|__gxx_#|__stack_chk_fail|"
    "__tls_get_addr|_GLOBAL_OFFSET_TABLE_|__dso_handle|__errno_location|__popcount#|__cpu_#|__(asan|ubsan|gcov)_#";

class Setup : public ::testing::Environment {
  // Every function the library calls from outside itself is one the harness
  // fails or one of kUnfailed; after all rows, every call it lists has failed.
  void SetUp() override {
    std::set<std::string> names[2]; // defined by the library, called from it (nm)
    FILE* p = ::popen("nm -g " BQTEST_LIBRARY, "r");
    for (char line[512]; p != nullptr && std::fgets(line, sizeof line, p);)
      if (char const* name = std::strrchr(line, ' '))
        names[std::strchr("Uwv", name[-1]) != nullptr].insert(std::string(name + 1, std::strcspn(name + 1, "\n")));
    EXPECT_TRUE(p != nullptr && ::pclose(p) == 0) << "nm " BQTEST_LIBRARY;
    std::string unknown;
    for (auto const& c : names[1])
      unknown += names[0].count(c) || bqtest::listedCalls().count(c) || matches(c, kUnfailed) ? "" : " " + c;
    EXPECT_EQ("", bqtest::callsWrapped() ? unknown : "") << "calls not wrapped";
    if (bqtest::isDir("/dev/shm")) // thousands of small trees: tmpfs if any
      ::setenv("TMPDIR", "/dev/shm", 1);
    g_tree.reset(new bqtest::TempTree);
    EXPECT_EQ(0, ::chdir(g_tree->root().c_str()));
    ::setenv("TMPDIR", "tmp", 1);
    ::setenv("PATH", ":x:bin", 1);
  }
  void TearDown() override {
    EXPECT_EQ(0, ::chdir("/"));
    g_tree.reset();
    std::printf("fault points driven: %ld allocations, %ld system calls\n", g_points[1], g_points[0]);
    if (GTEST_FLAG_GET(filter) != "*" || !bqtest::callsWrapped())
      return;
    g_failed.erase("new[]");
    EXPECT_EQ(bqtest::listedCalls(), g_failed) << "some listed calls no row fails";
  }
};
auto* const g_setup = ::testing::AddGlobalTestEnvironment(new Setup);

} // namespace
