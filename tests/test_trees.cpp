// Tests of the directory-tree operations of BQFileUtils.
#include "brackwell/fileUtils.h"
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
#include <unistd.h>
#include <vector>

using Brackwell::BQFileSpec;
using Brackwell::BQFileUtils;
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

// Permissions, as a user that root's bypass does not cover. A directory
// that may be read but not searched (ns) fails every status read of its
// entries, so every operation passes them all over, although readdir()
// reports a file, a directory and a link among them; one that may be
// searched but not read (nr) cannot be listed; in one that may not be
// written (ro) nothing can be removed. A copy that fails leaves no target.
TEST(Listing, PermissionsAsNobody) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user";
  bqtest::TempTree t;
  t.write("a/top", "t");
  t.write("a/ns/f", "f");
  t.mkdir("a/ns/d");
  ::symlink("f", t.path("a/ns/l").c_str());
  t.write("b/f", "f");
  t.write("b/nr/f", "f");
  t.write("c/ro/f", "f");
  for (std::string d : {"", "a", "b", "c"})
    ::chmod(t.path(d).c_str(), 0777);
  ::chmod(t.path("a/ns").c_str(), 0666);
  ::chmod(t.path("b/nr").c_str(), 0333);
  ::chmod(t.path("c/ro").c_str(), 0555);
  auto const list = [&](std::string const& d) {
    List f, s;
    int st = BQFileUtils::getContents(P(t.path(d)), f, s);
    return std::to_string(st) + ":" + std::to_string(f.size() + s.size());
  };
  auto const walk = [&](std::string const& d) {
    List f;
    int st = BQFileUtils::RecurseFiles(P(t.path(d)), f);
    return std::to_string(st) + ":" + (f.size() == 1 ? f[0].utf8() : "?");
  };
  auto const del = [&](std::string const& d) {
    return std::to_string(BQFileUtils::deleteDir(P(t.path(d)), true));
  };
  EXPECT_EQ("", bqtest::inChild([&] {
    std::pair<std::string, std::string> const rows[] = {
        {list("a/ns"), "0:0"},
        {list("b/nr"), "3033:0"},
        {walk("a"), "0:" + t.path("a/top")},
        {walk("b"), "3033:" + t.path("b/f")},
        {std::to_string(BQFileUtils::copyDirectory(P(t.path("a")),
                                                   P(t.path("ca")))),
         "0"},
        {std::to_string(BQFileUtils::copyDirectory(P(t.path("b")),
                                                   P(t.path("out/cb")))) +
             (exists(t.path("out/cb")) ? " left" : ""),
         "3033"},
        {del("a/ns"), "3030"},
        {del("b/nr"), "3033"},
        {del("c/ro"), "3030"}};
    for (std::size_t i = 0; i < std::size(rows); ++i)
      if (rows[i].first != rows[i].second)
        return int(i) + 1;
    std::map<std::string, std::string> copied = {{"/top", "t"},
                                                 {"/ns", "<dir>"}};
    return snapshot(t.path("ca")) == copied ? 0 : 50;
  }, true)) << "checks are the rows, counted from 1";
  for (char const* f : {"a/ns/f", "b/nr/f", "c/ro/f"})
    EXPECT_TRUE(exists(t.path(f))) << f;
}

// A directory whose name ends in a backslash: joining drops that separator,
// so its entries' paths name the entries of its namesake without one, and
// each operation works on those paths, as the listing rule says. x\ holds a
// and b, x holds only a: a is listed as x/a, b is passed over.
TEST(Listing, TrailingBackslashNamesAnotherDirectory) {
  bqtest::TempTree t;
  t.write("x\\/a", "a of x\\");
  t.write("x\\/b", "b");
  t.mkdir("x\\/s");
  t.write("x/a", "a of x");
  t.write("x/s/g", "g of x");
  t.write("src/f", "f");
  std::string const xb = t.path("x\\");
  List f, d, walk;
  EXPECT_EQ(0, BQFileUtils::getContents(P(xb), f, d));
  EXPECT_EQ(std::vector<std::string>{t.path("x/a")}, names(f));
  EXPECT_EQ(std::vector<std::string>{t.path("x/s")}, names(d));
  EXPECT_EQ(0, BQFileUtils::RecurseFiles(P(xb), walk));
  EXPECT_EQ((std::vector<std::string>{t.path("x/a"), t.path("x/s/g")}),
            names(walk));
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(xb), P(t.path("c"))));
  EXPECT_EQ((std::map<std::string, std::string>{
                {"/a", "a of x"}, {"/s", "<dir>"}, {"/s/g", "g of x"}}),
            snapshot(t.path("c")));
  // Into o\, whose joined paths name the missing o: the copy fails and is
  // rolled back.
  EXPECT_EQ(1, BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("o\\"))));
  EXPECT_FALSE(exists(t.path("o\\")));
  EXPECT_EQ(3030, BQFileUtils::deleteDir(P(xb), true));
  EXPECT_FALSE(exists(t.path("x/a")) || exists(t.path("x/s")));
  EXPECT_TRUE(exists(t.path("x\\/a")) && exists(t.path("x\\/b")));
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

// The copy of "z" fails, after or before the other entries, in three ways:
// its target is a link to /dev/full (the write fails), a link back to the
// source file (copying a file onto itself is refused before anything is
// opened for writing) or a directory (it cannot be opened for writing).
TEST(CopyDirectory, RollbackIntoExistingTargetKeepsItsEntries) {
  for (std::string blocker : {"/dev/full", "src/z", "<dir>"}) {
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
    if (blocker == "<dir>")
      t.mkdir("dst/z");
    else
      ::symlink((blocker[0] == '/' ? blocker : t.path(blocker)).c_str(),
                t.path("dst/z").c_str());
    EXPECT_EQ(1, BQFileUtils::copyDirectory(P(t.path("src")),
                                            P(t.path("dst"))))
        << blocker;
    auto after = snapshot(t.path("dst"));
    EXPECT_EQ(0u, after.count("/d/x")) << blocker;
    EXPECT_EQ(0u, after.count("/e")) << blocker;
    EXPECT_EQ("keep", after["/d/keep"]) << blocker;
    EXPECT_EQ(blocker == "<dir>" ? "<dir>" : "<link>", after["/z"]) << blocker;
    // "a" existed: it stays, overwritten or not depending on listing order.
    EXPECT_TRUE(after["/a"] == "old a" || after["/a"] == "new a") << blocker;
    EXPECT_EQ(4u, after.size()) << blocker;
    EXPECT_EQ(std::string(200000, 'z'), bqtest::TempTree::read(t.path("src/z")));
  }
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

// Sets RLIMIT_NOFILE so that exactly `free` descriptor numbers below it are
// unused (the limit caps numbers, so holes below the highest open one count).
bool leaveFree(int free, rlimit const& old) {
  for (int fd = 0, seen = 0; fd < int(old.rlim_cur); ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && ++seen == free) {
      rlimit rl = {rlim_t(fd) + 1, old.rlim_max};
      return ::setrlimit(RLIMIT_NOFILE, &rl) == 0;
    }
  return false;
}

// Copies and moves that run out of descriptors fail with the failing step's
// status and roll back completely; removal and walking need only one free
// descriptor. "flat" is src/f; "nested" is src/d/f, whose copy holds two
// directory streams before it opens f. A move goes to a target whose parent
// is missing, or to a non-empty one, so rename() fails and it copies.
TEST(Descriptors, TreeOperationsWithOneToThreeFreeSlots) {
  enum Op { Copy, Move, Delete, Walk };
  struct Case { Op op; bool nested; int free; bool existing; int status; };
  std::vector<Case> cases;
  int const copyStatus[2][3] = {{1, 1, 0}, {3033, 1, 1}};
  for (bool nested : {false, true})
    for (int free = 1; free <= 3; ++free)
      for (bool existing : {false, true}) {
        int c = copyStatus[nested][free - 1];
        cases.push_back({Copy, nested, free, existing, c});
        cases.push_back({Move, nested, free, existing, c == 0 ? 0 : 3031});
      }
  for (bool nested : {false, true}) {
    cases.push_back({Delete, nested, 1, false, 0});
    cases.push_back({Walk, nested, 1, false, 0});
  }
  for (Case const& c : cases) {
    bqtest::TempTree t;
    t.write(c.nested ? "src/d/f" : "src/f", "data");
    t.write("old/keep", "k");
    t.write("old/d/k", "k");
    std::string const src = t.path("src");
    std::string const dst = c.existing ? t.path("old") : t.path("mv/x");
    auto const before = snapshot(src), old = snapshot(t.path("old"));
    EXPECT_EQ("", bqtest::inChild([&] {
      int const fds = openFds();
      rlimit lim;
      ::getrlimit(RLIMIT_NOFILE, &lim);
      if (!leaveFree(c.free, lim))
        return 99;
      List files;
      int st = c.op == Copy   ? BQFileUtils::copyDirectory(P(src), P(dst))
               : c.op == Move ? BQFileUtils::moveDirectory(P(src), P(dst))
               : c.op == Delete ? BQFileUtils::deleteDir(P(src), true)
                                : BQFileUtils::RecurseFiles(P(src), files);
      ::setrlimit(RLIMIT_NOFILE, &lim);
      auto expected = c.existing ? old : decltype(old){};
      expected.insert(before.begin(), before.end());
      bool const gone = c.op == Delete || (c.op == Move && st == 0);
      int bad = st != c.status ? 1 : 0;
      bad |= openFds() != fds ? 2 : 0;
      bad |= (gone ? exists(src) : snapshot(src) != before) ? 4 : 0;
      if (c.op == Copy || c.op == Move) {
        if (st == 0)
          bad |= snapshot(dst) != expected ? 8 : 0;
        else
          bad |= (c.existing ? snapshot(dst) != old : exists(dst)) ? 8 : 0;
      }
      bad |= c.op == Walk && files.size() != 1 ? 16 : 0;
      return bad;
    })) << "op " << c.op << (c.nested ? " nested" : " flat")
                     << ", " << c.free << " free, "
                     << (c.existing ? "existing" : "new") << " target";
  }
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
