// Tests of the directory-tree operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "brackwell/utilTokenizer.h"
#include "support/alloc_fault.h"
#include "support/fs_util.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using Brackwell::BQFileSpec;
using Brackwell::BQFileUtils;
using Brackwell::BQUtilException;
using List = std::vector<BQFileSpec>;

using bqtest::exists;
using bqtest::openFds;
using bqtest::P;

namespace {

std::vector<std::string> names(List const& l) {
  std::vector<std::string> out;
  for (auto const& p : l)
    out.push_back(p.utf8());
  return out;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The tree below `root` as relative path => contents ("<dir>", "<link>",
// "<other>"), read without the library and without following links.
void snap(std::string const& root, std::string const& rel,
          std::map<std::string, std::string>& out) {
  DIR* d = ::opendir((root + rel).c_str());
  if (d == nullptr)
    return;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..")
      continue;
    std::string r = rel + "/" + n;
    struct stat st;
    ::lstat((root + r).c_str(), &st);
    if (S_ISDIR(st.st_mode)) {
      out[r] = "<dir>";
      snap(root, r, out);
    } else if (S_ISREG(st.st_mode)) {
      out[r] = bqtest::TempTree::read(root + r);
    } else {
      out[r] = S_ISLNK(st.st_mode) ? "<link>" : "<other>";
    }
  }
  ::closedir(d);
}

std::map<std::string, std::string> snapshot(std::string const& root) {
  std::map<std::string, std::string> out;
  snap(root, "", out);
  return out;
}

// As user 65534 in a tree whose root that user may write to.
template <class F> int asNobodyOpenRoot(bqtest::TempTree const& t, F body) {
  return bqtest::asNobody(t, body, 0777);
}

// A tree with every kind of entry the listing rule distinguishes.
void populate(bqtest::TempTree const& t) {
  t.mkdir("r/sub/deep");
  t.write("r/f", "file f");
  t.write("r/.hidden", "dot");
  t.write("r/sub/g", "file g");
  t.write("r/sub/deep/h", std::string(5000, 'h'));
  t.mkdir("outside");
  t.write("outside/o", "outside file");
  ::symlink(t.path("outside").c_str(), t.path("r/dirlink").c_str());
  ::symlink(t.path("outside/o").c_str(), t.path("r/filelink").c_str());
  ::symlink(t.path("missing").c_str(), t.path("r/dangling").c_str());
  ::mkfifo(t.path("r/fifo").c_str(), 0600);
}

} // namespace

TEST(GetContents, ListingRuleClassifiesByTarget) {
  bqtest::TempTree t;
  populate(t);
  List files{P("keep")}, dirs{P("keep1"), P("keep2")};
  ASSERT_EQ(0, BQFileUtils::getContents(P(t.path("r")), files, dirs));
  ASSERT_GE(files.size(), 1u);
  ASSERT_GE(dirs.size(), 2u);
  EXPECT_STREQ("keep", files[0].utf8());
  EXPECT_STREQ("keep2", dirs[1].utf8());
  std::string r = t.path("r/");
  EXPECT_EQ(sorted({"keep", r + ".hidden", r + "f", r + "filelink"}),
            sorted(names(files)));
  EXPECT_EQ(sorted({"keep1", "keep2", r + "dirlink", r + "sub"}),
            sorted(names(dirs)));
}

// Entries whose joined path reaches PATH_MAX bytes cannot be read by stat()
// and are passed over by every listing; one byte shorter they are listed.
// The deep directory is made descriptor-relative, below any path limit.
TEST(GetContents, EntriesBeyondPathMaxArePassedOver) {
  bqtest::TempTree t;
  int fd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::string dir = t.root();
  std::string const level(100, 'd');
  while (dir.size() + level.size() + 1 <= PATH_MAX - 100) {
    ASSERT_EQ(0, ::mkdirat(fd, level.c_str(), 0777));
    int sub = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(sub, 0);
    fd = sub;
    dir += "/" + level;
  }
  // dir + "/" + name: PATH_MAX - 1 bytes (listed) and PATH_MAX (passed over).
  std::string const fits(PATH_MAX - 1 - dir.size() - 1, 'f');
  std::string const over(PATH_MAX - dir.size() - 1, 'o');
  ASSERT_LE(over.size(), 255u);
  for (std::string const* n : {&fits, &over})
    ::close(::openat(fd, n->c_str(), O_CREAT | O_WRONLY, 0666));
  std::string const overDir = "s" + over.substr(1);
  ASSERT_EQ(0, ::mkdirat(fd, overDir.c_str(), 0777));
  List files, dirs;
  ASSERT_EQ(0, BQFileUtils::getContents(P(dir), files, dirs));
  EXPECT_EQ(std::vector<std::string>{dir + "/" + fits}, names(files));
  EXPECT_TRUE(dirs.empty());
  files.clear();
  EXPECT_EQ(0, BQFileUtils::RecurseFiles(P(dir), files));
  EXPECT_EQ(std::vector<std::string>{dir + "/" + fits}, names(files));
  // The copy holds what the listing saw; deleteDir cannot remove the entries
  // it passes over, so the directory stays (3030).
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(dir), P(t.path("copy"))));
  EXPECT_TRUE(exists(t.path("copy/" + fits)));
  EXPECT_FALSE(exists(t.path("copy/" + over)));
  EXPECT_EQ(3030, BQFileUtils::deleteDir(P(dir), true));
  EXPECT_FALSE(exists(dir + "/" + fits));
  // What no path reaches is removed here, so that the tree can go.
  EXPECT_EQ(0, ::unlinkat(fd, over.c_str(), 0));
  EXPECT_EQ(0, ::unlinkat(fd, overDir.c_str(), AT_REMOVEDIR));
  ::close(fd);
}

TEST(GetContents, FailuresAppendNothing) {
  bqtest::TempTree t;
  t.write("file", "x");
  t.mkdir("empty");
  struct Case { std::string rel; int status; } cases[] = {
      {"empty", 0}, {"file", 3033}, {"missing", 3033}};
  for (auto const& c : cases) {
    List files{P("a")}, dirs;
    EXPECT_EQ(c.status, BQFileUtils::getContents(P(t.path(c.rel)), files, dirs))
        << c.rel;
    EXPECT_EQ(1u, files.size()) << c.rel;
    EXPECT_TRUE(dirs.empty()) << c.rel;
  }
  List f, d;
  EXPECT_EQ(3033, BQFileUtils::getContents(BQFileSpec(), f, d));
  // Relative directory gives relative entries.
  char old[4096];
  ASSERT_NE(nullptr, ::getcwd(old, sizeof old));
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  EXPECT_EQ(0, BQFileUtils::getContents(P("."), f, d));
  ASSERT_EQ(0, ::chdir(old));
  EXPECT_EQ(std::vector<std::string>{"./file"}, names(f));
  EXPECT_EQ(std::vector<std::string>{"./empty"}, names(d));
}

TEST(GetContents, UnreadableDirectoryAsNobody) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user";
  bqtest::TempTree t;
  t.mkdir("locked");
  t.write("locked/f", "x");
  ::chmod(t.path("locked").c_str(), 0311); // searchable, not readable
  int rc = asNobodyOpenRoot(t, [&] {
    List f, d;
    int st = BQFileUtils::getContents(P(t.path("locked")), f, d);
    return st == 3033 && f.empty() ? 0 : 1;
  });
  EXPECT_EQ(0, rc);
}

TEST(RecurseFiles, PreOrderAndFailureKeepsWhatWasFound) {
  bqtest::TempTree t;
  t.mkdir("root/d1");
  t.mkdir("root/d2");
  t.write("root/f1", "1");
  t.write("root/f2", "2");
  t.write("root/d1/g1", "g");
  t.write("root/d2/h1", "h");
  List files{P("pre")}, sub, subdirs;
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P(t.path("root")), files));
  ASSERT_EQ(0, BQFileUtils::getContents(P(t.path("root")), sub, subdirs));
  ASSERT_EQ(5u, files.size());
  EXPECT_STREQ("pre", files[0].utf8());
  std::string r = t.path("root/");
  EXPECT_EQ(sorted({r + "f1", r + "f2"}),
            sorted({files[1].utf8(), files[2].utf8()}));
  // Subtrees follow in the order in which the directories are listed.
  bool d1First = std::string(subdirs[0].utf8()) == r + "d1";
  EXPECT_EQ(d1First ? r + "d1/g1" : r + "d2/h1", files[3].utf8());
  EXPECT_EQ(d1First ? r + "d2/h1" : r + "d1/g1", files[4].utf8());

  List none;
  EXPECT_EQ(3033, BQFileUtils::RecurseFiles(P(t.path("root/f1")), none));
  EXPECT_TRUE(none.empty());
}

TEST(RecurseFiles, LinkCycleEndsButOtherLinksAreFollowed) {
  bqtest::TempTree t;
  t.mkdir("r/a/b");
  t.mkdir("r/c");
  t.write("r/a/b/x", "x");
  t.write("r/c/y", "y");
  ::symlink(t.path("r").c_str(), t.path("r/a/b/up").c_str()); // cycle
  ::symlink(t.path("r/c").c_str(), t.path("r/a/toc").c_str()); // no cycle
  List files;
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P(t.path("r")), files));
  std::string r = t.path("r/");
  EXPECT_EQ(sorted({r + "a/b/x", r + "a/toc/y", r + "c/y"}),
            sorted(names(files)));
}

TEST(RecurseFiles, UnreadableSubdirectoryAsNobody) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user";
  bqtest::TempTree t;
  t.mkdir("r/locked");
  t.write("r/f", "x");
  ::chmod(t.path("r").c_str(), 0755);
  ::chmod(t.path("r/locked").c_str(), 0311);
  int rc = asNobodyOpenRoot(t, [&] {
    List f;
    int st = BQFileUtils::RecurseFiles(P(t.path("r")), f);
    return st == 3033 && names(f) == std::vector<std::string>{t.path("r/f")}
               ? 0 : 1;
  });
  EXPECT_EQ(0, rc);
}

TEST(DeleteDir, NotRecursive) {
  bqtest::TempTree t;
  t.mkdir("empty");
  t.mkdir("full");
  t.write("full/f", "x");
  struct Case { std::string rel; int status; bool gone; } cases[] = {
      {"empty", 0, true}, {"full", 3030, false}, {"missing", 3030, true}};
  for (auto const& c : cases) {
    EXPECT_EQ(c.status, BQFileUtils::deleteDir(P(t.path(c.rel)), false)) << c.rel;
    EXPECT_EQ(c.gone, !exists(t.path(c.rel))) << c.rel;
  }
  EXPECT_TRUE(exists(t.path("full/f")));
  EXPECT_EQ(3030, BQFileUtils::deleteDir(BQFileSpec(), false));
}

TEST(DeleteDir, RecursiveNeverLeavesTheTreeThroughLinks) {
  bqtest::TempTree t;
  populate(t);
  ::unlink(t.path("r/dangling").c_str());
  ::unlink(t.path("r/fifo").c_str());
  auto outside = snapshot(t.path("outside"));
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(t.path("r")), true));
  EXPECT_FALSE(exists(t.path("r")));
  EXPECT_EQ(outside, snapshot(t.path("outside")));
  EXPECT_EQ(1u, outside.size());
}

TEST(DeleteDir, RecursiveLeavesFifoAndDanglingLink) {
  bqtest::TempTree t;
  t.mkdir("a");
  t.write("a/f", "x");
  ::mkfifo(t.path("a/fifo").c_str(), 0600);
  t.mkdir("b/sub");
  ::symlink(t.path("none").c_str(), t.path("b/sub/dangling").c_str());
  t.write("b/g", "x");
  EXPECT_EQ(3030, BQFileUtils::deleteDir(P(t.path("a")), true));
  EXPECT_FALSE(exists(t.path("a/f")));
  EXPECT_TRUE(exists(t.path("a/fifo")));
  // The failing subdirectory stops the walk before the parent's files.
  EXPECT_EQ(3030, BQFileUtils::deleteDir(P(t.path("b")), true));
  EXPECT_TRUE(exists(t.path("b/sub/dangling")));
  EXPECT_TRUE(exists(t.path("b/g")));
  for (std::string rel : {"missing", "b/g"})
    EXPECT_EQ(3033, BQFileUtils::deleteDir(P(t.path(rel)), true)) << rel;
  EXPECT_TRUE(exists(t.path("b/g")));
}

TEST(DeleteDir, RecursiveWithoutPermissionAsNobody) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user";
  bqtest::TempTree t;
  t.mkdir("r/ro");
  t.mkdir("r/locked");
  t.write("r/ro/f", "x");
  ::chmod(t.path("r").c_str(), 0777);
  ::chmod(t.path("r/ro").c_str(), 0555);       // cannot unlink inside
  ::chmod(t.path("r/locked").c_str(), 0333);   // cannot list
  int rc = asNobodyOpenRoot(t, [&] {
    int a = BQFileUtils::deleteDir(P(t.path("r/ro")), true);
    int b = BQFileUtils::deleteDir(P(t.path("r/locked")), true);
    return a == 3030 && b == 3033 ? 0 : 1;
  });
  EXPECT_EQ(0, rc);
  EXPECT_TRUE(exists(t.path("r/ro/f")));
}

TEST(CopyDirectory, CopiesFilesAndDirectoriesFollowingLinks) {
  bqtest::TempTree t;
  populate(t);
  std::string dst = t.path("new/parents/copy");
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("r")), P(dst)));
  std::map<std::string, std::string> want = {
      {"/.hidden", "dot"},  {"/f", "file f"},
      {"/filelink", "outside file"},
      {"/dirlink", "<dir>"}, {"/dirlink/o", "outside file"},
      {"/sub", "<dir>"},   {"/sub/g", "file g"},
      {"/sub/deep", "<dir>"}, {"/sub/deep/h", std::string(5000, 'h')}};
  EXPECT_EQ(want, snapshot(dst));
}

TEST(CopyDirectory, StatusesAndRollbackOfANewTarget) {
  bqtest::TempTree t;
  t.write("file", "x");
  t.mkdir("src/a/b");
  t.mkdir("src/x");
  t.write("src/a/b/f", "f");
  t.write("blocker/x", "a file where a directory must go");
  EXPECT_EQ(3033, BQFileUtils::copyDirectory(P(t.path("file")), P(t.path("t1"))));
  EXPECT_EQ(3033, BQFileUtils::copyDirectory(P(t.path("none")), P(t.path("t1"))));
  EXPECT_FALSE(exists(t.path("t1")));
  EXPECT_EQ(3032, BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("file"))));
  EXPECT_EQ(3032, BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("file/t"))));
  EXPECT_EQ("x", bqtest::TempTree::read(t.path("file")));
  // A nested directory blocked by a file: 3032, and only the pre-existing
  // file remains in the target.
  auto before = snapshot(t.path("blocker"));
  EXPECT_EQ(3032, BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("blocker"))));
  EXPECT_EQ(before, snapshot(t.path("blocker")));
}

TEST(CopyDirectory, RollbackIntoExistingTargetKeepsItsEntries) {
  bqtest::TempTree t;
  t.mkdir("src/d");
  t.mkdir("src/e");
  t.write("src/a", "new a");
  t.write("src/d/x", "x");
  t.write("src/e/y", "y");
  t.write("src/z", std::string(200000, 'z'));
  t.mkdir("dst/d");
  t.write("dst/a", "old a");
  t.write("dst/d/keep", "keep");
  // Writing "z" fails on /dev/full, after or before the other entries.
  ASSERT_EQ(0, ::symlink("/dev/full", t.path("dst/z").c_str()));
  EXPECT_EQ(1, BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("dst"))));
  auto after = snapshot(t.path("dst"));
  EXPECT_EQ(0u, after.count("/d/x"));
  EXPECT_EQ(0u, after.count("/e"));
  EXPECT_EQ("keep", after["/d/keep"]);
  EXPECT_EQ("<link>", after["/z"]);
  // "a" existed: it stays, overwritten or not depending on listing order.
  EXPECT_TRUE(after["/a"] == "old a" || after["/a"] == "new a");
  EXPECT_EQ(4u, after.size());
}

TEST(CopyDirectory, UnreadableEntriesAsNobodyLeaveNoTarget) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user";
  bqtest::TempTree t;
  t.mkdir("src/locked");
  t.mkdir("src2/deep");
  t.write("src/ok", "ok");
  t.write("src/secret", "s");
  t.write("src2/deep/f", "f");
  t.mkdir("src2/deep/locked");
  ::chmod(t.path("src").c_str(), 0755);
  ::chmod(t.path("src2").c_str(), 0755);
  ::chmod(t.path("src2/deep").c_str(), 0755);
  ::chmod(t.path("src/secret").c_str(), 0600);
  ::chmod(t.path("src2/deep/locked").c_str(), 0311);
  int rc = asNobodyOpenRoot(t, [&] {
    int a = BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("out/t")));
    int b = BQFileUtils::copyDirectory(P(t.path("src2")), P(t.path("t2")));
    // Another parent: rename() needs write access to the source itself.
    int c = BQFileUtils::moveDirectory(P(t.path("src")), P(t.path("out/t3")));
    return (a == 1 ? 0 : 1) | (b == 3033 ? 0 : 2) | (c == 3031 ? 0 : 4);
  });
  EXPECT_EQ(0, rc);
  EXPECT_FALSE(exists(t.path("out/t")));
  EXPECT_TRUE(exists(t.path("out"))); // made ancestors stay
  EXPECT_FALSE(exists(t.path("t2")));
  EXPECT_FALSE(exists(t.path("out/t3")));
  EXPECT_EQ("s", bqtest::TempTree::read(t.path("src/secret")));
  EXPECT_EQ("ok", bqtest::TempTree::read(t.path("src/ok")));
}

TEST(CopyDirectory, CyclesAndCopiesIntoItselfStayBounded) {
  bqtest::TempTree t;
  t.mkdir("r/a");
  t.write("r/a/f", "f");
  ::symlink(t.path("r").c_str(), t.path("r/a/loop").c_str());
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("r")), P(t.path("c"))));
  std::map<std::string, std::string> want = {{"/a", "<dir>"}, {"/a/f", "f"}};
  EXPECT_EQ(want, snapshot(t.path("c")));
  // The new target inside the source is not copied into itself.
  ::unlink(t.path("r/a/loop").c_str());
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("r")), P(t.path("r/a/in"))));
  auto s = snapshot(t.path("r"));
  EXPECT_EQ("f", s["/a/in/a/f"]);
  EXPECT_LE(s.size(), 6u);
}

TEST(CopyDirectory, DeeperThanDescriptorLimitFailsAndRollsBack) {
  bqtest::TempTree t;
  std::string rel = "src";
  for (int i = 0; i < 40; ++i)
    rel += "/d";
  t.mkdir(rel);
  t.write(rel + "/leaf", "leaf");
  pid_t pid = ::fork();
  if (pid == 0) {
    struct rlimit lim = {24, 24};
    if (::setrlimit(RLIMIT_NOFILE, &lim) != 0)
      ::_exit(10);
    int before = openFds();
    int st = BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("dst")));
    int code = (st == 3033 || st == 1) ? 0 : 1;
    code |= exists(t.path("dst")) ? 2 : 0;
    code |= openFds() != before ? 4 : 0;
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(MoveDirectory, RenameCrossFileSystemAndFailures) {
  bqtest::TempTree t;
  t.mkdir("a/s");
  t.write("a/s/f", "f");
  t.write("file", "x");
  struct stat before, after;
  ::stat(t.path("a").c_str(), &before);
  EXPECT_EQ(0, BQFileUtils::moveDirectory(P(t.path("a")), P(t.path("b"))));
  ::stat(t.path("b").c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_FALSE(exists(t.path("a")));
  EXPECT_EQ(3033, BQFileUtils::moveDirectory(P(t.path("file")), P(t.path("c"))));
  EXPECT_EQ(3033, BQFileUtils::moveDirectory(P(t.path("a")), P(t.path("c"))));
  // rename refused (target is a file), copy refused too: 3031, source kept.
  auto src = snapshot(t.path("b"));
  EXPECT_EQ(3031, BQFileUtils::moveDirectory(P(t.path("b")), P(t.path("file"))));
  EXPECT_EQ(src, snapshot(t.path("b")));
  EXPECT_EQ(3031, BQFileUtils::moveDirectory(P(t.path("b")), BQFileSpec()));
  EXPECT_EQ(src, snapshot(t.path("b")));
  // A non-empty target refuses rename; the copy merges into it.
  t.write("m/old", "o");
  EXPECT_EQ(0, BQFileUtils::moveDirectory(P(t.path("b")), P(t.path("m"))));
  EXPECT_FALSE(exists(t.path("b")));
  EXPECT_EQ("f", bqtest::TempTree::read(t.path("m/s/f")));
  EXPECT_EQ("o", bqtest::TempTree::read(t.path("m/old")));
}

TEST(MoveDirectory, AcrossFileSystemsCopiesAndDeletes) {
  bqtest::TempTree t;
  struct stat a, b;
  char dir[] = "/dev/shm/bqtrees.XXXXXX";
  if (::stat(t.root().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 ||
      a.st_dev == b.st_dev || !::mkdtemp(dir))
    GTEST_SKIP() << "no second file system at /dev/shm";
  t.mkdir("s/d");
  t.write("s/d/f", std::string(3000, 'q'));
  auto src = snapshot(t.path("s"));
  std::string there = std::string(dir) + "/moved";
  EXPECT_EQ(0, BQFileUtils::moveDirectory(P(t.path("s")), P(there)));
  EXPECT_FALSE(exists(t.path("s")));
  EXPECT_EQ(src, snapshot(there));
  bqtest::removeTree(dir);
}

TEST(TreesAlloc, ListsOnlyGrowAndNothingStrayIsLeft) {
  bqtest::TempTree t;
  t.mkdir("r/a/b");
  t.write("r/f", "f");
  t.write("r/a/g", "g");
  t.write("r/a/b/h", "h");
  t.mkdir("pre/a");
  t.write("pre/keep", "k");
  auto pre = snapshot(t.path("pre"));
  long points = 0;
  auto expectOom = [](BQUtilException const& e) {
    EXPECT_TRUE(bqtest::failureInjected());
    EXPECT_EQ(8, e.code);
  };
  // Everything the harness must not see is built before it is armed.
  BQFileSpec r = P(t.path("r")), prePath = P(t.path("pre"));
  std::string fresh = t.path("fresh/copy");
  BQFileSpec freshPath = P(fresh);
  List files{P("x")}, dirs{P("y")};
  points += bqtest::forEachAllocFailure([&] {
    try {
      EXPECT_EQ(0, BQFileUtils::getContents(r, files, dirs));
      EXPECT_EQ(2u, files.size());
    } catch (BQUtilException const& e) { expectOom(e); }
    EXPECT_STREQ("x", files.at(0).utf8());
    EXPECT_STREQ("y", dirs.at(0).utf8());
    files.resize(1); // the harness counts blocks before and after each run
    dirs.resize(1);
  });
  points += bqtest::forEachAllocFailure([&] {
    try {
      EXPECT_EQ(0, BQFileUtils::RecurseFiles(r, files));
      EXPECT_EQ(4u, files.size());
    } catch (BQUtilException const& e) { expectOom(e); }
    EXPECT_STREQ("x", files.at(0).utf8());
    files.resize(1);
  });
  files.clear();
  dirs.clear();
  points += bqtest::forEachAllocFailure([&] {
    try {
      BQ_STATUS st = BQFileUtils::copyDirectory(r, freshPath);
      // A copy buffer that cannot be had is a status, not an exception.
      EXPECT_EQ(bqtest::failureInjected() ? 8 : 0, st);
      if (st == 0)
        EXPECT_EQ(snapshot(t.path("r")), snapshot(fresh));
      else
        EXPECT_FALSE(exists(fresh));
      bqtest::removeTree(fresh);
    } catch (BQUtilException const& e) {
      expectOom(e);
      EXPECT_FALSE(exists(fresh));
    }
  });
  points += bqtest::forEachAllocFailure([&] {
    try {
      BQ_STATUS st = BQFileUtils::copyDirectory(r, prePath);
      EXPECT_EQ(bqtest::failureInjected() ? 8 : 0, st);
      if (st == 0)
        EXPECT_EQ(6u, snapshot(t.path("pre")).size());
      else
        EXPECT_EQ(pre, snapshot(t.path("pre")));
    } catch (BQUtilException const& e) {
      expectOom(e);
      EXPECT_EQ(pre, snapshot(t.path("pre")));
    }
    bqtest::removeTree(t.path("pre"));
    t.mkdir("pre/a");
    t.write("pre/keep", "k");
  });
  BQFileSpec del = P(t.path("del"));
  points += bqtest::forEachAllocFailure([&] {
    t.mkdir("del/a/b");
    t.write("del/f", "f");
    t.write("del/a/b/g", "g");
    try {
      EXPECT_EQ(0, BQFileUtils::deleteDir(del, true));
      EXPECT_FALSE(exists(t.path("del")));
    } catch (BQUtilException const& e) { expectOom(e); }
  });
  EXPECT_GT(points, 10);
  std::printf("tree operations: %ld allocation-failure points\n", points);
}

TEST(MoveDirectory, IntoItsOwnSubtreeIsRefusedAndCopiesNothing) {
  bqtest::TempTree t;
  t.mkdir("a/sub");
  t.write("a/sub/f", "f");
  auto before = snapshot(t.path("a"));
  for (std::string rel : {"a/new", "a/sub/x/y", "a/sub"}) {
    EXPECT_EQ(3031, BQFileUtils::moveDirectory(P(t.path("a")), P(t.path(rel))))
        << rel;
    EXPECT_EQ(before, snapshot(t.path("a"))) << rel;
  }
  // Through a symbolic link to a directory inside the source as well.
  ASSERT_EQ(0, ::symlink(t.path("a/sub").c_str(), t.path("in").c_str()));
  EXPECT_EQ(3031, BQFileUtils::moveDirectory(P(t.path("a")), P(t.path("in/z"))));
  EXPECT_EQ(before, snapshot(t.path("a")));
}
