// The single-file operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace Brackwell;
using bqtest::exists;
using bqtest::isDir;
using bqtest::P;
using Tree = bqtest::TempTree;

// One tree for the status and deletion tests: a file with set times, an
// empty file, a directory, links to both and a dangling one, and a FIFO.
struct StatusTree : ::testing::Test {
  Tree t;
  std::string f = t.path("f");
  void SetUp() override {
    t.write("f", "12345");
    t.write("empty", "");
    t.mkdir("d");
    ASSERT_EQ(0, ::symlink(t.path("d").c_str(), t.path("dl").c_str()));
    ASSERT_EQ(0, ::symlink(f.c_str(), t.path("fl").c_str()));
    ASSERT_EQ(0, ::symlink("missing", t.path("dangling").c_str()));
    ASSERT_EQ(0, ::mkfifo(t.path("fifo").c_str(), 0600));
    struct timespec times[2] = {{1111, 999}, {2222, 999999999}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, f.c_str(), times, 0));
  }
  BQFileSpec p(char const* rel) const { return P(t.path(rel)); }
};

TEST_F(StatusTree, ExistenceAndStatus) {
  for (auto c : {std::make_pair("f", true), {"d", true}, {"dl", true},
                 {"fifo", true}, {"dangling", false}, {"missing", false},
                 {"f/x", false}}) {
    EXPECT_EQ(c.second, BQFileUtils::fileExists(p(c.first))) << c.first;
    EXPECT_EQ(c.second, BQFileUtils::fileExists(t.path(c.first).c_str()));
  }
  EXPECT_FALSE(BQFileUtils::fileExists(static_cast<char const*>(nullptr)));
  EXPECT_FALSE(BQFileUtils::fileExists(P("")));
  EXPECT_FALSE(BQFileUtils::isValidPath(BQFileSpec()));
  EXPECT_FALSE(BQFileUtils::isValidPath(P("")));
  EXPECT_TRUE(BQFileUtils::isValidPath(P("/no/such/thing")));
  auto fields = [](BQFileStat const& s) {
    return std::make_tuple(s.size, s.accessTime, s.modificationTime,
                           s.statusChangeTime, s.isDir);
  };
  struct stat sys, dsys;
  ASSERT_EQ(0, ::stat(f.c_str(), &sys));
  ASSERT_EQ(0, ::stat(t.path("d").c_str(), &dsys));
  BQFileStat st{};
  ASSERT_EQ(0, BQFileUtils::getStats(p("fl"), st)); // through the link
  EXPECT_EQ(std::make_tuple(5, 1111, 2222, std::int64_t(sys.st_ctime), false),
            fields(st));
  EXPECT_EQ(1111, BQFileUtils::getAccessTime(p("f")));
  EXPECT_TRUE(BQFileUtils::isDirectory(p("dl")));
  EXPECT_FALSE(BQFileUtils::isDirectory(p("f")));
  EXPECT_EQ(std::int64_t(dsys.st_size), BQFileUtils::getFileSize(p("d")));
  EXPECT_EQ(0, BQFileUtils::getFileSize(p("empty")));
  for (BQFileSpec const& bad : {p("missing"), P(""), BQFileSpec()}) {
    BQFileStat const sentinel{77, 88, 99, 111, true};
    BQFileStat s = sentinel;
    EXPECT_EQ(BQ_STS_FileStatFailed, BQFileUtils::getStats(bad, s));
    EXPECT_EQ(fields(sentinel), fields(s)); // untouched
    EXPECT_EQ(-1, BQFileUtils::getFileSize(bad));
    EXPECT_FALSE(BQFileUtils::isDirectory(bad));
    EXPECT_EQ(0, BQFileUtils::getAccessTime(bad));
  }
}

TEST_F(StatusTree, OpenTouchAndDelete) {
  EXPECT_EQ(0, BQFileUtils::touch(p("f"))); // contents and times kept
  BQFileStat st{};
  ASSERT_EQ(0, BQFileUtils::getStats(p("f"), st));
  EXPECT_EQ(1111, st.accessTime);
  EXPECT_EQ(2222, st.modificationTime);
  EXPECT_EQ("12345", Tree::read(f));
  EXPECT_EQ(nullptr, BQFileUtils::open(p("new"), nullptr));
  EXPECT_FALSE(exists(t.path("new")));
  EXPECT_EQ(nullptr, BQFileUtils::open(P(""), "rb"));
  std::FILE* r = BQFileUtils::open(p("f"), "rb");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(nullptr, BQFileUtils::reopen(p("empty"), nullptr, r));
  EXPECT_EQ('1', std::fgetc(r)); // still open on the same file
  ASSERT_EQ(r, BQFileUtils::reopen(p("fl"), "ab+", r));
  EXPECT_EQ('1', std::fgetc(r));
  std::fclose(r);
  EXPECT_EQ(0, BQFileUtils::touch(p("created")));
  EXPECT_EQ("", Tree::read(t.path("created")));
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::touch(p("nodir/f")));
  EXPECT_FALSE(exists(t.path("nodir")));
  EXPECT_EQ(0, BQFileUtils::deleteFile(p("f")));
  EXPECT_EQ(0, BQFileUtils::deleteFile(t.path("empty").c_str()));
  EXPECT_EQ(0, BQFileUtils::deleteFile(p("dangling"))); // the link itself
  for (char const* gone : {"f", "empty", "dangling"})
    EXPECT_FALSE(exists(t.path(gone))) << gone;
  for (BQFileSpec const& bad : {p("f"), p("d"), P("")})
    EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteFile(bad));
  EXPECT_EQ(BQ_STS_FileDeleteFailed,
            BQFileUtils::deleteFile(static_cast<char const*>(nullptr)));
  EXPECT_TRUE(bqtest::isDir(t.path("d")));
}

TEST(Files, CreateDirectory) {
  bqtest::CwdGuard guard;
  Tree t;
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  EXPECT_EQ(BQ_STS_DirectoryCreateFailed, BQFileUtils::createDirectory(P("a/b/c"), false));
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("a/b/c"), true));
  struct stat st;
  ASSERT_EQ(0, ::stat(t.path("a/b/c").c_str(), &st));
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(0777u & ~mask, st.st_mode & 0777u);
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("a/b/c"), false));
  EXPECT_EQ(0, BQFileUtils::createDirectory(P(t.path("x//y/")), true));
  EXPECT_TRUE(isDir(t.path("x/y")));
  t.write("file", "x");
  for (BQFileSpec const& bad : {P("file"), P("file/sub"), P(""), BQFileSpec()})
    for (bool parents : {false, true})
      EXPECT_EQ(BQ_STS_DirectoryCreateFailed, BQFileUtils::createDirectory(bad, parents))
          << bqtest::str(bad) << parents;
  // A chain that ends in a lone backslash, its own parent, still ends:
  // "\" itself is created as an ordinary name in the working directory.
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("\\q\\r"), true));
  EXPECT_TRUE(isDir(t.path("\\")));
  EXPECT_TRUE(isDir(t.path("\\q\\r")));
  // Threads building overlapping trees at once: a mkdir that loses the race
  // still counts as success.
  for (int round = 0; round < 5; ++round) {
    std::string base = t.path("r" + std::to_string(round) + "/s/t");
    std::vector<std::thread> threads;
    std::vector<int> results(8, -1);
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&, i] {
        std::string p = base + "/u" + std::to_string(i % 2) + "/v";
        results[i] = BQFileUtils::createDirectory(P(p), true);
      });
    for (auto& th : threads)
      th.join();
    EXPECT_EQ(std::vector<int>(8, 0), results);
    EXPECT_TRUE(isDir(base + "/u0/v") && isDir(base + "/u1/v"));
  }
}

TEST(Files, CopyFile) {
  Tree t;
  std::string big = bqtest::content(5000, 1);
  t.write("big", big);
  t.write("empty", "");
  t.write("long", "this target is much longer than the source");
  t.write("short", "abc");
  t.mkdir("d");
  EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path("big")), P(t.path("big2"))));
  EXPECT_EQ(big, Tree::read(t.path("big2")));
  EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path("empty")), P(t.path("e2"))));
  EXPECT_EQ("", Tree::read(t.path("e2")));
  EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path("short")), P(t.path("long"))));
  EXPECT_EQ("abc", Tree::read(t.path("long")));
  EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path("empty")), P("/dev/full")));
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyFile(P(t.path("missing")), P(t.path("m2"))));
  EXPECT_FALSE(exists(t.path("m2")));
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyFile(P(""), P(t.path("m2"))));
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyFile(P(t.path("short")), P(t.path("nodir/x"))));
  // Chosen: a directory opens for reading but every read fails: 1.
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyFile(P(t.path("d")), P(t.path("out"))));
  // Chosen: onto itself (same path, hard or soft link) is refused with 1.
  t.write("f", "precious");
  ASSERT_EQ(0, ::link(t.path("f").c_str(), t.path("hard").c_str()));
  ASSERT_EQ(0, ::symlink(t.path("f").c_str(), t.path("soft").c_str()));
  for (char const* other : {"f", "hard", "soft"})
    EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyFile(P(t.path("f")), P(t.path(other)))) << other;
  EXPECT_EQ("precious", Tree::read(t.path("f")));
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("f")), P(t.path("f"))));
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("f")), P(t.path("hard"))));
  EXPECT_EQ("precious", Tree::read(t.path("hard")));
}

TEST(Files, MoveFile) {
  Tree t;
  t.write("a", "alpha");
  t.write("b", "beta");
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("a")), P(t.path("b"))));
  EXPECT_FALSE(exists(t.path("a")));
  EXPECT_EQ("alpha", Tree::read(t.path("b")));
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::moveFile(P(t.path("a")), P(t.path("c"))));
  EXPECT_FALSE(exists(t.path("c")));
  // rename fails across devices, and the copy fails at its first write (the
  // data outgrows the stream buffers): the source stays.
  std::string big(200000, 'q');
  t.write("big", big);
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::moveFile(P(t.path("big")), P("/dev/full")));
  EXPECT_EQ(big, Tree::read(t.path("big")));
  t.mkdir("dir"); // rename onto a directory fails; so does the copy
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::moveFile(P(t.path("b")), P(t.path("dir"))));
  EXPECT_EQ("alpha", Tree::read(t.path("b")));
  char shm[] = "/dev/shm/bqmove.XXXXXX";
  struct stat here, there;
  if (::stat(t.root().c_str(), &here) == 0 && ::stat("/dev/shm", &there) == 0 &&
      here.st_dev != there.st_dev && ::mkdtemp(shm)) {
    std::string target = std::string(shm) + "/f";
    EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("big")), P(target)));
    EXPECT_FALSE(exists(t.path("big")));
    EXPECT_EQ(big, Tree::read(target));
    bqtest::removeTree(shm);
  }
}

// As user 65534: an existing directory in a read-only parent needs no
// mkdir; a sticky directory refuses the rename of another's file but lets
// it be read, so the move copies it and cannot delete the source, while the
// file's owner renames it.
TEST(Files, WithoutPermission) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user";
  Tree t;
  t.mkdir("ro/existing");
  t.mkdir("dest");
  t.write("sticky/f", "payload");
  t.write("sticky/g", "mine");
  ASSERT_EQ(0, ::chmod(t.path("ro").c_str(), 0555));
  ASSERT_EQ(0, ::chmod(t.path("sticky").c_str(), 01777));
  ASSERT_EQ(0, ::chmod(t.path("sticky/f").c_str(), 0644));
  ASSERT_EQ(0, ::chown(t.path("sticky/g").c_str(), 65534, 65534));
  ASSERT_EQ(0, ::chown(t.path("dest").c_str(), 65534, 65534));
  auto p = [&t](char const* rel) { return P(t.path(rel)); };
  EXPECT_EQ("", bqtest::asNobody(t, [&]() -> std::string {
    CHILD_CHECK(BQFileUtils::createDirectory(p("ro/existing"), true) == 0);
    CHILD_CHECK(BQFileUtils::createDirectory(p("ro/new/x"), true) ==
                BQ_STS_DirectoryCreateFailed);
    CHILD_CHECK(BQFileUtils::moveFile(p("sticky/f"), p("dest/f")) == 0);
    CHILD_CHECK(BQFileUtils::moveFile(p("sticky/g"), p("dest/g")) == 0);
    return "";
  }));
  EXPECT_FALSE(exists(t.path("ro/new")));
  EXPECT_EQ("payload", Tree::read(t.path("dest/f")));
  EXPECT_EQ("payload", Tree::read(t.path("sticky/f")));
  EXPECT_EQ("mine", Tree::read(t.path("dest/g")));
  EXPECT_FALSE(exists(t.path("sticky/g")));
}
