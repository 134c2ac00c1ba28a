// Every operation that makes fallible calls, run with its 1st, 2nd, ...
// fallible call (an array allocation or a system call) failing until it
// completes. At each point the outcome must be the one stated for a failure
// of that call, the same for two error numbers, with no block and no
// descriptor leaked. An outcome is the operation's result followed by what
// changed on disk: +path (made; files with their size), -path (gone),
// ~path (changed).
#include "brackwell/fileUtils.h"
#include "brackwell/stringUtils.h"
#include "brackwell/thread.h"
#include "brackwell/utilTokenizer.h"

#include "support/alloc_fault.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <ftw.h>
#include <functional>
#include <map>
#include <regex>
#include <thread>

using namespace Brackwell;
using bqtest::P;

namespace {

using Expect = std::map<std::string, std::string>;
struct Row {
  char const* name;
  std::function<std::string()> op;
  // Outcome pattern by failing call: "call#n" (its n-th use), then "call",
  // then "*"; "" is the run without a failure. In patterns ( ) | ? group
  // and choose, # stands for any text, everything else is literal.
  Expect expect;
  char const* always = nullptr; // fails at every use (EXDEV), not a point
};

std::string S(long v) { return std::to_string(v); }
std::string U(BQFileSpec const& f) { return f.utf8() ? f.utf8() : "null"; }
std::string N(std::wstring const& w) { return std::string(w.begin(), w.end()); }
std::string L(std::vector<BQFileSpec> const& v) {
  std::vector<std::string> s;
  for (auto const& f : v)
    s.push_back(U(f));
  std::sort(s.begin() + 1, s.end()); // listing order is the directory's
  std::string r;
  for (auto const& e : s)
    r += (r.empty() ? " " : ",") + e;
  return r;
}
template <class F> auto quiet(F f) { // made without points
  bqtest::pause(true);
  auto r = f();
  bqtest::pause(false);
  return r;
}
std::vector<BQFileSpec> pre() {
  return quiet([] { return std::vector<BQFileSpec>{P("pre")}; });
}
Expect thr(std::string ok) { return {{"", ok}, {"new[]", "!8"}}; }
Expect nul(std::string ok) { return {{"", ok}, {"new[]", "null"}}; }

std::map<std::string, std::string> g_tree;
int note(char const* p, struct stat const* st, int type, FTW*) {
  if (p[1] != '\0')
    g_tree[p + 2] = type == FTW_D ? "" : ":" + S(st->st_size);
  return 0;
}
std::map<std::string, std::string> tree() { // relative path => ":size"
  g_tree.clear();
  ::nftw(".", note, 16, FTW_PHYS);
  return g_tree;
}
std::string diff(std::map<std::string, std::string> const& a,
                 std::map<std::string, std::string> const& b) {
  std::map<std::string, std::string> d;
  for (auto const& e : a)
    if (!b.count(e.first))
      d[e.first] = " -" + e.first;
  for (auto const& e : b)
    if (!a.count(e.first))
      d[e.first] = " +" + e.first + e.second;
    else if (a.at(e.first) != e.second ||
             bqtest::TempTree::read(e.first) != bqtest::TempTree::read(
                                                    "../ref/" + e.first))
      d[e.first] = " ~" + e.first;
  std::string r;
  for (auto const& e : d)
    r += e.second;
  return r;
}
bool matches(std::string const& out, std::string pat) {
  std::string re;
  for (char c : pat)
    re += c == '#' ? std::string(".*")
          : std::strchr("()|?", c) ? std::string(1, c)
          : std::isalnum((unsigned char)c) ? std::string(1, c)
                                           : std::string("\\") + c;
  return std::regex_match(out, std::regex(re));
}

// The fixture every run starts from, in the working directory.
void fixture(std::string const& dir) {
  for (char const* d : {"", "/d", "/d/s", "/bin", "/tmp"})
    ::mkdir((dir + d).c_str(), 0777);
  std::pair<char const*, std::string> const files[] = {
      {"/f", bqtest::content(3000, 1)}, {"/d/g", "ggggg"}, {"/d/s/h", "hhh"},
      {"/bin/prog", ""}};
  for (auto const& f : files)
    std::ofstream(dir + f.first, std::ios::binary) << f.second;
}
std::string g_root; // the working directory of the runs

// One run: the outcome and the point that failed ("" when none did).
std::pair<std::string, std::string> runOnce(Row const& r, long n, int err) {
  std::string work = g_root + "/w";
  fixture(work);
  ::chdir(work.c_str());
  auto const before = tree();
  long const blocks = bqtest::liveBlocks();
  int const fds = bqtest::openFds();
  if (r.always != nullptr)
    bqtest::failAlways(r.always, EXDEV);
  bqtest::armPoint(n, err);
  char out[512];
  try {
    std::snprintf(out, sizeof out, "%s", r.op().c_str());
  } catch (BQUtilException const& e) {
    std::snprintf(out, sizeof out, "!%d", e.code);
  }
  char const* call = bqtest::failedCall();
  int const nth = bqtest::failedOrdinal();
  bqtest::disarm();
  long const blocksAfter = bqtest::liveBlocks();
  int const fdsAfter = bqtest::openFds();
  std::string point = call ? call + ("#" + S(nth)) : "";
  if (n > 0) { // not the first run, which may build what is kept for good
    EXPECT_EQ(blocks, blocksAfter) << r.name << ", " << point;
    EXPECT_EQ(fds, fdsAfter) << r.name << ", " << point;
  }
  // Names that mkstemp() made up are masked.
  std::string outcome = std::regex_replace(
      out + diff(before, tree()),
      std::regex("(bqx|/p|\\+p)(?!XXXXXX)[A-Za-z0-9]{6}"), "$1######");
  ::chdir(g_root.c_str());
  bqtest::removeTree(work);
  return {outcome, point};
}

void drive(Row const& r, long& allocs, long& calls) {
  runOnce(r, 0, 0);
  for (long n = 1; n < 1000; ++n) {
    auto const [outcome, point] = runOnce(r, n, EIO);
    std::string call = point.substr(0, point.find('#'));
    auto e = r.expect.find(point);
    e = e != r.expect.end() ? e : r.expect.find(call);
    e = e != r.expect.end() ? e : r.expect.find(point.empty() ? "" : "*");
    if (e == r.expect.end())
      ADD_FAILURE() << r.name << ": no outcome stated for " << point
                    << ", got " << outcome;
    else
      EXPECT_TRUE(matches(outcome, e->second))
          << r.name << ", " << point << ": " << outcome << " !~ " << e->second;
    if (point.empty())
      return;
    if (call == "new[]") {
      ++allocs;
      continue;
    }
    ++calls;
    EXPECT_EQ(outcome, runOnce(r, n, call[0] == 'p' ? EAGAIN : EACCES).first)
        << r.name << ", " << point << " with another error number";
  }
  ADD_FAILURE() << r.name << " never completed";
}

unsigned short const k16[][3] = {{'a', '/', 0}, {'b', 0}, {'c', 0}};
BQFileSpec const A = P("a/"), B = P("b"), F = P("f"), D = P("d"), T = P("tmp"),
                 Nw = P("n"), Src = P("src/x");
char const kText[] = "  \"a b\"  c ";
std::atomic<bool> g_release;
struct Task : BQThread {
  std::int32_t task() override {
    while (!g_release)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 7;
  }
};
std::string g_exe;
std::string const kCopied = " +n +n/c +n/c/g:5 +n/c/s +n/c/s/h:3";
std::string const kMoved = " -d -d/g -d/s -d/s/h +n +n/g:5 +n/s +n/s/h:3";
Expect const kStreamCopy = {{"fopen", "1"},          {"new[]", "8 +n:0"},
                            {"fread", "1 +n:#"},     {"fwrite", "1 +n:#"},
                            {"fflush", "1 +n:#"},    {"*", "0 +n:3000"},
                            {"", "0 +n:3000"}};

Row const kRows[] = {
    {"toLower", [] { return BQStringUtils::toLower("MiXeD"); }, thr("mixed")},
    {"toUpper", [] { return N(BQStringUtils::toUpper(L"ab")); }, thr("AB")},
    {"towcs", [] { return N(BQStringUtils::towcs("ab")); }, thr("ab")},
    {"towcs(string)", [] { return N(BQStringUtils::towcs(std::string("a"))); },
     thr("a")},
    {"tostr", [] { return BQStringUtils::tostr(L"ab"); }, thr("ab")},
    {"itoa(wstring)",
     [] {
       std::wstring w;
       BQStringUtils::itoa(-5, w);
       return N(w);
     },
     thr("-5")},
    {"atol(wstring)", [] { return S(BQStringUtils::atol(L" 42")); }, thr("42")},
    {"atod(wstring)", [] { return S(long(BQStringUtils::atod(L"2.5") * 2)); },
     thr("5")},
    {"compare_no_case(wstring)",
     [] { return S(BQStringUtils::compare_no_case(L"abc", std::wstring(L"AbC"))); },
     thr("0")},
    {"NativeToUTF8",
     [] { return std::string(std::unique_ptr<char[]>(BQStringUtils::NativeToUTF8("x")).get()); },
     thr("x")},
    {"UTF8ToNative",
     [] { return std::string(std::unique_ptr<char[]>(BQStringUtils::UTF8ToNative("x")).get()); },
     thr("x")},
    {"WideToUTF8",
     [] {
       std::unique_ptr<char[]> p(BQStringUtils::WideToUTF8(L"\u00e9"));
       return p ? std::string(p.get()) : "null";
     },
     nul("\xC3\xA9")},
    {"UTF8ToWide",
     [] {
       std::unique_ptr<wchar_t[]> p(BQStringUtils::UTF8ToWide("a"));
       return p ? N(p.get()) : "null";
     },
     nul("a")},
    {"nextNonEmpty", // a token that cannot be allocated is tried again
     [] {
       BQUtilTokenizer<char> t(kText);
       std::string s;
       for (;;) {
         try {
           std::unique_ptr<char[]> p(t.nextNonEmpty(' '));
           if (!p)
             return s;
           s += std::string(p.get()) + ";";
         } catch (BQUtilException const& e) {
           s += "!" + S(e.code) + ";";
         }
       }
     },
     {{"", "a b;c;"}, {"new[]#1", "!8;a b;c;"}, {"new[]#2", "a b;!8;c;"}}},
    {"BQFileSpec(native x3)",
     [] { return U(BQFileSpec("a/", "b", "c", BQFileSpec::ENCODING_NATIVE)); },
     thr("a/b/c")},
    {"BQFileSpec(utf8 x2)",
     [] { return U(BQFileSpec("a/", "b", BQFileSpec::ENCODING_UTF8)); },
     thr("a/b")},
    {"BQFileSpec(path, native)",
     [] { return U(BQFileSpec(A, "b", "c", BQFileSpec::ENCODING_NATIVE)); },
     thr("a/b/c")},
    {"BQFileSpec(path x2, utf8)",
     [] { return U(BQFileSpec(A, B, "c", BQFileSpec::ENCODING_UTF8)); },
     thr("a/b/c")},
    {"BQFileSpec(path x3)", [] { return U(BQFileSpec(A, B, B)); }, thr("a/b/b")},
    {"BQFileSpec(utf16)", [] { return U(BQFileSpec(k16[0])); }, nul("a/")},
    {"BQFileSpec(utf16 x3)", [] { return U(BQFileSpec(k16[0], k16[1], k16[2])); },
     {{"", "a/b/c"}, {"new[]#1", "null"}, {"new[]#2", "a/"},
      {"new[]#3", "a/b"}, {"new[]#4", "!8"}}},
    {"BQFileSpec(path, utf16 x2)", [] { return U(BQFileSpec(A, k16[1], k16[2])); },
     {{"", "a/b/c"}, {"new[]#1", "a/"}, {"new[]#2", "a/b"}, {"new[]#3", "!8"}}},
    {"BQFileSpec(wide x3)", [] { return U(BQFileSpec(L"a/", L"b", L"c")); },
     {{"", "a/b/c"}, {"new[]#1", "null"}, {"new[]#2", "a/"},
      {"new[]#3", "a/b"}, {"new[]#4", "!8"}}},
    {"BQFileSpec(path x2, wide)", [] { return U(BQFileSpec(A, B, L"c")); },
     {{"", "a/b/c"}, {"new[]#1", "a/b"}, {"new[]#2", "!8"}}},
    {"BQFileSpec copy", [] { return U(BQFileSpec(Src)); }, nul("src/x")},
    {"BQFileSpec assignment",
     [] {
       BQFileSpec d = quiet([] { return P("old"); });
       d = Src;
       return U(d) + " " + U(Src);
     },
     {{"", "src/x src/x"}, {"new[]", "null src/x"}}},
    {"n_str",
     [] { return std::string(quiet([] { return BQFileSpec(Src); }).n_str()); },
     thr("src/x")},
    {"w_str",
     [] {
       BQFileSpec f = quiet([] { return P("w"); });
       return f.w_str() ? N(f.w_str()) + " " + U(f) : "null " + U(f);
     },
     {{"", "w w"}, {"new[]", "null w"}}},
    {"dirname", [] { return U(Src.dirname()) + U(Src); }, thr("srcsrc/x")},
    {"replaceSuffix", [] { return U(Src.replaceSuffix("t")); }, thr("src/x.t")},
    {"removeSuffix", [] { return U(P("a.b").removeSuffix()); }, thr("a")},
    {"fileExists", [] { return S(BQFileUtils::fileExists(F)); },
     {{"", "1"}, {"stat", "0"}}},
    {"fileExists(char*)", [] { return S(BQFileUtils::fileExists("f")); },
     {{"", "1"}, {"stat", "0"}, {"new[]", "!8"}}},
    {"open",
     [] {
       FILE* s = BQFileUtils::open(F, "rb");
       return s && (std::fclose(s), true) ? "stream" : "null";
     },
     {{"", "stream"}, {"fopen", "null"}, {"fclose", "stream"}}},
    {"reopen",
     [] {
       FILE* s = BQFileUtils::reopen(F, "rb", std::tmpfile());
       return s && (std::fclose(s), true) ? "stream" : "null";
     },
     {{"", "stream"}, {"freopen", "null"}, {"fclose", "stream"}}},
    {"touch", [] { return S(BQFileUtils::touch(Nw)); },
     {{"", "0 +n:0"}, {"fopen", "1"}, {"fclose", "0 +n:0"}}},
    {"deleteFile", [] { return S(BQFileUtils::deleteFile(F)); },
     {{"", "0 -f"}, {"unlink", "3030"}}},
    {"deleteFile(char*)", [] { return S(BQFileUtils::deleteFile("f")); },
     {{"", "0 -f"}, {"unlink", "3030"}, {"new[]", "!8"}}},
    {"getStats",
     [] {
       BQFileStat st = {1, 2, 3, 4, true};
       BQ_STATUS s = BQFileUtils::getStats(F, st);
       return S(s) + " " + S(st.size) + S(st.accessTime == 2) +
              S(st.modificationTime == 3) + S(st.statusChangeTime == 4) +
              S(st.isDir);
     },
     {{"", "0 30000000"}, {"stat", "3035 11111"}}},
    {"getFileSize", [] { return S(BQFileUtils::getFileSize(F)); },
     {{"", "3000"}, {"stat", "-1"}}},
    {"isDirectory", [] { return S(BQFileUtils::isDirectory(D)); },
     {{"", "1"}, {"stat", "0"}}},
    {"getAccessTime", [] { return S(BQFileUtils::getAccessTime(F) > 0); },
     {{"", "1"}, {"stat", "0"}}},
    {"createDirectory",
     [] { return S(BQFileUtils::createDirectory(P("n/m"), true)); },
     {{"", "0 +n +n/m"}, {"stat", "0 +n +n/m"}, {"mkdir#1", "3032"},
      {"mkdir#2", "3032 +n"}, {"new[]", "!8"}}},
    {"copyFile", [] { return S(BQFileUtils::copyFile(F, Nw)); }, [] {
       Expect e = kStreamCopy;
       e["stat#1"] = "1";
       return e;
     }()},
    {"moveFile", [] { return S(BQFileUtils::moveFile(F, Nw)); },
     {{"", "0 -f +n:3000"}, {"rename", "0 -f +n:3000"}}},
    {"moveFile, rename failing", [] { return S(BQFileUtils::moveFile(F, Nw)); },
     [] {
       Expect e = kStreamCopy;
       for (auto& o : e)
         if (o.second[0] == '0')
           o.second = "0 -f +n:3000";
       e["stat"] = "1|0 -f +n:3000";
       e["unlink"] = "0 +n:3000";
       return e;
     }(), "rename"},
    {"getTempDir", [] { return U(BQFileUtils::getTempDir()); },
     {{"", "tmp"}, {"stat", "."}, {"new[]", "!8"}}},
    {"setupTempDir",
     [] {
       BQFileSpec d = quiet([] { return P("tmp"); });
       BQFileUtils::setupTempDir(d);
       return U(d);
     },
     {{"", "tmp"}, {"stat", "."}, {"new[]", "!8"}}},
    {"createTempFile",
     [] {
       BQFileSpec r = quiet([] { return P("old"); });
       BQ_STATUS s = BQFileUtils::createTempFile(T, "p", r);
       return S(s) + " " + U(r);
     },
     {{"", "0 tmp/p###### +tmp/p######:0"}, {"stat", "0 ./p###### +p######:0"},
      {"mkstemp", "3037 tmp/pXXXXXX"}, {"close", "3037 tmp/p###### +tmp/p######:0"},
      {"new[]", "8 old|!8"}}},
    {"createTempFile(empty, null)",
     [] {
       BQFileSpec r = quiet([] { return P("old"); });
       BQ_STATUS s = BQFileUtils::createTempFile(P(""), nullptr, r);
       return S(s) + " " + U(r);
     },
     {{"", "0 tmp/bqx###### +tmp/bqx######:0"},
      {"stat", "0 ./bqx###### +bqx######:0"}, {"mkstemp", "3037 tmp/bqxXXXXXX"},
      {"close", "3037 tmp/bqx###### +tmp/bqx######:0"}, {"new[]", "8 old|!8"}}},
    {"cwd", [] { return S(U(BQFileUtils::cwd()) == g_root + "/w"); },
     {{"", "1"}, {"getcwd", "0"}, {"new[]", "!8"}}},
    {"getProcessFullPath",
     [] {
       BQFileSpec r;
       BQ_STATUS s = BQFileUtils::getProcessFullPath(r, nullptr);
       return S(s) + S(U(r) == g_exe);
     },
     {{"", "01"}, {"realpath", "30"}, {"new[]", "!8"}}},
    {"getProcessFullPath, PATH search",
     [] {
       BQFileSpec r = quiet([] { return P("old"); });
       BQ_STATUS s = BQFileUtils::getProcessFullPath(r, "prog");
       return S(s) + " " + U(r);
     },
     {{"", "0 bin/prog"}, {"stat#2", "1 null"}, {"stat", "0 bin/prog"},
      {"new[]", "8 old|!8"}}, "realpath"},
    {"getProcessFullPath, relative name",
     [] {
       BQFileSpec r;
       BQ_STATUS s = BQFileUtils::getProcessFullPath(r, "bin/prog");
       return S(s) + " " + S(U(r) == g_root + "/w/bin/prog");
     },
     {{"", "0 1"}, {"getcwd", "1 0"}, {"stat", "1 0"}, {"new[]", "!8"}},
     "realpath"},
    {"getRelativePathTo",
     [] {
       BQFileSpec out = quiet([] { return P("old"); });
       BQ_STATUS s = BQFileUtils::getRelativePathTo(out, P("d/g"), F);
       return S(s) + " " + U(out);
     },
     {{"", "0 ../f"}, {"stat#1", "0 ../../f"}, {"stat", "0 ../f"},
      {"getcwd", "3033 old"}, {"new[]", "!8"}}},
    {"getContents",
     [] {
       auto f = pre(), d = pre();
       BQ_STATUS s = BQFileUtils::getContents(D, f, d);
       return S(s) + L(f) + L(d);
     },
     {{"", "0 pre,d/g pre,d/s"}, {"stat", "3033 pre pre"},
      {"opendir", "3033 pre pre"}, {"readdir", "0 pre(,d/g)? pre(,d/s)?"},
      {"fstatat", "0 pre(,d/g)? pre(,d/s)?"}, {"closedir", "0 pre,d/g pre,d/s"},
      {"new[]", "!8"}}},
    {"RecurseFiles",
     [] {
       auto f = pre();
       BQ_STATUS s = BQFileUtils::RecurseFiles(D, f);
       return S(s) + L(f);
     },
     {{"", "0 pre,d/g,d/s/h"}, {"stat", "3033 pre"}, {"opendir#1", "3033 pre"},
      {"opendir#2", "3033 pre,d/g"}, {"readdir", "0 pre(,d/g)?(,d/s/h)?"},
      {"fstatat", "0 pre(,d/g)?(,d/s/h)?"}, {"closedir", "0 pre,d/g,d/s/h"},
      {"new[]", "!8"}}},
    {"deleteDir", [] { return S(BQFileUtils::deleteDir(T, false)); },
     {{"", "0 -tmp"}, {"rmdir", "3030"}}},
    {"deleteDir(recursive)", [] { return S(BQFileUtils::deleteDir(D, true)); },
     {{"", "0 -d -d/g -d/s -d/s/h"}, {"stat", "3033"}, {"fdopendir", "3033"},
      {"open", "3033|3030|3030 -d/s -d/s/h"}, {"fstat", "3033|3030|3030 -d/s -d/s/h"},
      {"readdir", "0 -d -d/g -d/s -d/s/h|3030( -d/g)?( -d/s)?( -d/s/h)?"},
      {"fstatat", "3030( -d/g)?( -d/s)?( -d/s/h)?"},
      {"unlinkat", "3030|3030 -d/s -d/s/h"},
      {"rmdir", "3030 -d/s/h|3030 -d/g -d/s -d/s/h"},
      {"*", "0 -d -d/g -d/s -d/s/h"}, {"new[]", "!8|!8 -d/s -d/s/h"}}},
    {"copyDirectory", [] { return S(BQFileUtils::copyDirectory(D, P("n/c"))); },
     {{"", "0" + kCopied}, {"stat", "3033|(1|3032) +n|0" + kCopied},
      {"mkdir", "3032( +n)?"}, {"opendir#1", "3033 +n +n/c"}, {"opendir", "3033 +n"},
      {"fopen", "1 +n"}, {"fread", "1 +n"}, {"fwrite", "1 +n"}, {"fflush", "1 +n"},
      {"readdir", "0 +n +n/c#"}, {"fstatat", "0 +n +n/c#"},
      {"new[]", "8 +n|!8( +n)?"}, {"*", "0" + kCopied}}},
    {"copyDirectory, existing target",
     [] { return S(BQFileUtils::copyDirectory(D, T)); },
     {{"", "0 +tmp/g:5 +tmp/s +tmp/s/h:3"}, {"readdir", "0#"}, {"fstatat", "0#"},
      {"stat", "1|3032|3033|0 +tmp/g:5 +tmp/s +tmp/s/h:3"},
      {"lstat", "0 +tmp/g:5 +tmp/s +tmp/s/h:3"}, {"new[]", "8|!8"},
      {"fopen", "1"}, {"fread", "1"}, {"fwrite", "1"}, {"fflush", "1"},
      {"mkdir", "3032"}, {"opendir", "3033"}, {"*", "0 +tmp/g:5 +tmp/s +tmp/s/h:3"}}},
    {"moveDirectory", [] { return S(BQFileUtils::moveDirectory(D, Nw)); },
     {{"", "0" + kMoved}, {"stat", "3033"}, {"rename", "0" + kMoved}}},
    {"moveDirectory, rename failing",
     [] { return S(BQFileUtils::moveDirectory(D, Nw)); },
     // A failing readdir or fstatat leaves an entry out of the copy, which
     // then counts as complete: the source goes all the same.
     {{"", "0" + kMoved}, {"stat#1", "3033"}, {"opendir#1", "3031 +n"},
      {"readdir", "0( -d)?( -d/g)?( -d/s)?( -d/s/h)? +n#"},
      {"fstatat", "0( -d)?( -d/g)?( -d/s)?( -d/s/h)? +n#"},
      {"new[]", "3031|!8( +n +n/g:5 +n/s +n/s/h:3)?"},
      {"*", "3031|0( -d)?( -d/g)?( -d/s)?( -d/s/h)? +n +n/g:5 +n/s +n/s/h:3"}},
     "rename"},
    {"BQThread::execute",
     [] {
       g_release = false;
       Task t;
       BQ_STATUS e = t.execute();
       std::thread h([] {
         std::this_thread::sleep_for(std::chrono::milliseconds(100));
         g_release = true;
       });
       BQ_STATUS i = t.interrupt();
       h.join();
       return S(e) + S(i) + (e == 0 ? S(t.getTaskReturnValue()) : "");
     },
     {{"", "007"}, {"pthread_create", "10"}, {"pthread_join", "017"}}},
};

class FaultPoints : public ::testing::TestWithParam<Row> {};

TEST_P(FaultPoints, EachPointGivesItsStatedOutcome) {
  long allocs = 0, calls = 0;
  drive(GetParam(), allocs, calls);
  EXPECT_GT(allocs + calls, 0) << "no fallible call reached";
  bqtest::addFailurePoints(allocs, calls);
}

INSTANTIATE_TEST_SUITE_P(All, FaultPoints, ::testing::ValuesIn(kRows),
                         [](auto const& i) { return "Row" + S(i.index); });

class Setup : public ::testing::Environment {
  bqtest::TempTree* m_tree = nullptr;
  void SetUp() override {
    if (bqtest::isDir("/dev/shm")) // thousands of small trees: tmpfs if any
      ::setenv("TMPDIR", "/dev/shm", 1);
    m_tree = new bqtest::TempTree;
    g_root = m_tree->root();
    fixture(g_root + "/ref");
    char exe[4096] = {};
    g_exe = ::realpath("/proc/self/exe", exe) ? exe : "";
    ::chdir(g_root.c_str());
    ::setenv("TMPDIR", "tmp", 1);
    ::setenv("PATH", ":x:bin", 1);
  }
  // After all rows: a system call on the list that no row made fail means
  // the library calls it no more, or the rows miss it.
  void TearDown() override {
    delete m_tree;
    if (GTEST_FLAG_GET(filter) == "*" && bqtest::callsWrapped()) {
      EXPECT_EQ(std::vector<std::string>{}, bqtest::callsNeverFailed());
    }
  }
};
auto* const g_setup = ::testing::AddGlobalTestEnvironment(new Setup);

} // namespace
