// A tree that changes while it is walked, and trees of great depth and width
// (suite Scale, labelled "slow"). The other real faults (a write failing in
// the middle of a file, a full device, too few descriptors, hostile names)
// are rows of the tree table in test_trees; test_fault_points fails single
// calls. Limits are lowered only in forked children.
#include "brackwell/fileUtils.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <fcntl.h>
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

// One thread adds and removes directories holding a file and a link outside,
// and swaps empty subdirectories for others or for links outside, while
// others list, walk, copy and delete the same tree: every status is one the
// operation states, a failed copy leaves nothing it made, and nothing
// outside is touched. In a child with an alarm, so that a hang fails.
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
        std::string const m = tree + "/m" + std::to_string(i % 7),
                          s = tree + "/s" + std::to_string(i % 3);
        ::mkdir(tree.c_str(), 0777);
        ::mkdir(m.c_str(), 0777);
        ::close(::open((m + "/f").c_str(), O_CREAT | O_WRONLY, 0666));
        ::symlink(out.c_str(), (m + "/out").c_str());
        if (i % 3 == 0)
          bqtest::removeTree(tree + "/m" + std::to_string((i + 3) % 7));
        ::rmdir(s.c_str()); // an empty directory swapped for another or a link
        ::unlink(s.c_str());
        if ((i / 3) % 2 == 0 || ::symlink(out.c_str(), s.c_str()) != 0)
          ::mkdir(s.c_str(), 0777);
      }
    });
    auto worker = [&](int w) {
      std::string const copy = t.path("copy" + std::to_string(w));
      auto const end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
      for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
        List files, dirs;
        bad += !oneOf(BQFileUtils::RecurseFiles(P(tree), files), {0, BQ_STS_DirectoryNotFound});
        bad += !oneOf(BQFileUtils::getContents(P(tree), files, dirs), {0, BQ_STS_DirectoryNotFound});
        BQ_STATUS const s = BQFileUtils::copyDirectory(P(tree), P(copy));
        bad += !oneOf(s, {0, BQ_STS_Failure, BQ_STS_DirectoryCreateFailed, BQ_STS_DirectoryNotFound});
        // Only a source that vanished before it could be opened leaves the
        // target made for it.
        bad += !oneOf(s, {0, BQ_STS_DirectoryNotFound}) && exists(copy);
        bqtest::removeTree(copy);
        bad += !oneOf(BQFileUtils::deleteDir(P(tree), (w + i) % 2 == 0),
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
// near the end); with 32 descriptors a copy, which holds a stream per
// level, fails and rolls back; with more it copies all that the listing
// sees. Levels are named with 63 bytes: deeper chains only cost time
// (removing directories is slow here).
TEST(Scale, DeeperThanPathsAndDescriptors) {
  bqtest::TempTree t;
  std::string const deep = t.path("deep"), copy = t.path("copy"), level(63, 'd');
  ::mkdir(deep.c_str(), 0777);
  int fd = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY);
  std::string dir = deep, last; // the deepest level that a path names
  for (; dir.size() < PATH_MAX + 32; dir += "/" + level) {
    std::size_t const len = dir.size();
    last = len < PATH_MAX ? dir : last;
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
  List files;
  EXPECT_EQ(0, BQFileUtils::RecurseFiles(P(deep), files));
  EXPECT_EQ(std::count_if(tree.begin(), tree.end(), [](auto const& e) { return e.second == ""; }),
            long(files.size()));
  rlimit lim;
  ::getrlimit(RLIMIT_NOFILE, &lim);
  for (rlim_t const cap : {rlim_t(32), lim.rlim_max})
    EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
      rlimit const r{cap, lim.rlim_max};
      CHILD_CHECK(::setrlimit(RLIMIT_NOFILE, &r) == 0);
      int const fds = bqtest::openFds();
      BQ_STATUS const s = BQFileUtils::copyDirectory(P(deep), P(copy));
      CHILD_CHECK(bqtest::openFds() == fds);
      if (cap == 32)
        CHILD_CHECK(oneOf(s, {BQ_STS_Failure, BQ_STS_DirectoryNotFound}) && !exists(copy));
      else
        CHILD_CHECK(s == 0 && snapshot(copy) == tree);
      return "";
    })) << cap;
  // A move target too long to name, or to climb from to the root, cannot be
  // placed: it is refused.
  for (std::string const& to : {std::string(PATH_MAX, 'x'), last})
    EXPECT_EQ(BQ_STS_DirectoryMoveFailed, BQFileUtils::moveDirectory(P(deep), P(to)));
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(copy), true));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(P(deep), true));
  std::string half = deep; // both halves fit a path, for the clean-up
  while (half.size() < PATH_MAX / 2)
    half += "/" + level;
  EXPECT_EQ(0, ::rename(half.c_str(), t.path("half").c_str()));
}

// 10,000 entries in one directory (hard links to two empty files, quicker
// than as many inodes), many times what one read of a directory returns:
// listed, walked and deleted in full.
TEST(Scale, TenThousandEntries) {
  bqtest::TempTree t;
  std::string const many = t.path("many");
  t.write("many/0", "");
  t.write("many/1", "");
  int const fd = ::open(many.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 2; i < 10000; ++i)
    ASSERT_EQ(0, ::linkat(fd, i % 2 ? "1" : "0", fd, std::to_string(i).c_str(), 0));
  ::close(fd);
  List files, dirs, all;
  ASSERT_EQ(0, BQFileUtils::getContents(P(many), files, dirs));
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P(many), all));
  EXPECT_EQ(10000u, files.size());
  EXPECT_TRUE(dirs.empty());
  EXPECT_EQ(10000u, all.size());
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(many), true));
  EXPECT_FALSE(exists(many));
}

} // namespace
