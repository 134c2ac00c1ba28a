// The directory-tree operations of BQFileUtils.
#include "brackwell/fileUtils.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/resource.h>

using namespace Brackwell;
using bqtest::exists;
using bqtest::P;
using bqtest::Snap;
using bqtest::snapshot;
using List = std::vector<BQFileSpec>;
using Tree = bqtest::TempTree;

namespace {

std::size_t const asListed = std::string::npos;

// The list's paths, relative to the tree where they lie in it, joined by
// spaces; those from index `from` on are sorted.
std::string show(List const& l, Tree const& t, std::size_t from = 0) {
  std::vector<std::string> v;
  for (BQFileSpec const& p : l) {
    std::string const s = bqtest::str(p);
    v.push_back(s.rfind(t.root() + "/", 0) == 0 ? s.substr(t.root().size() + 1) : s);
  }
  std::sort(v.begin() + long(std::min(from, v.size())), v.end());
  std::string out;
  for (std::string const& s : v)
    out += (out.empty() ? "" : " ") + s;
  return out;
}

// r holds every kind of entry the listing rule tells apart, and a link back
// to its own directory.
void populate(Tree const& t) {
  t.write("r/f", "file f");
  t.write("r/.hidden", "dot");
  t.write("r/sub/g", "file g");
  t.write("r/sub/deep/h", std::string(5000, 'h'));
  t.write("outside/o", "outside file");
  ::symlink(t.path("outside").c_str(), t.path("r/dirlink").c_str());
  ::symlink(t.path("outside/o").c_str(), t.path("r/filelink").c_str());
  ::symlink(t.path("missing").c_str(), t.path("r/dangling").c_str());
  ::symlink(t.path("r/sub").c_str(), t.path("r/sub/loop").c_str());
  ::mkfifo(t.path("r/fifo").c_str(), 0600);
}

} // namespace

// Links count as what they point to; a FIFO and a dangling link are in
// neither list; lists are only appended to, and not at all on failure; a
// relative directory gives relative entries.
TEST(Trees, GetContents) {
  Tree t;
  populate(t);
  t.mkdir("empty");
  struct { char const* dir; int status; char const* lists; } const rows[] = {
      {"r", 0, "pre r/.hidden r/f r/filelink | pre r/dirlink r/sub"},
      {"empty", 0, "pre | pre"},
      {"r/f", BQ_STS_DirectoryNotFound, "pre | pre"},
      {"missing", BQ_STS_DirectoryNotFound, "pre | pre"},
      {"(null)", BQ_STS_DirectoryNotFound, "pre | pre"}};
  for (auto const& r : rows) {
    List f{P("pre")}, d{P("pre")};
    BQFileSpec const dir = r.dir[0] == '(' ? BQFileSpec() : P(t.path(r.dir));
    EXPECT_EQ(r.status, BQFileUtils::getContents(dir, f, d)) << r.dir;
    EXPECT_EQ(r.lists, show(f, t, 1) + " | " + show(d, t, 1)) << r.dir;
  }
  bqtest::CwdGuard guard;
  ASSERT_EQ(0, ::chdir(t.path("r/sub").c_str()));
  List f, d;
  EXPECT_EQ(0, BQFileUtils::getContents(P("."), f, d));
  EXPECT_EQ("./g | ./deep ./loop", show(f, t) + " | " + show(d, t));
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
  for (auto m : {std::make_pair("a", 0777), {"b", 0777}, {"c", 0777}, {"a/ns", 0666},
                 {"b/nr", 0333}, {"c/ro", 0555}})
    ::chmod(t.path(m.first).c_str(), mode_t(m.second));
  auto p = [&t](char const* rel) { return P(t.path(rel)); };
  EXPECT_EQ("", bqtest::asNobody(t, [&]() -> std::string {
    List f, d, top, bf;
    CHILD_CHECK(BQFileUtils::getContents(p("a/ns"), f, d) == 0 && f.empty() && d.empty());
    CHILD_CHECK(BQFileUtils::getContents(p("b/nr"), f, d) == BQ_STS_DirectoryNotFound);
    CHILD_CHECK(BQFileUtils::RecurseFiles(p("a"), top) == 0 && show(top, t) == "a/top");
    CHILD_CHECK(BQFileUtils::RecurseFiles(p("b"), bf) == BQ_STS_DirectoryNotFound &&
                show(bf, t) == "b/f");
    CHILD_CHECK(BQFileUtils::copyDirectory(p("a"), p("ca")) == 0 &&
                snapshot(t.path("ca")) == (Snap{{"/top", "t"}, {"/ns", "<dir>"}}));
    CHILD_CHECK(BQFileUtils::copyDirectory(p("b"), p("out/cb")) == BQ_STS_DirectoryNotFound &&
                !exists(t.path("out/cb")));
    CHILD_CHECK(BQFileUtils::deleteDir(p("a/ns"), true) == BQ_STS_FileDeleteFailed);
    CHILD_CHECK(BQFileUtils::deleteDir(p("b/nr"), true) == BQ_STS_DirectoryNotFound);
    CHILD_CHECK(BQFileUtils::deleteDir(p("c/ro"), true) == BQ_STS_FileDeleteFailed);
    return "";
  }, 0777));
  for (char const* f : {"a/ns/f", "b/nr/f", "c/ro/f"})
    EXPECT_TRUE(exists(t.path(f))) << f;
}

// Pre-order: a directory's own files, then each subdirectory's whole result,
// in listing order; links are followed, except one back to an ancestor.
TEST(Trees, RecurseFiles) {
  Tree t;
  for (char const* f : {"root/f1", "root/f2", "root/d1/x", "root/d1/e/y", "root/d2/z", "c/w"})
    t.write(f, "x");
  ::symlink(t.path("root").c_str(), t.path("root/d2/up").c_str());
  ::symlink(t.path("c").c_str(), t.path("root/toc").c_str());
  List files, dirs, all{P("pre")}, none;
  ASSERT_EQ(0, BQFileUtils::getContents(P(t.path("root")), files, dirs));
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P(t.path("root")), all));
  std::map<std::string, std::string> tail{{"root/d1", " root/d1/x root/d1/e/y"},
                                          {"root/d2", " root/d2/z"}, {"root/toc", " root/toc/w"}};
  std::string want = "pre " + show(files, t, asListed);
  for (BQFileSpec const& d : dirs)
    want += tail[show({d}, t)];
  EXPECT_EQ(want, show(all, t, asListed));
  EXPECT_EQ(BQ_STS_DirectoryNotFound, BQFileUtils::RecurseFiles(P(t.path("root/f1")), none));
  EXPECT_TRUE(none.empty());
}

// Not recursive: rmdir() alone. Recursive: links are removed, never followed;
// a FIFO stays and so does its directory; a subdirectory that fails stops
// the walk before its parent's files.
TEST(Trees, DeleteDir) {
  Tree t;
  t.mkdir("empty");
  t.write("full/f", "x");
  populate(t);
  ::unlink(t.path("r/dangling").c_str());
  ::unlink(t.path("r/fifo").c_str());
  t.write("a/f", "x");
  ::mkfifo(t.path("a/fifo").c_str(), 0600);
  t.write("b/g", "x");
  t.mkdir("b/sub");
  ::symlink(t.path("none").c_str(), t.path("b/sub/dangling").c_str());
  Snap const b = snapshot(t.path("b"));
  struct { char const* dir; bool recursive; int status; bool stays; Snap after; } const rows[] = {
      {"empty", false, 0, false, {}},
      {"full", false, BQ_STS_FileDeleteFailed, true, {{"/f", "x"}}},
      {"missing", false, BQ_STS_FileDeleteFailed, false, {}},
      {"(null)", false, BQ_STS_FileDeleteFailed, false, {}},
      {"r", true, 0, false, {}},
      {"a", true, BQ_STS_FileDeleteFailed, true, {{"/fifo", "<other>"}}},
      {"b", true, BQ_STS_FileDeleteFailed, true, b},
      {"missing", true, BQ_STS_DirectoryNotFound, false, {}},
      {"b/g", true, BQ_STS_DirectoryNotFound, true, {}}};
  for (auto const& r : rows) {
    BQFileSpec const dir = r.dir[0] == '(' ? BQFileSpec() : P(t.path(r.dir));
    EXPECT_EQ(r.status, BQFileUtils::deleteDir(dir, r.recursive)) << r.dir;
    EXPECT_EQ(r.stays, exists(t.path(r.dir))) << r.dir;
    EXPECT_EQ(r.after, snapshot(t.path(r.dir))) << r.dir;
  }
  EXPECT_EQ((Snap{{"/o", "outside file"}}), snapshot(t.path("outside")));
}

// Links are followed, except one back to a directory on the way down, and a
// copy into the source itself leaves the target out. A source that is no
// directory or a target that cannot be made changes nothing.
TEST(Trees, CopyDirectory) {
  Tree t;
  populate(t);
  std::string const h(5000, 'h'), dst = t.path("new/parents/copy");
  ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("r")), P(dst)));
  EXPECT_EQ((Snap{{"/.hidden", "dot"}, {"/f", "file f"}, {"/filelink", "outside file"},
                  {"/dirlink", "<dir>"}, {"/dirlink/o", "outside file"}, {"/sub", "<dir>"},
                  {"/sub/g", "file g"}, {"/sub/deep", "<dir>"}, {"/sub/deep/h", h}}),
            snapshot(dst));
  for (char const* to : {"c", "r/sub/in"}) {
    ASSERT_EQ(0, BQFileUtils::copyDirectory(P(t.path("r/sub")), P(t.path(to))));
    EXPECT_EQ((Snap{{"/g", "file g"}, {"/deep", "<dir>"}, {"/deep/h", h}}),
              snapshot(t.path(to))) << to;
  }
  t.write("file", "x");
  t.write("blocker/sub", "a file where a directory must go");
  Snap const before = snapshot(t.root());
  struct { char const* from; char const* to; int status; } const rows[] = {
      {"file", "t1", BQ_STS_DirectoryNotFound}, {"none", "t1", BQ_STS_DirectoryNotFound},
      {"r", "file", BQ_STS_DirectoryCreateFailed}, {"r", "file/t", BQ_STS_DirectoryCreateFailed},
      {"r", "blocker", BQ_STS_DirectoryCreateFailed}};
  for (auto const& r : rows)
    EXPECT_EQ(r.status, BQFileUtils::copyDirectory(P(t.path(r.from)), P(t.path(r.to))))
        << r.from << " -> " << r.to;
  EXPECT_EQ(before, snapshot(t.root()));
}

// A copy into an existing target that fails at "z" (before or after the
// other entries) removes only what it made there. It fails in three ways:
// "z" in the target is a link to /dev/full (the device is full), a link back
// to the source file (copying a file onto itself is refused before anything
// is opened for writing) or a directory (it cannot be opened for writing).
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
      ::symlink((blocker[0] == '/' ? blocker : t.path(blocker)).c_str(), t.path("dst/z").c_str());
    Snap const source = snapshot(t.path("src"));
    EXPECT_EQ(BQ_STS_Failure, BQFileUtils::copyDirectory(P(t.path("src")), P(t.path("dst"))))
        << blocker;
    Snap after = snapshot(t.path("dst"));
    EXPECT_TRUE(after["/a"] == "old a" || after["/a"] == "new") << blocker; // kept
    after.erase("/a");
    EXPECT_EQ((Snap{{"/d", "<dir>"}, {"/d/keep", "keep"},
                    {"/z", blocker == "<dir>" ? "<dir>" : "<link>"}}), after) << blocker;
    EXPECT_EQ(source, snapshot(t.path("src"))) << blocker;
  }
}

// Copies and moves that run out of descriptors fail with the failing step's
// status and roll back completely; removal and walking need only one free
// descriptor. "flat" is src/f; "nested" is src/d/f, whose copy holds two
// directory streams before it opens f. A move goes to a target whose parent
// is missing, or to a non-empty one, so rename() fails and it copies.
TEST(Trees, OneToThreeFreeDescriptors) {
  enum Op { Copy, Move, Delete, Walk };
  int const copyStatus[2][3] = {{BQ_STS_Failure, BQ_STS_Failure, 0},
                                {BQ_STS_DirectoryNotFound, BQ_STS_Failure, BQ_STS_Failure}};
  for (bool nested : {false, true})
    for (Op op : {Copy, Move, Delete, Walk})
      for (int free = 1; free <= (op < Delete ? 3 : 1); ++free)
        for (bool existing : {false, true}) {
          if (op >= Delete && existing)
            continue;
          int const c = copyStatus[nested][free - 1];
          int const status = op == Copy ? c : op == Move && c ? BQ_STS_DirectoryMoveFailed : 0;
          Tree t;
          t.write(nested ? "src/d/f" : "src/f", "data");
          t.write("old/keep", "k");
          t.write("old/d/k", "k");
          std::string const src = t.path("src"), dst = t.path(existing ? "old" : "mv/x");
          Snap const before = snapshot(src), old = snapshot(t.path("old"));
          Snap copied = existing ? old : Snap{};
          copied.insert(before.begin(), before.end());
          EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
            int const fds = bqtest::openFds();
            rlimit lim, low;
            ::getrlimit(RLIMIT_NOFILE, &lim);
            low = lim;
            // The limit caps descriptor numbers: holes below it count as free.
            for (int fd = 0, left = free; left > 0; ++fd)
              if (::fcntl(fd, F_GETFD) < 0 && --left == 0)
                low.rlim_cur = rlim_t(fd) + 1;
            CHILD_CHECK(::setrlimit(RLIMIT_NOFILE, &low) == 0);
            List files;
            int const st = op == Copy   ? BQFileUtils::copyDirectory(P(src), P(dst))
                           : op == Move ? BQFileUtils::moveDirectory(P(src), P(dst))
                           : op == Delete ? BQFileUtils::deleteDir(P(src), true)
                                          : BQFileUtils::RecurseFiles(P(src), files);
            ::setrlimit(RLIMIT_NOFILE, &lim);
            CHILD_CHECK(st == status);
            CHILD_CHECK(bqtest::openFds() == fds);
            bool const gone = op == Delete || (op == Move && st == 0);
            CHILD_CHECK(gone ? !exists(src) : snapshot(src) == before);
            if (op == Copy || op == Move)
              CHILD_CHECK(st == 0 ? snapshot(dst) == copied
                                  : existing ? snapshot(dst) == old : !exists(dst));
            CHILD_CHECK(op != Walk || files.size() == 1);
            return "";
          })) << "op " << op << (nested ? " nested" : " flat") << ", " << free << " free, "
              << (existing ? "existing" : "new") << " target";
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
    EXPECT_EQ(BQ_STS_DirectoryNotFound, BQFileUtils::moveDirectory(P(t.path(from)), P(t.path("c"))));
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
