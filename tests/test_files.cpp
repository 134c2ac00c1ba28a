// The single-file operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "support/bqtest.h"

#include <ctime>
#include <iterator>

using namespace Brackwell;
using bqtest::exists;
using bqtest::P;
using Tree = bqtest::TempTree;
using std::to_string;

// Existence and status of a file, an empty file, a directory and a FIFO
// (times set), links to them, a dangling link, paths that name nothing, the
// empty and the null value: "fileExists (both overloads) isDirectory
// getFileSize getAccessTime|getStats: status size access modification isDir
// and a status change since the test began", the record starting as 77 88 99
// 111 1 (a failure leaves it so). Then
// touch, open, reopen and deleteFile on the same tree.
TEST(Files, StatusOpenTouchAndDelete) {
  std::time_t const start = std::time(nullptr) - 1; // file times use a coarser clock
  Tree t;
  t.write("f", "12345");
  t.write("empty", "");
  t.mkdir("d");
  ASSERT_EQ(0, ::mkfifo(t.path("fifo").c_str(), 0600));
  for (char const* target : {"d", "f", "missing"})
    ASSERT_EQ(0, ::symlink(t.path(target).c_str(), (t.path(target) + "l").c_str()));
  struct timespec const times[2] = {{1111, 999}, {2222, 999999999}};
  for (char const* rel : {"f", "empty", "d", "fifo"})
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, t.path(rel).c_str(), times, 0));
  struct stat sys;
  ASSERT_EQ(0, ::stat(t.path("d").c_str(), &sys));
  auto p = [&t](char const* rel) { return P(t.path(rel)); };
  std::string const d = to_string(sys.st_size), dir = "11 1 " + d + " 1111|0 " + d + " 1111 2222 1 new";
  std::string const none = "00 0 -1 0|" + to_string(BQ_STS_FileStatFailed) + " 77 88 99 1 111";
  struct { char const* rel; std::string expected; } const rows[] = {
      {"f", "11 0 5 1111|0 5 1111 2222 0 new"}, {"fl", "11 0 5 1111|0 5 1111 2222 0 new"},
      {"empty", "11 0 0 1111|0 0 1111 2222 0 new"}, {"fifo", "11 0 0 1111|0 0 1111 2222 0 new"},
      {"d", dir}, {"dl", dir}, {"missingl", none}, {"missing", none}, {"f/x", none}, {"", none}, {nullptr, none}};
  for (auto const& r : rows) {
    std::string text = r.rel && *r.rel ? t.path(r.rel) : "";
    BQFileSpec path = r.rel ? P(text) : BQFileSpec();
    BQFileStat s{77, 88, 99, 111, true};
    auto got = to_string(BQFileUtils::fileExists(path)) +
               to_string(BQFileUtils::fileExists(r.rel ? text.c_str() : nullptr)) + " " +
               to_string(BQFileUtils::isDirectory(path)) + " " + to_string(BQFileUtils::getFileSize(path)) + " " +
               to_string(BQFileUtils::getAccessTime(path)) + "|" + to_string(BQFileUtils::getStats(path, s));
    got += " " + to_string(s.size) + " " + to_string(s.accessTime) + " " + to_string(s.modificationTime) +
           " " + to_string(s.isDir) + " " +
           (s.statusChangeTime == 111 ? "111" : s.statusChangeTime >= start ? "new" : "old");
    EXPECT_EQ(r.expected, got) << (r.rel ? r.rel : "(null)");
  }
  EXPECT_FALSE(BQFileUtils::isValidPath(BQFileSpec()) || BQFileUtils::isValidPath(P("")));
  EXPECT_TRUE(BQFileUtils::isValidPath(P("/no/such/thing")));

  EXPECT_EQ(0, BQFileUtils::touch(p("f"))); // contents and times kept
  EXPECT_EQ(0, BQFileUtils::touch(p("created")));
  BQFileStat s{};
  ASSERT_EQ(0, BQFileUtils::getStats(p("f"), s));
  EXPECT_EQ("1111 2222 12345|", to_string(s.accessTime) + " " + to_string(s.modificationTime) + " " +
                                    Tree::read(t.path("f")) + "|" + Tree::read(t.path("created")));
  EXPECT_TRUE(!BQFileUtils::open(p("new"), nullptr) && !exists(t.path("new")));
  EXPECT_TRUE(!BQFileUtils::open(P(""), "rb") && !BQFileUtils::open(BQFileSpec(), "rb"));
  std::FILE* stream = BQFileUtils::open(p("f"), "rb");
  ASSERT_NE(nullptr, stream);
  EXPECT_EQ(nullptr, BQFileUtils::reopen(p("empty"), nullptr, stream));
  EXPECT_EQ('1', std::fgetc(stream)); // still open on the same file
  std::fclose(stream);
  EXPECT_EQ(0, BQFileUtils::deleteFile(p("f")));
  EXPECT_EQ(0, BQFileUtils::deleteFile(t.path("empty").c_str()));
  EXPECT_EQ(0, BQFileUtils::deleteFile(p("missingl"))); // the link itself
  EXPECT_FALSE(exists(t.path("f")) || exists(t.path("empty")) || exists(t.path("missingl")));
  for (BQFileSpec const& bad : {p("f"), p("d"), P(""), BQFileSpec()})
    EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteFile(bad)) << bqtest::str(bad);
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteFile(static_cast<char const*>(nullptr)));
  EXPECT_TRUE(bqtest::isDir(t.path("d")));
}

TEST(Files, CreateDirectory) {
  bqtest::CwdGuard guard;
  Tree t;
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  mode_t const mask = ::umask(027);
  EXPECT_EQ(BQ_STS_DirectoryCreateFailed, BQFileUtils::createDirectory(P("a/b/c"), false));
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("a/b/c"), true));
  ::umask(mask);
  struct stat st;
  EXPECT_TRUE(::stat("a/b/c", &st) == 0 && (st.st_mode & 0777) == 0750);
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("a/b/c"), false));
  EXPECT_EQ(0, BQFileUtils::createDirectory(P(t.path("x//y/")), true));
  EXPECT_TRUE(bqtest::isDir("x/y"));
  t.write("file", "x");
  for (BQFileSpec const& bad : {P("file"), P("file/sub"), P(""), BQFileSpec()})
    for (bool parents : {false, true})
      EXPECT_EQ(BQ_STS_DirectoryCreateFailed, BQFileUtils::createDirectory(bad, parents))
          << bqtest::str(bad) << parents;
  // A chain that ends in a lone backslash, its own parent, still ends:
  // "\" itself is created as an ordinary name in the working directory.
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("\\q\\r"), true));
  EXPECT_TRUE(bqtest::isDir("\\") && bqtest::isDir("\\q\\r"));
}

TEST(Files, CopyAndMove) {
  Tree t;
  t.write("big", bqtest::content(5000, 1));
  t.write("empty", "");
  t.write("long", "this target is much longer than the source");
  t.write("short", "abc");
  t.mkdir("d");
  auto p = [&t](char const* rel) { return P(t.path(rel)); };
  // New targets, and a shorter file over a longer one (cut to its length).
  for (auto const& c : {std::make_pair("big", "big2"), {"empty", "e2"}, {"short", "long"}})
    EXPECT_TRUE(BQFileUtils::copyFile(p(c.first), p(c.second)) == 0 &&
                Tree::read(t.path(c.first)) == Tree::read(t.path(c.second))) << c.first;
  EXPECT_EQ(0, BQFileUtils::copyFile(p("empty"), P("/dev/full"))); // nothing to write
  // Failures: a missing source (no target made), an empty or null path, a
  // target in a missing directory, a directory as target, a full device,
  // and, chosen, a directory as source (it opens for reading but every read
  // fails).
  std::pair<BQFileSpec, BQFileSpec> const bad[] = {
      {p("missing"), p("m2")}, {P(""), p("m2")}, {BQFileSpec(), p("m2")},
      {p("short"), BQFileSpec()}, {p("short"), p("nodir/x")}, {p("short"), p("d")},
      {p("big"), P("/dev/full")}, {p("d"), p("fromdir")}};
  for (auto const& b : bad) // the directory last: it would move
    EXPECT_EQ("11", to_string(BQFileUtils::copyFile(b.first, b.second)) +
                        to_string(&b == std::end(bad) - 1 ? 1 : BQFileUtils::moveFile(b.first, b.second)))
        << bqtest::str(b.first);
  EXPECT_FALSE(exists(t.path("m2")));
  // Chosen: onto itself (same path, hard or soft link) is refused with 1.
  t.write("f", "precious");
  ASSERT_EQ(0, ::link(t.path("f").c_str(), t.path("hard").c_str()));
  ASSERT_EQ(0, ::symlink(t.path("f").c_str(), t.path("soft").c_str()));
  for (char const* other : {"f", "hard", "soft"})
    EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyFile(p("f"), p(other))) << other;
  EXPECT_EQ("precious", Tree::read(t.path("f")));
  // A move replaces an existing target.
  EXPECT_EQ(0, BQFileUtils::moveFile(p("short"), p("big")));
  EXPECT_TRUE(Tree::read(t.path("big")) == "abc" && !exists(t.path("short")));
}
