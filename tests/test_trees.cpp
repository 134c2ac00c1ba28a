// The directory-tree operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace Brackwell;
using List = std::vector<BQFileSpec>;
using Snap = std::map<std::string, std::string>;
using Tree = bqtest::TempTree;
using bqtest::exists;
using bqtest::openFds;
using bqtest::P;

namespace {

using Names = std::vector<std::string>;

Names sorted(Names v) {
  std::sort(v.begin(), v.end());
  return v;
}

Names names(List const& l, bool sort = false) {
  Names out;
  for (auto const& p : l)
    out.push_back(p.utf8());
  return sort ? sorted(out) : out;
}

// The tree below `root` as relative path => contents, "<dir>", "<link>" or
// "<other>", read without the library and without following links.
Snap snapshot(std::string const& root, std::string const& rel = "") {
  Snap out;
  DIR* d = ::opendir((root + rel).c_str());
  for (dirent* e; d && (e = ::readdir(d));) {
    std::string n = e->d_name, r = rel + "/" + n;
    struct stat st;
    if (n == "." || n == ".." || ::lstat((root + r).c_str(), &st) != 0)
      continue;
    if (S_ISDIR(st.st_mode)) {
      Snap sub = snapshot(root, r);
      out.insert(sub.begin(), sub.end());
    }
    out[r] = S_ISDIR(st.st_mode)   ? "<dir>"
             : S_ISREG(st.st_mode) ? Tree::read(root + r)
             : S_ISLNK(st.st_mode) ? "<link>" : "<other>";
  }
  if (d)
    ::closedir(d);
  return out;
}

// r holds every kind of entry the listing rule tells apart.
void populate(Tree const& t) {
  t.write("r/f", "file f");
  t.write("r/.hidden", "dot");
  t.write("r/sub/g", "file g");
  t.write("r/sub/deep/h", std::string(5000, 'h'));
  t.write("outside/o", "outside file");
  ::symlink(t.path("outside").c_str(), t.path("r/dirlink").c_str());
  ::symlink(t.path("outside/o").c_str(), t.path("r/filelink").c_str());
  ::symlink(t.path("missing").c_str(), t.path("r/dangling").c_str());
  ::mkfifo(t.path("r/fifo").c_str(), 0600);
}

} // namespace

// Links count as what they point to; a FIFO and a dangling link are in
// neither list; lists are only appended to; failures append nothing; a
// relative directory gives relative entries.
TEST(Trees, GetContents) {
  Tree t;
  populate(t);
  t.mkdir("empty");
  List files{P("keep")}, dirs{P("keep1"), P("keep2")};
  ASSERT_EQ(0, BQFileUtils::getContents(P(t.path("r")), files, dirs));
  std::string r = t.path("r/");
  EXPECT_EQ("keep", names(files)[0]);
  EXPECT_EQ("keep2", names(dirs)[1]);
  EXPECT_EQ(sorted({"keep", r + ".hidden", r + "f", r + "filelink"}), names(files, true));
  EXPECT_EQ(sorted({"keep1", "keep2", r + "dirlink", r + "sub"}), names(dirs, true));
  for (auto c : {std::make_pair("empty", 0), {"r/f", BQ_STS_DirectoryNotFound},
                 {"missing", BQ_STS_DirectoryNotFound}}) {
    List f{P("a")}, d;
    EXPECT_EQ(c.second, BQFileUtils::getContents(P(t.path(c.first)), f, d)) << c.first;
    EXPECT_EQ(1u, f.size() + d.size()) << c.first;
  }
  List f, d;
  EXPECT_EQ(BQ_STS_DirectoryNotFound, BQFileUtils::getContents(BQFileSpec(), f, d));
  bqtest::CwdGuard guard;
  ASSERT_EQ(0, ::chdir(t.path("r/sub").c_str()));
  EXPECT_EQ(0, BQFileUtils::getContents(P("."), f, d));
  EXPECT_EQ(Names{"./g"}, names(f));
  EXPECT_EQ(Names{"./deep"}, names(d));
}

// Entries whose joined path reaches PATH_MAX bytes cannot be read by stat()
// and are passed over by every listing; one byte shorter they are listed.
// The deep directory is made descriptor-relative, below any path limit.
TEST(Trees, EntriesAtPathMax) {
  Tree t;
  int fd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY);
  std::string dir = t.root(), level(100, 'd');
  while (dir.size() + level.size() + 1 <= PATH_MAX - 100) {
    ASSERT_EQ(0, ::mkdirat(fd, level.c_str(), 0777));
    int sub = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(fd = sub, 0);
    dir += "/" + level;
  }
  // dir + "/" + name: PATH_MAX - 1 bytes (listed) and PATH_MAX (passed over).
  std::string const fits(PATH_MAX - 2 - dir.size(), 'f'),
      over(PATH_MAX - 1 - dir.size(), 'o'), overDir = "s" + over.substr(1);
  for (std::string const* n : {&fits, &over})
    ::close(::openat(fd, n->c_str(), O_CREAT | O_WRONLY, 0666));
  ASSERT_EQ(0, ::mkdirat(fd, overDir.c_str(), 0777));
  Names const only{dir + "/" + fits};
  List files, dirs, all;
  ASSERT_EQ(0, BQFileUtils::getContents(P(dir), files, dirs));
  EXPECT_EQ(only, names(files));
  EXPECT_TRUE(dirs.empty());
  EXPECT_EQ(0, BQFileUtils::RecurseFiles(P(dir), all));
  EXPECT_EQ(only, names(all));
  // The copy holds what the listing saw; deleteDir cannot remove what it
  // passes over, so the directory stays (3030).
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(dir), P(t.path("copy"))));
  EXPECT_EQ((Snap{{"/" + fits, ""}}), snapshot(t.path("copy")));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(P(dir), true));
  EXPECT_FALSE(exists(only[0]));
  EXPECT_EQ(0, ::unlinkat(fd, over.c_str(), 0)); // so that the tree can go
  EXPECT_EQ(0, ::unlinkat(fd, overDir.c_str(), AT_REMOVEDIR));
  ::close(fd);
}

// As a user that root's bypass does not cover: a directory that may be read
// but not searched (a/ns) fails every status read of its entries, so all are
// passed over although readdir() reports a file, a directory and a link;
// one that may be searched but not read (b/nr) cannot be listed; in one
// that may not be written (c/ro) nothing can be removed. A copy that fails
// leaves no target.
TEST(Trees, PermissionsAsNobody) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root to change user";
  Tree t;
  for (char const* f : {"a/top", "a/ns/f", "b/f", "b/nr/f", "c/ro/f"})
    t.write(f, "t");
  t.mkdir("a/ns/d");
  ::symlink("f", t.path("a/ns/l").c_str());
  for (std::string d : {"", "a", "b", "c"})
    ::chmod(t.path(d).c_str(), 0777);
  ::chmod(t.path("a/ns").c_str(), 0666);
  ::chmod(t.path("b/nr").c_str(), 0333);
  ::chmod(t.path("c/ro").c_str(), 0555);
  auto p = [&t](char const* rel) { return P(t.path(rel)); };
  EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
    List f, d, top, bf;
    CHILD_CHECK(BQFileUtils::getContents(p("a/ns"), f, d) == 0 && f.empty() && d.empty());
    CHILD_CHECK(BQFileUtils::getContents(p("b/nr"), f, d) == BQ_STS_DirectoryNotFound);
    CHILD_CHECK(BQFileUtils::RecurseFiles(p("a"), top) == 0 &&
                names(top) == Names{t.path("a/top")});
    CHILD_CHECK(BQFileUtils::RecurseFiles(p("b"), bf) == BQ_STS_DirectoryNotFound &&
                names(bf) == Names{t.path("b/f")});
    CHILD_CHECK(BQFileUtils::copyDirectory(p("a"), p("ca")) == 0 &&
                snapshot(t.path("ca")) == (Snap{{"/top", "t"}, {"/ns", "<dir>"}}));
    CHILD_CHECK(BQFileUtils::copyDirectory(p("b"), p("out/cb")) == BQ_STS_DirectoryNotFound &&
                !exists(t.path("out/cb")));
    CHILD_CHECK(BQFileUtils::deleteDir(p("a/ns"), true) == BQ_STS_FileDeleteFailed);
    CHILD_CHECK(BQFileUtils::deleteDir(p("b/nr"), true) == BQ_STS_DirectoryNotFound);
    CHILD_CHECK(BQFileUtils::deleteDir(p("c/ro"), true) == BQ_STS_FileDeleteFailed);
    return "";
  }, true));
  for (char const* f : {"a/ns/f", "b/nr/f", "c/ro/f"})
    EXPECT_TRUE(exists(t.path(f))) << f;
}

// Pre-order: a directory's own files, then each subdirectory's in listing
// order; links are followed, but a link back to an ancestor ends.
TEST(Trees, RecurseFiles) {
  Tree t;
  for (char const* f : {"root/f1", "root/f2", "root/d1/g1", "root/d2/h1"})
    t.write(f, "x");
  List files{P("pre")}, sub, subdirs, none;
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P(t.path("root")), files));
  ASSERT_EQ(0, BQFileUtils::getContents(P(t.path("root")), sub, subdirs));
  std::string r = t.path("root/");
  bool d1First = names(subdirs)[0] == r + "d1";
  Names got = names(files);
  std::sort(got.begin() + 1, got.begin() + 3);
  EXPECT_EQ((Names{"pre", r + "f1", r + "f2",
                                      r + (d1First ? "d1/g1" : "d2/h1"),
                                      r + (d1First ? "d2/h1" : "d1/g1")}), got);
  EXPECT_EQ(BQ_STS_DirectoryNotFound, BQFileUtils::RecurseFiles(P(r + "f1"), none));
  EXPECT_TRUE(none.empty());
  t.write("c/y", "y");
  ::symlink(t.path("root").c_str(), t.path("root/d1/up").c_str()); // cycle
  ::symlink(t.path("c").c_str(), t.path("root/toc").c_str());      // no cycle
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P(t.path("root")), none));
  EXPECT_EQ((Names{r + "d1/g1", r + "d2/h1", r + "f1", r + "f2",
                                      r + "toc/y"}), names(none, true));
}

TEST(Trees, DeleteDir) {
  Tree t;
  t.mkdir("empty");
  t.write("full/f", "x");
  for (auto c : {std::make_tuple("empty", 0, true), {"full", int(BQ_STS_FileDeleteFailed), false},
                 {"missing", int(BQ_STS_FileDeleteFailed), true}}) {
    EXPECT_EQ(std::get<1>(c), BQFileUtils::deleteDir(P(t.path(std::get<0>(c))), false));
    EXPECT_EQ(std::get<2>(c), !exists(t.path(std::get<0>(c))));
  }
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(BQFileSpec(), false));
  // Recursive: never leaves the tree through a link.
  populate(t);
  ::unlink(t.path("r/dangling").c_str());
  ::unlink(t.path("r/fifo").c_str());
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(t.path("r")), true));
  EXPECT_FALSE(exists(t.path("r")));
  EXPECT_EQ((Snap{{"/o", "outside file"}}), snapshot(t.path("outside")));
  // A FIFO stays, and so does its directory; a failing subdirectory stops
  // the walk before its parent's files.
  t.write("a/f", "x");
  ::mkfifo(t.path("a/fifo").c_str(), 0600);
  t.write("b/g", "x");
  t.mkdir("b/sub");
  ::symlink(t.path("none").c_str(), t.path("b/sub/dangling").c_str());
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(P(t.path("a")), true));
  EXPECT_EQ((Snap{{"/fifo", "<other>"}}), snapshot(t.path("a")));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(P(t.path("b")), true));
  EXPECT_EQ((Snap{{"/g", "x"}, {"/sub", "<dir>"}, {"/sub/dangling", "<link>"}}),
            snapshot(t.path("b")));
  for (char const* rel : {"missing", "b/g"})
    EXPECT_EQ(BQ_STS_DirectoryNotFound, BQFileUtils::deleteDir(P(t.path(rel)), true));
  EXPECT_TRUE(exists(t.path("b/g")));
}

TEST(Trees, CopyDirectory) {
  Tree t;
  populate(t);
  std::string dst = t.path("new/parents/copy");
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("r")), P(dst)));
  EXPECT_EQ((Snap{{"/.hidden", "dot"}, {"/f", "file f"}, {"/filelink", "outside file"},
                  {"/dirlink", "<dir>"}, {"/dirlink/o", "outside file"},
                  {"/sub", "<dir>"}, {"/sub/g", "file g"}, {"/sub/deep", "<dir>"},
                  {"/sub/deep/h", std::string(5000, 'h')}}),
            snapshot(dst));
  // Statuses, and no target left where none was.
  t.write("file", "x");
  t.write("blocker/sub", "a file where a directory must go");
  Snap const blocker = snapshot(t.path("blocker"));
  for (auto c : {std::make_pair("file", "t1"), {"none", "t1"}})
    EXPECT_EQ(BQ_STS_DirectoryNotFound,
              BQFileUtils::copyDirectory(P(t.path(c.first)), P(t.path(c.second))));
  for (char const* to : {"file", "file/t", "blocker"})
    EXPECT_EQ(BQ_STS_DirectoryCreateFailed,
              BQFileUtils::copyDirectory(P(t.path("r")), P(t.path(to)))) << to;
  EXPECT_FALSE(exists(t.path("t1")));
  EXPECT_EQ("x", Tree::read(t.path("file")));
  EXPECT_EQ(blocker, snapshot(t.path("blocker")));
  // Through a link back to the source, and into the source itself, a copy
  // stays bounded.
  ::symlink(t.path("r").c_str(), t.path("r/sub/loop").c_str());
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("r/sub")), P(t.path("c"))));
  EXPECT_EQ("file g", snapshot(t.path("c"))["/g"]);
  ::unlink(t.path("r/sub/loop").c_str());
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("r/sub")), P(t.path("r/sub/in"))));
  Snap s = snapshot(t.path("r/sub"));
  EXPECT_EQ("file g", s["/in/g"]);
  EXPECT_LE(s.size(), 8u);
}

// A copy into an existing target that fails at "z" (before or after the
// other entries) removes only what it made there. It fails in three ways:
// "z" in the target is a link to /dev/full (the write fails), a link back to
// the source file (copying a file onto itself is refused before anything is
// opened for writing) or a directory (it cannot be opened for writing).
TEST(Trees, CopyRollbackIntoExistingTarget) {
  for (std::string blocker : {"/dev/full", "src/z", "<dir>"}) {
    Tree t;
    for (char const* f : {"src/a", "src/d/x", "src/e/y"})
      t.write(f, "new");
    t.write("src/z", std::string(200000, 'z'));
    t.write("dst/a", "old a");
    t.write("dst/d/keep", "keep");
    if (blocker == "<dir>")
      t.mkdir("dst/z");
    else
      ::symlink((blocker[0] == '/' ? blocker : t.path(blocker)).c_str(),
                t.path("dst/z").c_str());
    Snap const source = snapshot(t.path("src"));
    EXPECT_EQ(BQ_STS_Failure,
              BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("dst")))) << blocker;
    Snap after = snapshot(t.path("dst"));
    EXPECT_TRUE(after["/a"] == "old a" || after["/a"] == "new") << blocker; // kept
    after.erase("/a");
    EXPECT_EQ((Snap{{"/d", "<dir>"}, {"/d/keep", "keep"},
                    {"/z", blocker == "<dir>" ? "<dir>" : "<link>"}}), after) << blocker;
    EXPECT_EQ(source, snapshot(t.path("src"))) << blocker;
  }
}

// A directory whose name ends in a backslash: joining drops that separator,
// so its entries' paths name those of its namesake without one, and each
// operation works on those paths. x\ holds a, b and s; x holds a and s/g:
// a and s are listed as x/a and x/s, b is passed over.
TEST(Trees, TrailingBackslashNamesAnotherDirectory) {
  Tree t;
  t.write("x\\/a", "a of x\\");
  t.write("x\\/b", "b");
  t.mkdir("x\\/s");
  t.write("x/a", "a of x");
  t.write("x/s/g", "g of x");
  t.write("src/f", "f");
  std::string const xb = t.path("x\\");
  List f, d, walk;
  EXPECT_EQ(0, BQFileUtils::getContents(P(xb), f, d));
  EXPECT_EQ(Names{t.path("x/a")}, names(f));
  EXPECT_EQ(Names{t.path("x/s")}, names(d));
  EXPECT_EQ(0, BQFileUtils::RecurseFiles(P(xb), walk));
  EXPECT_EQ((Names{t.path("x/a"), t.path("x/s/g")}), names(walk));
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(xb), P(t.path("c"))));
  EXPECT_EQ((Snap{{"/a", "a of x"}, {"/s", "<dir>"}, {"/s/g", "g of x"}}),
            snapshot(t.path("c")));
  // Into o\, whose joined paths name the missing o: the copy fails and is
  // rolled back.
  EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("o\\"))));
  EXPECT_FALSE(exists(t.path("o\\")));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(P(xb), true));
  EXPECT_FALSE(exists(t.path("x/a")) || exists(t.path("x/s")));
  EXPECT_TRUE(exists(t.path("x\\/a")) && exists(t.path("x\\/b")));
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
TEST(Trees, OneToThreeFreeDescriptors) {
  enum Op { Copy, Move, Delete, Walk };
  struct Case { Op op; bool nested; int free; bool existing; int status; };
  std::vector<Case> cases;
  int const copyStatus[2][3] = {{BQ_STS_Failure, BQ_STS_Failure, 0},
                                {BQ_STS_DirectoryNotFound, BQ_STS_Failure, BQ_STS_Failure}};
  for (bool nested : {false, true}) {
    for (int free = 1; free <= 3; ++free)
      for (bool existing : {false, true}) {
        int c = copyStatus[nested][free - 1];
        cases.push_back({Copy, nested, free, existing, c});
        cases.push_back({Move, nested, free, existing, c ? BQ_STS_DirectoryMoveFailed : 0});
      }
    cases.push_back({Delete, nested, 1, false, 0});
    cases.push_back({Walk, nested, 1, false, 0});
  }
  for (Case const& c : cases) {
    Tree t;
    t.write(c.nested ? "src/d/f" : "src/f", "data");
    t.write("old/keep", "k");
    t.write("old/d/k", "k");
    std::string const src = t.path("src"), dst = t.path(c.existing ? "old" : "mv/x");
    Snap const before = snapshot(src), old = snapshot(t.path("old"));
    Snap copied = c.existing ? old : Snap{};
    copied.insert(before.begin(), before.end());
    EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
      int const fds = openFds();
      rlimit lim;
      ::getrlimit(RLIMIT_NOFILE, &lim);
      CHILD_CHECK(leaveFree(c.free, lim));
      List files;
      int st = c.op == Copy     ? BQFileUtils::copyDirectory(P(src), P(dst))
               : c.op == Move   ? BQFileUtils::moveDirectory(P(src), P(dst))
               : c.op == Delete ? BQFileUtils::deleteDir(P(src), true)
                                : BQFileUtils::RecurseFiles(P(src), files);
      ::setrlimit(RLIMIT_NOFILE, &lim);
      CHILD_CHECK(st == c.status);
      CHILD_CHECK(openFds() == fds);
      bool const gone = c.op == Delete || (c.op == Move && st == 0);
      CHILD_CHECK(gone ? !exists(src) : snapshot(src) == before);
      if (c.op == Copy || c.op == Move)
        CHILD_CHECK(st == 0 ? snapshot(dst) == copied
                            : c.existing ? snapshot(dst) == old : !exists(dst));
      CHILD_CHECK(c.op != Walk || files.size() == 1);
      return "";
    })) << "op " << c.op << (c.nested ? " nested" : " flat") << ", " << c.free
        << " free, " << (c.existing ? "existing" : "new") << " target";
  }
}

TEST(Trees, MoveDirectory) {
  Tree t;
  t.write("a/s/f", "f");
  t.write("file", "x");
  struct stat before, after;
  ::stat(t.path("a").c_str(), &before);
  EXPECT_EQ(0, BQFileUtils::moveDirectory(P(t.path("a")), P(t.path("b"))));
  ::stat(t.path("b").c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino); // renamed
  for (char const* from : {"file", "a"})
    EXPECT_EQ(BQ_STS_DirectoryNotFound,
              BQFileUtils::moveDirectory(P(t.path(from)), P(t.path("c"))));
  // Neither renamed nor copied (a file in the way, no target, the target
  // inside the source, directly or through a link): 3031, source kept.
  ::symlink(t.path("b/s").c_str(), t.path("in").c_str());
  Snap const src = snapshot(t.path("b"));
  for (BQFileSpec const& to : {P(t.path("file")), BQFileSpec(), P(t.path("b/new")),
                               P(t.path("b/s/x/y")), P(t.path("b/s")), P(t.path("in/z"))}) {
    EXPECT_EQ(BQ_STS_DirectoryMoveFailed, BQFileUtils::moveDirectory(P(t.path("b")), to))
        << bqtest::str(to);
    EXPECT_EQ(src, snapshot(t.path("b")));
  }
  // A non-empty target refuses rename; the copy merges into it.
  t.write("m/old", "o");
  EXPECT_EQ(0, BQFileUtils::moveDirectory(P(t.path("b")), P(t.path("m"))));
  EXPECT_FALSE(exists(t.path("b")));
  EXPECT_EQ((Snap{{"/old", "o"}, {"/s", "<dir>"}, {"/s/f", "f"}}), snapshot(t.path("m")));
}
