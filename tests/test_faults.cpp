// Faults made for real: writes that fail in the middle of a file, too few
// descriptors, hostile names and path lengths, trees 10,000 levels deep or
// 100,000 entries wide, and trees that change while they are walked. Limits
// are lowered only in forked children; every case checks that nothing the
// caller had is lost and nothing outside the tree is touched.
#include "brackwell/fileUtils.h"

#include "support/fs_util.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <functional>
#include <map>
#include <set>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Brackwell;

using bqtest::content;
using bqtest::exists;
using bqtest::P;

namespace {

// Runs `body` in a forked child. The child's verdict comes back through a
// pipe: empty means it held; otherwise the text of the first broken check.
std::string inChild(std::function<std::string()> const& body) {
  int fds[2];
  if (::pipe(fds) != 0)
    return "pipe failed";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string msg;
    try {
      msg = body();
    } catch (...) {
      msg = "exception";
    }
    if (::write(fds[1], msg.data(), msg.size()) < 0)
      ::_exit(2);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string msg;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    msg.append(buf, std::size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "child died, status " + std::to_string(status) + " " + msg;
  return msg;
}
#define CHILD_CHECK(cond)                                                      \
  do {                                                                         \
    if (!(cond))                                                               \
      return std::string("line ") + std::to_string(__LINE__) + ": " #cond;     \
  } while (0)

// A scratch directory on another file system than the temp tree, or "".
struct OtherFs {
  std::string dir;
  explicit OtherFs(std::string const& near) {
    struct stat a, b;
    char tmpl[] = "/dev/shm/bqfault.XXXXXX";
    if (::stat(near.c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 &&
        a.st_dev != b.st_dev && ::mkdtemp(tmpl))
      dir = tmpl;
  }
  ~OtherFs() {
    if (!dir.empty())
      bqtest::removeTree(dir);
  }
};

// File-size limit lowered in the child, SIGXFSZ ignored so the write fails
// with EFBIG instead of killing it. Copies and moves of `size` bytes onto a
// file system that takes only `limit` of them must fail with the source kept.
void expectWriteFailureKeepsSource(std::size_t size, rlim_t limit) {
  SCOPED_TRACE(std::to_string(size) + " bytes, limit " + std::to_string(limit));
  bqtest::TempTree t;
  OtherFs other(t.root());
  std::string const data = content(size, unsigned(size));
  t.write("src", data);
  std::string src = t.path("src");
  EXPECT_EQ("", inChild([&]() -> std::string {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &rl) == 0);
    if (!other.dir.empty()) { // rename fails across file systems: copy
      CHILD_CHECK(BQFileUtils::moveFile(P(src), P(other.dir + "/m")) == 1);
      CHILD_CHECK(bqtest::TempTree::read(src) == data);
    }
    CHILD_CHECK(BQFileUtils::copyFile(P(src), P(t.path("dst"))) == 1);
    CHILD_CHECK(bqtest::TempTree::read(src) == data);
    return "";
  }));
  if (other.dir.empty())
    std::printf("no second file system at /dev/shm: moveFile part skipped\n");
}

// The limit is reached while the copy loop is still writing.
TEST(RealFaults, WriteFailingMidFileLosesNothing) {
  expectWriteFailureKeepsSource(300000, 100000);
  expectWriteFailureKeepsSource(5000, 1000);
}

// The limit is reached only by the bytes still buffered when the copy loop
// has ended (the file is smaller than the stream buffer).
TEST(RealFaults, WriteFailingInFinalFlushLosesNothing) {
  expectWriteFailureKeepsSource(5000, 4196);
  expectWriteFailureKeepsSource(1, 0);
}

TEST(RealFaults, CopyOntoFullDevice) {
  if (!exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full";
  bqtest::TempTree t;
  std::string const data = content(200000, 7);
  t.write("src", data);
  EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("src")), P("/dev/full")));
  EXPECT_EQ(data, bqtest::TempTree::read(t.path("src")));
  // A 10-byte copy fails only in the final flush (see above) and so is not
  // checked here.
}

// Names whose bytes are not UTF-8 and names of the longest legal length go
// through every single-file operation byte for byte.
TEST(HostileNames, SingleFileOperationsKeepTheBytes) {
  std::string accented; // 254 bytes of two-byte characters, then 'x'
  for (int i = 0; i < 127; ++i)
    accented += "\xC3\xA9";
  std::string const names[] = {"\xFF\xFE\x80raw", "\xC3\x28",
                               "\xED\xA0\x80surrogate", "\xF4\x90\x80\x80_big",
                               std::string(255, 'n'), accented + "x"};
  for (std::string const& name : names) {
    SCOPED_TRACE(name.size());
    bqtest::TempTree t;
    std::string const data = content(2500, 11);
    std::string path = t.path(name), plain = t.path("plain");
    ASSERT_EQ(0, BQFileUtils::touch(P(path)));
    EXPECT_TRUE(BQFileUtils::fileExists(P(path)));
    t.write(name, data);
    EXPECT_EQ(2500, BQFileUtils::getFileSize(P(path)));
    EXPECT_EQ(0, BQFileUtils::copyFile(P(path), P(plain)));
    EXPECT_EQ(data, bqtest::TempTree::read(plain));
    EXPECT_EQ(0, BQFileUtils::deleteFile(P(path)));
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(0, BQFileUtils::moveFile(P(plain), P(path)));
    EXPECT_EQ(data, bqtest::TempTree::read(path));
    // One byte more than the longest name is refused.
    EXPECT_EQ(name.size() < 255 ? 0 : 3032,
              BQFileUtils::createDirectory(P(path + "d"), false));
  }
}

// A 256-byte name and a path beyond 4096 bytes: every operation fails with
// its stated status, and a move leaves its source in place.
TEST(HostileNames, OverlongNamesAndPathsFailCleanly) {
  bqtest::TempTree t;
  std::string const data = content(1500, 5);
  t.write("src", data);
  std::string longPath = t.root();
  while (longPath.size() <= 4200)
    longPath += "/" + std::string(200, 'p');
  std::string const bad[] = {t.path(std::string(256, 'n')), longPath};
  for (std::string const& p : bad) {
    SCOPED_TRACE(p.size());
    EXPECT_FALSE(BQFileUtils::fileExists(P(p)));
    EXPECT_EQ(1, BQFileUtils::touch(P(p)));
    EXPECT_EQ(nullptr, BQFileUtils::open(P(p), "wb"));
    EXPECT_EQ(3030, BQFileUtils::deleteFile(P(p)));
    BQFileStat st = {1, 2, 3, 4, true};
    EXPECT_EQ(3035, BQFileUtils::getStats(P(p), st));
    EXPECT_EQ(1, st.size);
    EXPECT_EQ(-1, BQFileUtils::getFileSize(P(p)));
    EXPECT_EQ(3032, BQFileUtils::createDirectory(P(p), false));
    EXPECT_EQ(3032, BQFileUtils::createDirectory(P(p), true));
    EXPECT_EQ(1, BQFileUtils::copyFile(P(t.path("src")), P(p)));
    EXPECT_EQ(1, BQFileUtils::copyFile(P(p), P(t.path("dst"))));
    EXPECT_FALSE(exists(t.path("dst")));
    EXPECT_EQ(1, BQFileUtils::moveFile(P(t.path("src")), P(p)));
    EXPECT_EQ(data, bqtest::TempTree::read(t.path("src")));
  }
}

// --- directory trees ---------------------------------------------------------

// Everything below `dir`, links not followed: relative path => "D", the
// file's bytes after "F", or the link's target after "L".
using Snapshot = std::map<std::string, std::string>;
Snapshot* g_snap;
std::size_t g_snapBase;
int snapEntry(const char* p, const struct stat* st, int type, struct FTW*) {
  std::string rel = std::string(p).substr(g_snapBase);
  if (type == FTW_D || type == FTW_DP)
    (*g_snap)[rel] = "D";
  else if (type == FTW_SL || type == FTW_SLN) {
    char buf[4096];
    ssize_t n = ::readlink(p, buf, sizeof buf);
    (*g_snap)[rel] = "L" + std::string(buf, std::size_t(n > 0 ? n : 0));
  } else
    (*g_snap)[rel] = S_ISREG(st->st_mode) ? "F" + bqtest::TempTree::read(p)
                                          : "?";
  return 0;
}
Snapshot snapshot(std::string const& dir) {
  Snapshot s;
  g_snap = &s;
  g_snapBase = dir.size();
  ::nftw(dir.c_str(), snapEntry, 32, FTW_PHYS);
  return s;
}

// A source tree with one large file among small ones.
void makeSource(bqtest::TempTree const& t, std::string const& rel) {
  t.mkdir(rel + "/d1/e");
  t.mkdir(rel + "/d2");
  t.write(rel + "/f1", content(1000, 1));
  t.write(rel + "/d1/g", content(2000, 2));
  t.write(rel + "/d1/e/h", "");
  t.write(rel + "/d2/big", content(300000, 3));
  t.write(rel + "/d2/small", content(10, 4));
}

// A write that fails in the middle of the large file: copyDirectory removes
// exactly what it created, moveDirectory leaves its source as it was.
TEST(RealFaults, WriteFailingInTreeCopyRollsBackOnlyItsOwn) {
  bqtest::TempTree t;
  OtherFs other(t.root());
  makeSource(t, "src");
  t.mkdir("old/d2");
  t.write("old/keep", "kept");
  t.write("old/d2/mine", "mine");
  Snapshot const src = snapshot(t.path("src")), old = snapshot(t.path("old"));
  EXPECT_EQ("", inChild([&]() -> std::string {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {100000, 100000};
    CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &rl) == 0);
    CHILD_CHECK(BQFileUtils::copyDirectory(P(t.path("src")),
                                           P(t.path("new/x"))) == 1);
    CHILD_CHECK(!exists(t.path("new/x")));
    CHILD_CHECK(BQFileUtils::copyDirectory(P(t.path("src")),
                                           P(t.path("old"))) == 1);
    CHILD_CHECK(snapshot(t.path("old")) == old);
    if (!other.dir.empty()) {
      CHILD_CHECK(BQFileUtils::moveDirectory(P(t.path("src")),
                                             P(other.dir + "/m")) == 3031);
      CHILD_CHECK(!exists(other.dir + "/m"));
    }
    CHILD_CHECK(snapshot(t.path("src")) == src);
    return "";
  }));
  if (other.dir.empty())
    std::printf("no second file system at /dev/shm: moveDirectory skipped\n");
}

// A chain of `depth` directories named "d" below `top`, built and removed
// with relative calls so that no full path has to fit in PATH_MAX. Each
// level may hold a file "f".
void buildChain(std::string const& top, int depth, bool files) {
  ::mkdir(top.c_str(), 0777);
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < depth && fd >= 0; ++i) {
    if (files)
      ::close(::openat(fd, "f", O_CREAT | O_WRONLY, 0666));
    ::mkdirat(fd, "d", 0777);
    int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
  }
  if (fd >= 0)
    ::close(fd);
}
// Peels the chain one level at a time: top/d moves up beside top, top goes.
void removeChain(std::string const& top) {
  std::string next = top + ".next";
  for (;;) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
      return;
    ::unlinkat(fd, "f", 0);
    bool more = ::renameat(fd, "d", AT_FDCWD, next.c_str()) == 0;
    ::close(fd);
    ::rmdir(top.c_str());
    if (!more || ::rename(next.c_str(), top.c_str()) != 0)
      return;
  }
}

// The sentinel next to every hostile tree: a directory outside it, reached
// from inside only through symbolic links.
struct Outside {
  std::string dir;
  Snapshot before;
  explicit Outside(bqtest::TempTree const& t) : dir(t.path("outside")) {
    t.mkdir("outside/sub");
    t.write("outside/sentinel", "sentinel");
    t.write("outside/sub/s2", "s2");
    before = snapshot(dir);
  }
  bool untouched() const { return snapshot(dir) == before; }
};

bool emptyDir(std::string const& path) {
  DIR* d = ::opendir(path.c_str());
  if (d == nullptr)
    return false;
  int n = 0;
  while (dirent* e = ::readdir(d))
    n += std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0;
  ::closedir(d);
  return n == 0;
}

// One thread adds and removes files, directories and links to the outside
// while others list, walk, copy and delete the same tree. In a child with
// an alarm, so that a hang fails instead of stalling the suite.
TEST(HostileTrees, TreeChangingWhileWalked) {
  bqtest::TempTree t;
  Outside out(t);
  makeSource(t, "tree");
  std::string tree = t.path("tree");
  EXPECT_EQ("", inChild([&]() -> std::string {
    ::alarm(60);
    std::atomic<int> working{3};
    std::atomic<int> bad{0};
    std::thread mutator([&] {
      for (int i = 0; working > 0; ++i) {
        std::string n = tree + "/m" + std::to_string(i % 7);
        ::mkdir(tree.c_str(), 0777);
        ::mkdir(n.c_str(), 0777);
        ::close(::open((n + "/f").c_str(), O_CREAT | O_WRONLY, 0666));
        ::symlink(out.dir.c_str(), (n + "/out").c_str());
        ::symlink((out.dir + "/sentinel").c_str(), (tree + "/l").c_str());
        if (i % 3 == 0)
          bqtest::removeTree(tree + "/m" + std::to_string((i + 3) % 7));
      }
    });
    auto worker = [&](int w) {
      std::string copy = t.path("copy" + std::to_string(w));
      for (int i = 0; i < 40; ++i) {
        std::vector<BQFileSpec> files, dirs;
        BQ_STATUS s = BQFileUtils::RecurseFiles(P(tree), files);
        if (s != 0 && s != 3033)
          ++bad;
        s = BQFileUtils::getContents(P(tree), files, dirs);
        if (s != 0 && s != 3033)
          ++bad;
        s = BQFileUtils::copyDirectory(P(tree), P(copy));
        if (s != 0 && s != 1 && s != 3032 && s != 3033)
          ++bad;
        // A failed copy leaves nothing, except the empty target made for a
        // source that vanished before it could be opened (3033).
        if (s != 0 && exists(copy) && !(s == 3033 && emptyDir(copy)))
          ++bad;
        bqtest::removeTree(copy);
        s = BQFileUtils::deleteDir(P(tree), w % 2 == 0);
        if (s != 0 && s != 3030 && s != 3033)
          ++bad;
      }
      --working;
    };
    std::thread w1(worker, 1), w2(worker, 2), w3(worker, 3);
    mutator.join();
    w1.join();
    w2.join();
    w3.join();
    CHILD_CHECK(bad == 0);
    CHILD_CHECK(out.untouched());
    return "";
  }));
  EXPECT_TRUE(out.untouched());
}

// 10,000 levels: deeper than any full path can reach. Every operation ends
// with one of its stated statuses; a failed copy leaves nothing; deleteDir
// removes nothing outside.
TEST(HostileTrees, TenThousandLevels) {
  bqtest::TempTree t;
  Outside out(t);
  std::string deep = t.path("deep");
  buildChain(deep, 10000, false);
  ::close(::open((deep + "/top").c_str(), O_CREAT | O_WRONLY, 0666));
  std::vector<BQFileSpec> files;
  BQ_STATUS s = BQFileUtils::RecurseFiles(P(deep), files);
  EXPECT_TRUE(s == 0 || s == 3033) << s;
  ASSERT_FALSE(files.empty());
  EXPECT_STREQ((deep + "/top").c_str(), files[0].utf8());
  s = BQFileUtils::copyDirectory(P(deep), P(t.path("copy")));
  EXPECT_TRUE(s == 0 || s == 1 || s == 3032 || s == 3033) << s;
  EXPECT_EQ(s == 0, exists(t.path("copy"))) << s;
  bqtest::removeTree(t.path("copy"));
  s = BQFileUtils::deleteDir(P(deep), true);
  EXPECT_TRUE(s == 0 || s == 3030 || s == 3033) << s;
  EXPECT_TRUE(out.untouched());
  ::unlink((deep + "/top").c_str());
  removeChain(deep);
  EXPECT_FALSE(exists(deep));
}

// 100,000 empty files in one directory: listed, walked and deleted in full.
TEST(HostileTrees, HundredThousandEntries) {
  bqtest::TempTree t;
  std::string many = t.path("many");
  ::mkdir(many.c_str(), 0777);
  int fd = ::open(many.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  // Hard links to two empty files: far quicker than creating 100,000 inodes,
  // and within the link count limit of common file systems.
  ::close(::openat(fd, "a", O_CREAT | O_WRONLY, 0666));
  ::close(::openat(fd, "b", O_CREAT | O_WRONLY, 0666));
  for (int i = 2; i < 100000; ++i)
    ASSERT_EQ(0, ::linkat(fd, i % 2 ? "a" : "b", fd,
                          std::to_string(i).c_str(), 0)) << i;
  ::close(fd);
  std::vector<BQFileSpec> files, dirs;
  ASSERT_EQ(0, BQFileUtils::getContents(P(many), files, dirs));
  EXPECT_EQ(100000u, files.size());
  EXPECT_TRUE(dirs.empty());
  files.clear();
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P(many), files));
  EXPECT_EQ(100000u, files.size());
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(many), true));
  EXPECT_FALSE(exists(many));
}

// Names that are not UTF-8 and names of 255 bytes in a tree are listed,
// copied and moved byte for byte.
TEST(HostileTrees, HostileNamesInTrees) {
  bqtest::TempTree t;
  OtherFs other(t.root());
  std::string const names[] = {"\xFF\xFE", "\xC3\x28_d", std::string(255, 'L'),
                               "\xED\xA0\x80"};
  t.mkdir("tree");
  for (std::string const& n : names) {
    t.mkdir("tree/" + n + "D");
    t.write("tree/" + n, n);
    t.write("tree/" + n + "D/" + n, n);
  }
  // 255 + "D" is too long: that directory and its file are missing.
  Snapshot const orig = snapshot(t.path("tree"));
  std::vector<BQFileSpec> files, dirs;
  ASSERT_EQ(0, BQFileUtils::getContents(P(t.path("tree")), files, dirs));
  std::set<std::string> listed, expected;
  for (auto const& f : files)
    listed.insert(f.utf8());
  for (std::string const& n : names)
    expected.insert(t.path("tree/" + n));
  EXPECT_EQ(expected, listed);
  EXPECT_EQ(3u, dirs.size());
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("tree")), P(t.path("c"))));
  EXPECT_EQ(orig, snapshot(t.path("c")));
  std::string dest = other.dir.empty() ? t.path("m") : other.dir + "/m";
  ASSERT_EQ(0, BQFileUtils::moveDirectory(P(t.path("c")), P(dest)));
  EXPECT_EQ(orig, snapshot(dest));
  EXPECT_FALSE(exists(t.path("c")));
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(dest), true));
  EXPECT_FALSE(exists(dest));
}

// A directory of the tree swapped for a link to the outside while deleteDir
// runs, the classic race of recursive removal.
TEST(HostileTrees, DirectorySwappedForLinkDuringDelete) {
  bqtest::TempTree t;
  Outside out(t);
  std::string tree = t.path("tree");
  EXPECT_EQ("", inChild([&]() -> std::string {
    ::alarm(60);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      for (int i = 0; !stop; ++i) {
        std::string s = tree + "/s" + std::to_string(i % 3);
        ::mkdir(tree.c_str(), 0777);
        ::rmdir(s.c_str());
        ::unlink(s.c_str());
        if ((i / 3) % 2)
          ::symlink(out.dir.c_str(), s.c_str());
        else
          ::mkdir(s.c_str(), 0777);
      }
    });
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end && out.untouched())
      BQFileUtils::deleteDir(P(tree), true);
    stop = true;
    swapper.join();
    CHILD_CHECK(out.untouched());
    return "";
  }));
}

} // namespace
