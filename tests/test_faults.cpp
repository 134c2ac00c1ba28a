// Faults made for real, one end-to-end test of each kind: a write that fails
// in the middle of a file, hostile names, a tree that changes while it is
// walked; and trees of great depth and width (suite Scale, labelled "slow").
// test_fault_points fails single calls; here the system does. Limits are
// lowered only in forked children.
#include "brackwell/fileUtils.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <thread>

using namespace Brackwell;
using bqtest::exists;
using bqtest::P;
using bqtest::Snap;
using bqtest::snapshot;
using List = std::vector<BQFileSpec>;

namespace {

bool oneOf(BQ_STATUS s, std::initializer_list<BQ_STATUS> ok) {
  return std::find(ok.begin(), ok.end(), s) != ok.end();
}

// The file size limit is reached while copies are still writing, and, for a
// file smaller than the stream buffer, only by the final flush: every one
// fails, the sources stay as they were and a failed tree copy removes
// exactly what it made. Across file systems (/dev/shm, when it is another)
// a move copies: it fails as the copy does, leaving no target, and moves
// the tree once the limit is lifted.
TEST(RealFaults, WriteFailingMidFile) {
  bqtest::TempTree t;
  t.write("src/big", bqtest::content(300000, 3));
  t.write("src/d/small", bqtest::content(5000, 4));
  t.write("src/d/e/f", "");
  t.write("old/keep", "kept");
  t.write("old/d/mine", "mine");
  struct stat a, b;
  char other[] = "/dev/shm/bqfault.XXXXXX";
  bool const cross = ::stat(t.root().c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 &&
                     a.st_dev != b.st_dev && ::mkdtemp(other);
  std::string const away = std::string(other) + "/t";
  Snap const src = snapshot(t.path("src")), old = snapshot(t.path("old"));
  EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
    std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
    struct Limit { // lifted again for what the child writes as it ends
      rlimit saved;
      ~Limit() { ::setrlimit(RLIMIT_FSIZE, &saved); }
    } limit;
    ::getrlimit(RLIMIT_FSIZE, &limit.saved);
    auto cap = [&](rlim_t n) {
      rlimit r{n, limit.saved.rlim_max};
      return ::setrlimit(RLIMIT_FSIZE, &r) == 0;
    };
    CHILD_CHECK(cap(100000));
    CHILD_CHECK(BQFileUtils::copyFile(P(t.path("src/big")), P(t.path("c1"))) == BQ_STS_Failure);
    CHILD_CHECK(BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("new/x"))) == BQ_STS_Failure);
    CHILD_CHECK(!exists(t.path("new/x")));
    CHILD_CHECK(BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("old"))) == BQ_STS_Failure);
    CHILD_CHECK(snapshot(t.path("old")) == old);
    CHILD_CHECK(cap(4196));
    CHILD_CHECK(BQFileUtils::copyFile(P(t.path("src/d/small")), P(t.path("c2"))) == BQ_STS_Failure);
    if (cross) {
      CHILD_CHECK(BQFileUtils::moveFile(P(t.path("src/d/small")), P(away + "f")) == BQ_STS_Failure);
      CHILD_CHECK(BQFileUtils::moveDirectory(P(t.path("src")), P(away)) == BQ_STS_DirectoryMoveFailed);
      CHILD_CHECK(!exists(away));
    }
    CHILD_CHECK(snapshot(t.path("src")) == src);
    return "";
  }));
  if (!cross)
    return (void)std::printf("no second file system at /dev/shm: moves not checked\n");
  EXPECT_EQ(0, BQFileUtils::moveDirectory(P(t.path("src")), P(away)));
  EXPECT_TRUE(src == snapshot(away));
  EXPECT_FALSE(exists(t.path("src")));
  bqtest::removeTree(other);
}

// Names that are not UTF-8, of the longest legal length, or beginning with
// "..", go through the single-file and the tree operations byte for byte.
// A directory whose name ends in a backslash: joining drops that separator,
// so its entries' paths name those of its namesake without one, and each
// operation works on those paths. x\ holds a, b and s; x holds a and s/g:
// a and s are listed as x/a and x/s, b is passed over.
TEST(HostileNames, KeptByteForByte) {
  bqtest::TempTree t;
  std::set<std::string> listed, expected;
  std::string const names[] = {"\xFF\xFE\x80", "\xC3\x28", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                               "..x", std::string(255, 'n')};
  for (std::string const& name : names) {
    std::string const path = t.path("tree/" + name), in = "tree/d" + name.substr(1) + "/" + name;
    t.write(in, name);
    expected.insert(path);
    ASSERT_EQ(0, BQFileUtils::touch(P(path))) << name.size();
    EXPECT_EQ(0, BQFileUtils::copyFile(P(t.path(in)), P(path)));
    EXPECT_EQ(0, BQFileUtils::moveFile(P(path), P(t.path("plain"))));
    EXPECT_EQ(0, BQFileUtils::moveFile(P(t.path("plain")), P(path)));
    EXPECT_EQ(name, bqtest::TempTree::read(path));
  }
  List files, dirs;
  ASSERT_EQ(0, BQFileUtils::getContents(P(t.path("tree")), files, dirs));
  for (BQFileSpec const& f : files)
    listed.insert(f.utf8());
  EXPECT_EQ(expected, listed);
  EXPECT_EQ(6u, dirs.size());
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("tree")), P(t.path("c"))));
  EXPECT_EQ(snapshot(t.path("tree")), snapshot(t.path("c")));
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(t.path("c")), true));
  EXPECT_FALSE(exists(t.path("c")));

  for (char const* f : {"x\\/a", "x\\/b", "x/a", "x/s/g", "src/f"})
    t.write(f, f);
  t.mkdir("x\\/s");
  std::string const xb = t.path("x\\");
  files.clear();
  dirs.clear();
  List walk;
  EXPECT_EQ(0, BQFileUtils::getContents(P(xb), files, dirs));
  EXPECT_EQ(0, BQFileUtils::RecurseFiles(P(xb), walk));
  EXPECT_EQ(t.path("x/a") + " " + t.path("x/s") + " " + t.path("x/a") + " " + t.path("x/s/g"),
            bqtest::str(files.at(0)) + " " + bqtest::str(dirs.at(0)) + " " +
                bqtest::str(walk.at(0)) + " " + bqtest::str(walk.at(1)));
  EXPECT_EQ(4u, files.size() + dirs.size() + walk.size());
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(xb), P(t.path("c"))));
  EXPECT_EQ((Snap{{"/a", "x/a"}, {"/s", "<dir>"}, {"/s/g", "x/s/g"}}), snapshot(t.path("c")));
  // Into o\, whose joined paths name the missing o: the copy fails and is
  // rolled back.
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("o\\"))));
  EXPECT_FALSE(exists(t.path("o\\")));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(P(xb), true));
  EXPECT_EQ((Snap{{"/a", "x\\/a"}, {"/b", "x\\/b"}, {"/s", "<dir>"}}), snapshot(xb));
  EXPECT_EQ(Snap{}, snapshot(t.path("x")));
}

// One thread adds and removes files, directories and links to the outside,
// and swaps subdirectories for such links, while others list, walk, copy
// and delete the same tree: every status is one the operation states, a
// failed copy leaves nothing it made, and nothing outside is touched. In a
// child with an alarm, so that a hang fails instead of stalling the suite.
TEST(HostileTrees, TreeChangingWhileWalked) {
  bqtest::TempTree t;
  t.write("outside/sub/s2", "s2");
  t.write("tree/d1/f", "f");
  std::string const tree = t.path("tree"), out = t.path("outside");
  Snap const outside = snapshot(out);
  EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
    ::alarm(60);
    std::atomic<int> working{3}, bad{0};
    std::thread mutator([&] {
      for (int i = 0; working > 0; ++i) {
        std::string const n = tree + "/m" + std::to_string(i % 7),
                          s = tree + "/s" + std::to_string(i % 3);
        ::mkdir(tree.c_str(), 0777);
        ::mkdir(n.c_str(), 0777);
        ::close(::open((n + "/f").c_str(), O_CREAT | O_WRONLY, 0666));
        ::symlink(out.c_str(), (n + "/out").c_str());
        if (i % 3 == 0)
          bqtest::removeTree(tree + "/m" + std::to_string((i + 3) % 7));
        ::rmdir(s.c_str());
        ::unlink(s.c_str());
        if ((i / 3) % 2)
          ::symlink(out.c_str(), s.c_str());
        else
          ::mkdir(s.c_str(), 0777);
      }
    });
    auto worker = [&](int w) {
      std::string const copy = t.path("copy" + std::to_string(w));
      for (int i = 0; i < 40; ++i) {
        List files, dirs;
        bad += !oneOf(BQFileUtils::RecurseFiles(P(tree), files), {0, BQ_STS_DirectoryNotFound});
        bad += !oneOf(BQFileUtils::getContents(P(tree), files, dirs), {0, BQ_STS_DirectoryNotFound});
        BQ_STATUS const s = BQFileUtils::copyDirectory(P(tree), P(copy));
        bad += !oneOf(s, {0, BQ_STS_Failure, BQ_STS_DirectoryCreateFailed, BQ_STS_DirectoryNotFound});
        // Only a source that vanished before it could be opened leaves the
        // target made for it.
        bad += !oneOf(s, {0, BQ_STS_DirectoryNotFound}) && exists(copy);
        bqtest::removeTree(copy);
        bad += !oneOf(BQFileUtils::deleteDir(P(tree), w % 2 == 0),
                      {0, BQ_STS_FileDeleteFailed, BQ_STS_DirectoryNotFound});
      }
      --working;
    };
    std::thread w1(worker, 1), w2(worker, 2), w3(worker, 3);
    for (std::thread* th : {&mutator, &w1, &w2, &w3})
      th->join();
    CHILD_CHECK(bad == 0);
    CHILD_CHECK(snapshot(out) == outside);
    return "";
  }));
  EXPECT_EQ(outside, snapshot(out));
}

// A chain of directories, each holding a file "f", deeper than a path can
// name and than the descriptors a copy may hold: entries whose joined path
// reaches PATH_MAX bytes are passed over by every listing, one byte shorter
// they are listed (a file and a directory of each length stand at one level
// near the end); with 128 descriptors a copy, which holds a stream per
// level, fails and rolls back; with more it copies all that the listing
// sees. Levels are named with 15 bytes: deeper chains only cost time.
TEST(Scale, DeeperThanPathsAndDescriptors) {
  bqtest::TempTree t;
  std::string const deep = t.path("deep"), copy = t.path("copy"), level(15, 'd');
  ::mkdir(deep.c_str(), 0777);
  int fd = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY);
  for (std::size_t len = deep.size(); len < PATH_MAX + 32; len += level.size() + 1) {
    ::close(::openat(fd, "f", O_CREAT | O_WRONLY, 0666));
    if (PATH_MAX - len <= 256 && PATH_MAX - len > 256 - level.size() - 1)
      for (std::size_t n : {PATH_MAX - 2 - len, PATH_MAX - 1 - len}) { // len + 1 + n
        ::close(::openat(fd, std::string(n, 'f').c_str(), O_CREAT | O_WRONLY, 0666));
        ::mkdirat(fd, std::string(n, 's').c_str(), 0777);
      }
    ::mkdirat(fd, level.c_str(), 0777);
    int const next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
  }
  ::close(fd);
  Snap const tree = snapshot(deep); // what a path reaches
  std::set<std::string> want, got;
  for (auto const& e : tree)
    if (e.second != "<dir>")
      want.insert(deep + e.first);
  List files;
  EXPECT_EQ(0, BQFileUtils::RecurseFiles(P(deep), files));
  for (BQFileSpec const& f : files)
    got.insert(f.utf8());
  EXPECT_EQ(files.size(), got.size());
  EXPECT_TRUE(want == got) << want.size() << " files reached, " << got.size() << " listed";
  rlimit lim;
  ::getrlimit(RLIMIT_NOFILE, &lim);
  for (rlim_t const cap : {rlim_t(128), lim.rlim_max})
    EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
      rlimit const r{cap, lim.rlim_max};
      CHILD_CHECK(::setrlimit(RLIMIT_NOFILE, &r) == 0);
      int const fds = bqtest::openFds();
      BQ_STATUS const s = BQFileUtils::copyDirectory(P(deep), P(copy));
      CHILD_CHECK(bqtest::openFds() == fds);
      if (cap == 128)
        CHILD_CHECK(oneOf(s, {BQ_STS_Failure, BQ_STS_DirectoryNotFound}) && !exists(copy));
      else
        CHILD_CHECK(s == 0 && snapshot(copy) == tree);
      return "";
    })) << cap;
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(copy), true));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(P(deep), true));
  std::string half = deep; // both halves fit a path, for the clean-up
  while (half.size() < PATH_MAX / 2)
    half += "/" + level;
  EXPECT_EQ(0, ::rename(half.c_str(), t.path("half").c_str()));
}

// 20,000 entries in one directory (hard links to two empty files, quicker
// than as many inodes), many times what one read of a directory returns:
// listed, walked and deleted in full.
TEST(Scale, TwentyThousandEntries) {
  bqtest::TempTree t;
  std::string const many = t.path("many");
  t.write("many/0", "");
  t.write("many/1", "");
  int const fd = ::open(many.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 2; i < 20000; ++i)
    ASSERT_EQ(0, ::linkat(fd, i % 2 ? "1" : "0", fd, std::to_string(i).c_str(), 0));
  ::close(fd);
  List files, dirs, all;
  ASSERT_EQ(0, BQFileUtils::getContents(P(many), files, dirs));
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P(many), all));
  std::set<std::string> names;
  for (BQFileSpec const& f : files)
    names.insert(f.utf8());
  EXPECT_EQ(20000u, names.size()); // each entry once, as a file
  EXPECT_EQ(names.size(), files.size() + dirs.size());
  EXPECT_EQ(names.size(), all.size());
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(many), true));
  EXPECT_FALSE(exists(many));
}

} // namespace
