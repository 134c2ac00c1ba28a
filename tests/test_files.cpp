// Tests of the single-file operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "support/alloc_fault.h"
#include "support/fs_util.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <thread>
#include <vector>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Brackwell::BQFileSpec;
using Brackwell::BQFileStat;
using Brackwell::BQFileUtils;

using bqtest::asNobody;
using bqtest::exists;
using bqtest::isDir;
using bqtest::P;

TEST(FileExists, TypesLinksAndNulls) {
  bqtest::TempTree t;
  t.write("f", "x");
  t.mkdir("d");
  ASSERT_EQ(0, ::symlink(t.path("missing").c_str(), t.path("dangling").c_str()));
  ASSERT_EQ(0, ::symlink(t.path("d").c_str(), t.path("dirlink").c_str()));
  ASSERT_EQ(0, ::mkfifo(t.path("fifo").c_str(), 0600));
  struct Case { std::string rel; bool expected; } cases[] = {
      {"f", true},         {"d", true},      {"dirlink", true}, {"fifo", true},
      {"dangling", false}, {"missing", false}, {"f/x", false},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(c.expected, BQFileUtils::fileExists(P(t.path(c.rel)))) << c.rel;
    EXPECT_EQ(c.expected, BQFileUtils::fileExists(t.path(c.rel).c_str())) << c.rel;
  }
  EXPECT_TRUE(BQFileUtils::fileExists("/dev/null"));
  EXPECT_FALSE(BQFileUtils::fileExists(static_cast<char const*>(nullptr)));
  EXPECT_FALSE(BQFileUtils::fileExists(BQFileSpec()));
  EXPECT_FALSE(BQFileUtils::fileExists(P("")));
  EXPECT_FALSE(BQFileUtils::isValidPath(BQFileSpec()));
  EXPECT_FALSE(BQFileUtils::isValidPath(P("")));
  EXPECT_TRUE(BQFileUtils::isValidPath(P("/no/such/thing")));
}

TEST(FileExists, NoSearchPermissionOnParent) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user or root directory";
  bqtest::TempTree t;
  t.mkdir("locked");
  t.write("locked/f", "x");
  ASSERT_EQ(0, ::chmod(t.path("locked").c_str(), 0600));
  std::string f = t.path("locked/f");
  int rc = asNobody(t, [&] {
    return BQFileUtils::fileExists(P(f)) ? 1 : 0;
  });
  ::chmod(t.path("locked").c_str(), 0700);
  EXPECT_EQ(0, rc);
}

TEST(OpenTouch, NullModesAndCreation) {
  bqtest::TempTree t;
  std::string f = t.path("new");
  EXPECT_EQ(nullptr, BQFileUtils::open(P(f), nullptr));
  EXPECT_FALSE(exists(f));
  EXPECT_EQ(nullptr, BQFileUtils::open(P(""), "rb"));
  EXPECT_EQ(nullptr, BQFileUtils::open(BQFileSpec(), "rb"));

  std::FILE* w = BQFileUtils::open(P(f), "wb");
  ASSERT_NE(nullptr, w);
  std::fputs("abc", w);
  std::fclose(w);
  EXPECT_EQ("abc", bqtest::TempTree::read(f));

  std::FILE* r = BQFileUtils::open(P(f), "rb");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(nullptr, BQFileUtils::reopen(P(t.path("other")), nullptr, r));
  EXPECT_EQ('a', std::fgetc(r)); // still open on the same file
  t.write("other", "xyz");
  std::FILE* r2 = BQFileUtils::reopen(P(t.path("other")), "rb", r);
  ASSERT_EQ(r, r2);
  EXPECT_EQ('x', std::fgetc(r2));
  std::fclose(r2);
}

TEST(OpenTouch, TouchKeepsContentsAndTimes) {
  bqtest::TempTree t;
  t.write("f", "keep me");
  std::string f = t.path("f");
  struct timespec times[2] = {{1000000, 0}, {2000000, 0}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, f.c_str(), times, 0));
  EXPECT_EQ(0, BQFileUtils::touch(P(f)));
  BQFileStat st{};
  ASSERT_EQ(0, BQFileUtils::getStats(P(f), st));
  EXPECT_EQ(1000000, st.accessTime);
  EXPECT_EQ(2000000, st.modificationTime);
  EXPECT_EQ(1000000, BQFileUtils::getAccessTime(P(f)));
  EXPECT_EQ("keep me", bqtest::TempTree::read(f));

  EXPECT_EQ(0, BQFileUtils::touch(P(t.path("created"))));
  EXPECT_EQ(0, BQFileUtils::getFileSize(P(t.path("created"))));
  EXPECT_EQ(Brackwell::BQ_STS_Failure, BQFileUtils::touch(P(t.path("nodir/f"))));
  EXPECT_FALSE(exists(t.path("nodir")));
}

TEST(DeleteFile, Results) {
  bqtest::TempTree t;
  t.write("f", "x");
  t.mkdir("d");
  EXPECT_EQ(0, BQFileUtils::deleteFile(P(t.path("f"))));
  EXPECT_FALSE(exists(t.path("f")));
  EXPECT_EQ(3030, BQFileUtils::deleteFile(P(t.path("f"))));
  EXPECT_EQ(3030, BQFileUtils::deleteFile(P(t.path("d"))));
  EXPECT_TRUE(isDir(t.path("d")));
  EXPECT_EQ(3030, BQFileUtils::deleteFile(static_cast<char const*>(nullptr)));
  EXPECT_EQ(3030, BQFileUtils::deleteFile(P("")));
  t.write("g", "x");
  EXPECT_EQ(0, BQFileUtils::deleteFile(t.path("g").c_str()));
  EXPECT_FALSE(exists(t.path("g")));
  // A dangling link is removed itself.
  ASSERT_EQ(0, ::symlink("nowhere", t.path("l").c_str()));
  EXPECT_EQ(0, BQFileUtils::deleteFile(P(t.path("l"))));
  EXPECT_FALSE(exists(t.path("l")));
}

TEST(GetStats, RecordAndFailures) {
  bqtest::TempTree t;
  t.write("f", "12345");
  t.write("empty", "");
  t.mkdir("d");
  ASSERT_EQ(0, ::symlink(t.path("d").c_str(), t.path("dl").c_str()));
  std::string f = t.path("f");
  struct timespec times[2] = {{1111, 999}, {2222, 999999999}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, f.c_str(), times, 0));
  struct stat sys;
  ASSERT_EQ(0, ::stat(f.c_str(), &sys));

  BQFileStat st{};
  ASSERT_EQ(0, BQFileUtils::getStats(P(f), st));
  EXPECT_EQ(5, st.size);
  EXPECT_EQ(1111, st.accessTime);
  EXPECT_EQ(2222, st.modificationTime);
  EXPECT_EQ(static_cast<std::int64_t>(sys.st_ctime), st.statusChangeTime);
  EXPECT_FALSE(st.isDir);

  ASSERT_EQ(0, BQFileUtils::getStats(P(t.path("dl")), st));
  EXPECT_TRUE(st.isDir);
  EXPECT_TRUE(BQFileUtils::isDirectory(P(t.path("dl"))));
  EXPECT_FALSE(BQFileUtils::isDirectory(P(f)));
  ASSERT_EQ(0, ::stat(t.path("d").c_str(), &sys));
  EXPECT_EQ(static_cast<std::int64_t>(sys.st_size),
            BQFileUtils::getFileSize(P(t.path("d"))));
  EXPECT_EQ(0, BQFileUtils::getFileSize(P(t.path("empty"))));

  BQFileStat sentinel{77, 88, 99, 111, true};
  for (BQFileSpec const& bad : {P(t.path("missing")), P(""), BQFileSpec()}) {
    BQFileStat s = sentinel;
    EXPECT_EQ(3035, BQFileUtils::getStats(bad, s));
    EXPECT_EQ(77, s.size);
    EXPECT_EQ(88, s.accessTime);
    EXPECT_EQ(99, s.modificationTime);
    EXPECT_EQ(111, s.statusChangeTime);
    EXPECT_TRUE(s.isDir);
    EXPECT_EQ(-1, BQFileUtils::getFileSize(bad));
    EXPECT_FALSE(BQFileUtils::isDirectory(bad));
    EXPECT_EQ(0, BQFileUtils::getAccessTime(bad));
  }
}

TEST(CreateDirectory, ParentsAndFailures) {
  // Restores the working directory however the test ends.
  struct CwdGuard {
    char saved[4096];
    CwdGuard() { if (!::getcwd(saved, sizeof saved)) saved[0] = '\0'; }
    ~CwdGuard() { if (saved[0] && ::chdir(saved) != 0) ADD_FAILURE(); }
  } guard;
  bqtest::TempTree t;
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  EXPECT_EQ(3032, BQFileUtils::createDirectory(P("a/b/c"), false));
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("a/b/c"), true));
  EXPECT_TRUE(isDir(t.path("a/b/c")));
  struct stat st;
  ASSERT_EQ(0, ::stat(t.path("a/b/c").c_str(), &st));
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(0777u & ~mask, st.st_mode & 0777u);
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("a/b/c"), false));
  EXPECT_EQ(0, BQFileUtils::createDirectory(P(t.path("x//y/")), true));
  EXPECT_TRUE(isDir(t.path("x/y")));

  t.write("file", "x");
  EXPECT_EQ(3032, BQFileUtils::createDirectory(P(t.path("file")), false));
  EXPECT_EQ(3032, BQFileUtils::createDirectory(P(t.path("file")), true));
  EXPECT_EQ(3032, BQFileUtils::createDirectory(P(t.path("file/sub")), true));
  EXPECT_EQ(3032, BQFileUtils::createDirectory(P(""), true));
  EXPECT_EQ(3032, BQFileUtils::createDirectory(BQFileSpec(), false));

  // A chain that ends in a lone backslash, its own parent, still ends:
  // "\" itself is created as an ordinary name in the working directory.
  EXPECT_EQ(0, BQFileUtils::createDirectory(P("\\q\\r"), true));
  EXPECT_TRUE(isDir(t.path("\\")));
  EXPECT_TRUE(isDir(t.path("\\q")));
  EXPECT_TRUE(isDir(t.path("\\q\\r")));
}

TEST(CreateDirectory, ExistingDirectoryWithoutWritePermission) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user or root directory";
  bqtest::TempTree t;
  t.mkdir("ro/existing");
  ASSERT_EQ(0, ::chmod(t.path("ro").c_str(), 0555));
  std::string existing = t.path("ro/existing"), fresh = t.path("ro/new/x");
  int rc = asNobody(t, [&] {
    if (BQFileUtils::createDirectory(P(existing), true) != 0)
      return 1;
    if (BQFileUtils::createDirectory(P(fresh), true) != 3032)
      return 2;
    return 0;
  });
  EXPECT_EQ(0, rc);
  EXPECT_FALSE(exists(t.path("ro/new")));
}

TEST(CopyFile, ContentsTruncationAndMissing) {
  bqtest::TempTree t;
  std::string big;
  for (int i = 0; i < 5000; ++i)
    big += static_cast<char>('a' + i % 26);
  big[1024] = '\0';
  t.write("big", big);
  t.write("empty", "");
  t.write("long", "this target is much longer than the source");
  t.write("short", "abc");

  EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path("big")), P(t.path("big2"))));
  EXPECT_EQ(big, bqtest::TempTree::read(t.path("big2")));
  EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path("empty")), P(t.path("e2"))));
  EXPECT_EQ("", bqtest::TempTree::read(t.path("e2")));
  EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path("short")), P(t.path("long"))));
  EXPECT_EQ("abc", bqtest::TempTree::read(t.path("long")));

  EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("missing")), P(t.path("m2"))));
  EXPECT_FALSE(exists(t.path("m2")));
  EXPECT_EQ(1, BQFileUtils::copyFile(P(""), P(t.path("m2"))));
  EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("short")), P(t.path("nodir/x"))));
}

TEST(CopyFile, OntoItselfKeepsContents) {
  bqtest::TempTree t;
  t.write("f", "precious");
  ASSERT_EQ(0, ::link(t.path("f").c_str(), t.path("hard").c_str()));
  ASSERT_EQ(0, ::symlink(t.path("f").c_str(), t.path("soft").c_str()));
  for (char const* other : {"f", "hard", "soft"}) {
    EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("f")), P(t.path(other)))) << other;
    EXPECT_EQ("precious", bqtest::TempTree::read(t.path("f"))) << other;
  }
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("f")), P(t.path("f"))));
  EXPECT_EQ("precious", bqtest::TempTree::read(t.path("f")));
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("f")), P(t.path("hard"))));
  EXPECT_EQ("precious", bqtest::TempTree::read(t.path("hard")));
}

TEST(CopyFile, ReadAndWriteFaults) {
  bqtest::TempTree t;
  t.mkdir("d");
  // A directory opens for reading but every read fails: the copy must end.
  EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("d")), P(t.path("out"))));
  // /dev/full accepts the open but rejects the data.
  std::string data(200000, 'z');
  t.write("src", data);
  EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("src")), P("/dev/full")));
  // An empty source writes nothing, so even /dev/full succeeds.
  t.write("empty", "");
  EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path("empty")), P("/dev/full")));
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

TEST(CopyFile, UnreadableSourceAndUnwritableTarget) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user or root directory";
  bqtest::TempTree t;
  t.write("secret", "s");
  ASSERT_EQ(0, ::chmod(t.path("secret").c_str(), 0000));
  t.write("ro", "keep");
  ASSERT_EQ(0, ::chmod(t.path("ro").c_str(), 0444));
  t.write("ok", "data");
  std::string secret = t.path("secret"), ro = t.path("ro"), ok = t.path("ok"),
              out = t.path("out");
  int rc = asNobody(t, [&] {
    if (BQFileUtils::copyFile(P(secret), P(out)) != 1)
      return 1;
    if (::access(out.c_str(), F_OK) == 0)
      return 2; // the target must not be created when the source fails
    if (BQFileUtils::copyFile(P(ok), P(ro)) != 1)
      return 3;
    return 0;
  });
  EXPECT_EQ(0, rc);
  EXPECT_EQ("keep", bqtest::TempTree::read(ro));
}

TEST(MoveFile, RenameAndCopyFallback) {
  bqtest::TempTree t;
  t.write("a", "alpha");
  t.write("b", "beta");
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("a")), P(t.path("b"))));
  EXPECT_FALSE(exists(t.path("a")));
  EXPECT_EQ("alpha", bqtest::TempTree::read(t.path("b")));

  // Missing source: rename and copy both fail.
  EXPECT_EQ(1, BQFileUtils::moveFile(P(t.path("a")), P(t.path("c"))));
  EXPECT_FALSE(exists(t.path("c")));

  // Across file systems rename fails with EXDEV; the copy writes to
  // /dev/full and fails, so the source must stay.
  // The source is larger than the stream buffers, so the failure shows in
  // fwrite rather than only at the (unchecked) close.
  std::string big(200000, 'q');
  t.write("big", big);
  EXPECT_EQ(1, BQFileUtils::moveFile(P(t.path("big")), P("/dev/full")));
  EXPECT_EQ(big, bqtest::TempTree::read(t.path("big")));

  // rename onto a directory fails; so does the copy.
  t.mkdir("dir");
  EXPECT_EQ(1, BQFileUtils::moveFile(P(t.path("b")), P(t.path("dir"))));
  EXPECT_EQ("alpha", bqtest::TempTree::read(t.path("b")));
}

TEST(MoveFile, AcrossFileSystemsCopiesThenDeletes) {
  bqtest::TempTree t;
  struct stat a, b;
  char dir[] = "/dev/shm/bqmove.XXXXXX";
  if (::stat(t.root().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 ||
      a.st_dev == b.st_dev || !::mkdtemp(dir))
    GTEST_SKIP() << "no second file system at /dev/shm";
  std::string data(3000, 'm'), there = std::string(dir) + "/f";
  t.write("f", data);
  EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("f")), P(there)));
  EXPECT_FALSE(exists(t.path("f")));
  EXPECT_EQ(data, bqtest::TempTree::read(there));
  bqtest::removeTree(dir);
}

TEST(MoveFile, CopyThenDeleteWhenRenameRefused) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user or root directory";
  // Renaming out of a sticky directory owned by someone else is refused to
  // other users, while the file stays readable: move falls back to a copy,
  // and the delete fails silently, leaving both files.
  bqtest::TempTree t;
  t.mkdir("sticky");
  t.mkdir("dest");
  t.write("sticky/f", "payload");
  ASSERT_EQ(0, ::chmod(t.path("sticky").c_str(), 01777));
  ASSERT_EQ(0, ::chmod(t.path("sticky/f").c_str(), 0644));
  ASSERT_EQ(0, ::chown(t.path("dest").c_str(), 65534, 65534));
  std::string f = t.path("sticky/f"), dst = t.path("dest/f");
  int rc = asNobody(t, [&] {
    return BQFileUtils::moveFile(P(f), P(dst));
  });
  EXPECT_EQ(0, rc);
  EXPECT_EQ("payload", bqtest::TempTree::read(dst));
  EXPECT_EQ("payload", bqtest::TempTree::read(f));

  // Owner of the file and of the directory: rename works directly.
  t.write("sticky/g", "mine");
  ASSERT_EQ(0, ::chown(t.path("sticky/g").c_str(), 65534, 65534));
  std::string g = t.path("sticky/g"), dg = t.path("dest/g");
  rc = asNobody(t, [&] { return BQFileUtils::moveFile(P(g), P(dg)); });
  EXPECT_EQ(0, rc);
  EXPECT_FALSE(exists(g));
  EXPECT_EQ("mine", bqtest::TempTree::read(dg));
}

TEST(CreateDirectory, RacingCreatorsAllSucceed) {
  // Threads build overlapping trees at once; a mkdir that loses the race to
  // another thread must still count as success.
  for (int round = 0; round < 20; ++round) {
    bqtest::TempTree t;
    std::string base = t.path("r/s/t");
    std::vector<std::thread> threads;
    std::vector<int> results(8, -1);
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&, i] {
        std::string p = base + "/u" + std::to_string(i % 2) + "/v";
        results[i] = BQFileUtils::createDirectory(P(p), true);
      });
    for (auto& th : threads)
      th.join();
    for (int i = 0; i < 8; ++i)
      EXPECT_EQ(0, results[i]) << "thread " << i;
    EXPECT_TRUE(isDir(base + "/u0/v"));
    EXPECT_TRUE(isDir(base + "/u1/v"));
  }
}
