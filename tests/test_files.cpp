// The single-file operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "support/alloc_fault.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Brackwell;
using bqtest::exists;
using bqtest::isDir;
using bqtest::P;
using Tree = bqtest::TempTree;

TEST(Files, ExistenceAndValidity) {
  Tree t;
  t.write("f", "x");
  t.mkdir("d");
  ASSERT_EQ(0, ::symlink(t.path("missing").c_str(), t.path("dangling").c_str()));
  ASSERT_EQ(0, ::symlink(t.path("d").c_str(), t.path("dirlink").c_str()));
  ASSERT_EQ(0, ::mkfifo(t.path("fifo").c_str(), 0600));
  for (auto c : {std::make_pair("f", true), {"d", true}, {"dirlink", true},
                 {"fifo", true}, {"dangling", false}, {"missing", false},
                 {"f/x", false}}) {
    EXPECT_EQ(c.second, BQFileUtils::fileExists(P(t.path(c.first)))) << c.first;
    EXPECT_EQ(c.second, BQFileUtils::fileExists(t.path(c.first).c_str()));
  }
  EXPECT_FALSE(BQFileUtils::fileExists(static_cast<char const*>(nullptr)));
  EXPECT_FALSE(BQFileUtils::fileExists(BQFileSpec()));
  EXPECT_FALSE(BQFileUtils::fileExists(P("")));
  EXPECT_FALSE(BQFileUtils::isValidPath(BQFileSpec()));
  EXPECT_FALSE(BQFileUtils::isValidPath(P("")));
  EXPECT_TRUE(BQFileUtils::isValidPath(P("/no/such/thing")));
}

TEST(Files, OpenReopenAndTouch) {
  Tree t;
  std::string f = t.path("f");
  EXPECT_EQ(nullptr, BQFileUtils::open(P(f), nullptr));
  EXPECT_FALSE(exists(f));
  EXPECT_EQ(nullptr, BQFileUtils::open(P(""), "rb"));
  std::FILE* w = BQFileUtils::open(P(f), "wb");
  ASSERT_NE(nullptr, w);
  std::fputs("abc", w);
  std::fclose(w);
  std::FILE* r = BQFileUtils::open(P(f), "rb");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(nullptr, BQFileUtils::reopen(P(t.path("other")), nullptr, r));
  EXPECT_EQ('a', std::fgetc(r)); // still open on the same file
  t.write("other", "xyz");
  ASSERT_EQ(r, BQFileUtils::reopen(P(t.path("other")), "rb", r));
  EXPECT_EQ('x', std::fgetc(r));
  std::fclose(r);
  // touch keeps contents and times; creates a missing file; fails in a
  // missing directory.
  struct timespec times[2] = {{1000000, 0}, {2000000, 0}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, f.c_str(), times, 0));
  EXPECT_EQ(0, BQFileUtils::touch(P(f)));
  BQFileStat st{};
  ASSERT_EQ(0, BQFileUtils::getStats(P(f), st));
  EXPECT_EQ(1000000, st.accessTime);
  EXPECT_EQ(2000000, st.modificationTime);
  EXPECT_EQ("abc", Tree::read(f));
  EXPECT_EQ(0, BQFileUtils::touch(P(t.path("created"))));
  EXPECT_EQ("", Tree::read(t.path("created")));
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::touch(P(t.path("nodir/f"))));
  EXPECT_FALSE(exists(t.path("nodir")));
}

TEST(Files, DeleteFile) {
  Tree t;
  t.write("f", "x");
  t.write("g", "x");
  t.mkdir("d");
  ASSERT_EQ(0, ::symlink("nowhere", t.path("l").c_str()));
  EXPECT_EQ(0, BQFileUtils::deleteFile(P(t.path("f"))));
  EXPECT_EQ(0, BQFileUtils::deleteFile(t.path("g").c_str()));
  EXPECT_EQ(0, BQFileUtils::deleteFile(P(t.path("l")))); // the link itself
  for (std::string gone : {"f", "g", "l"})
    EXPECT_FALSE(exists(t.path(gone))) << gone;
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteFile(P(t.path("f"))));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteFile(P(t.path("d"))));
  EXPECT_EQ(BQ_STS_FileDeleteFailed,
            BQFileUtils::deleteFile(static_cast<char const*>(nullptr)));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteFile(P("")));
  EXPECT_TRUE(isDir(t.path("d")));
}

TEST(Files, GetStats) {
  Tree t;
  t.write("f", "12345");
  t.write("empty", "");
  t.mkdir("d");
  ASSERT_EQ(0, ::symlink(t.path("d").c_str(), t.path("dl").c_str()));
  std::string f = t.path("f");
  struct timespec times[2] = {{1111, 999}, {2222, 999999999}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, f.c_str(), times, 0));
  struct stat sys, dsys;
  ASSERT_EQ(0, ::stat(f.c_str(), &sys));
  ASSERT_EQ(0, ::stat(t.path("d").c_str(), &dsys));
  BQFileStat st{};
  ASSERT_EQ(0, BQFileUtils::getStats(P(f), st));
  EXPECT_EQ(5, st.size);
  EXPECT_EQ(1111, st.accessTime);
  EXPECT_EQ(2222, st.modificationTime);
  EXPECT_EQ(std::int64_t(sys.st_ctime), st.statusChangeTime);
  EXPECT_FALSE(st.isDir);
  EXPECT_EQ(1111, BQFileUtils::getAccessTime(P(f)));
  ASSERT_EQ(0, BQFileUtils::getStats(P(t.path("dl")), st));
  EXPECT_TRUE(st.isDir);
  EXPECT_TRUE(BQFileUtils::isDirectory(P(t.path("dl"))));
  EXPECT_FALSE(BQFileUtils::isDirectory(P(f)));
  EXPECT_EQ(std::int64_t(dsys.st_size), BQFileUtils::getFileSize(P(t.path("d"))));
  EXPECT_EQ(0, BQFileUtils::getFileSize(P(t.path("empty"))));
  for (BQFileSpec const& bad : {P(t.path("missing")), P(""), BQFileSpec()}) {
    BQFileStat s{77, 88, 99, 111, true};
    EXPECT_EQ(BQ_STS_FileStatFailed, BQFileUtils::getStats(bad, s));
    EXPECT_EQ(77, s.size); // untouched
    EXPECT_EQ(88, s.accessTime);
    EXPECT_EQ(99, s.modificationTime);
    EXPECT_EQ(111, s.statusChangeTime);
    EXPECT_TRUE(s.isDir);
    EXPECT_EQ(-1, BQFileUtils::getFileSize(bad));
    EXPECT_FALSE(BQFileUtils::isDirectory(bad));
    EXPECT_EQ(0, BQFileUtils::getAccessTime(bad));
  }
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
  EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("missing")), P(t.path("m2"))));
  EXPECT_FALSE(exists(t.path("m2")));
  EXPECT_EQ(1, BQFileUtils::copyFile(P(""), P(t.path("m2"))));
  EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("short")), P(t.path("nodir/x"))));
  // Chosen: a directory opens for reading but every read fails: 1.
  EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("d")), P(t.path("out"))));
  // Chosen: onto itself (same path, hard or soft link) is refused with 1.
  t.write("f", "precious");
  ASSERT_EQ(0, ::link(t.path("f").c_str(), t.path("hard").c_str()));
  ASSERT_EQ(0, ::symlink(t.path("f").c_str(), t.path("soft").c_str()));
  for (char const* other : {"f", "hard", "soft"})
    EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("f")), P(t.path(other)))) << other;
  EXPECT_EQ("precious", Tree::read(t.path("f")));
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("f")), P(t.path("f"))));
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("f")), P(t.path("hard"))));
  EXPECT_EQ("precious", Tree::read(t.path("hard")));
}

TEST(CopyFile, BufferAllocationFailure) {
  bqtest::TempTree t;
  t.write("src", "data");
  BQFileSpec src = P(t.path("src")), dst = P(t.path("dst"));
  t.write("dst", "old contents");
  long points = bqtest::forEachAllocFailure([&] {
    Brackwell::BQ_STATUS st = BQFileUtils::copyFile(src, dst);
    if (bqtest::failureInjected()) {
      EXPECT_EQ(8, st);
      EXPECT_EQ("", bqtest::TempTree::read(t.path("dst")));
    } else {
      EXPECT_EQ(0, st);
      EXPECT_EQ("data", bqtest::TempTree::read(t.path("dst")));
    }
  });
  EXPECT_EQ(1, points);
}

TEST(Files, MoveFile) {
  Tree t;
  t.write("a", "alpha");
  t.write("b", "beta");
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("a")), P(t.path("b"))));
  EXPECT_FALSE(exists(t.path("a")));
  EXPECT_EQ("alpha", Tree::read(t.path("b")));
  EXPECT_EQ(1, BQFileUtils::moveFile(P(t.path("a")), P(t.path("c"))));
  EXPECT_FALSE(exists(t.path("c")));
  // rename fails across devices, and the copy fails at its first write (the
  // data outgrows the stream buffers): the source stays.
  std::string big(200000, 'q');
  t.write("big", big);
  EXPECT_EQ(1, BQFileUtils::moveFile(P(t.path("big")), P("/dev/full")));
  EXPECT_EQ(big, Tree::read(t.path("big")));
  t.mkdir("dir"); // rename onto a directory fails; so does the copy
  EXPECT_EQ(1, BQFileUtils::moveFile(P(t.path("b")), P(t.path("dir"))));
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

// As user 65534: a parent without search permission, a read-only parent of
// an existing directory, an unreadable source, a read-only target, and a
// sticky directory that refuses the rename but lets the file be read.
TEST(Files, WithoutPermission) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user";
  Tree t;
  t.write("locked/f", "x");
  t.mkdir("ro/existing");
  t.write("secret", "s");
  t.write("rofile", "keep");
  t.write("ok", "data");
  t.mkdir("dest");
  t.write("sticky/f", "payload");
  t.write("sticky/g", "mine");
  ASSERT_EQ(0, ::chmod(t.path("locked").c_str(), 0600));
  ASSERT_EQ(0, ::chmod(t.path("ro").c_str(), 0555));
  ASSERT_EQ(0, ::chmod(t.path("secret").c_str(), 0000));
  ASSERT_EQ(0, ::chmod(t.path("rofile").c_str(), 0444));
  ASSERT_EQ(0, ::chmod(t.path("sticky").c_str(), 01777));
  ASSERT_EQ(0, ::chmod(t.path("sticky/f").c_str(), 0644));
  ASSERT_EQ(0, ::chown(t.path("sticky/g").c_str(), 65534, 65534));
  ASSERT_EQ(0, ::chown(t.path("dest").c_str(), 65534, 65534));
  auto p = [&t](char const* rel) { return P(t.path(rel)); };
  EXPECT_EQ(0, bqtest::asNobody(t, [&] {
    if (BQFileUtils::fileExists(p("locked/f")))
      return 1;
    if (BQFileUtils::createDirectory(p("ro/existing"), true) != 0 ||
        BQFileUtils::createDirectory(p("ro/new/x"), true) != BQ_STS_DirectoryCreateFailed)
      return 2;
    if (BQFileUtils::copyFile(p("secret"), p("dest/out")) != 1 || exists(t.path("dest/out")))
      return 3;
    if (BQFileUtils::copyFile(p("ok"), p("rofile")) != 1)
      return 4;
    if (BQFileUtils::moveFile(p("sticky/f"), p("dest/f")) != 0 ||
        BQFileUtils::moveFile(p("sticky/g"), p("dest/g")) != 0)
      return 5;
    return 0;
  }));
  EXPECT_FALSE(exists(t.path("ro/new")));
  EXPECT_EQ("keep", Tree::read(t.path("rofile")));
  EXPECT_EQ("payload", Tree::read(t.path("dest/f"))); // copied, not deleted
  EXPECT_EQ("payload", Tree::read(t.path("sticky/f")));
  EXPECT_EQ("mine", Tree::read(t.path("dest/g"))); // its owner renames it
  EXPECT_FALSE(exists(t.path("sticky/g")));
}
