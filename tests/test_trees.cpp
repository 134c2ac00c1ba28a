// The directory-tree operations of BQFileUtils, as rows of one table run in
// order on one tree, with relative paths. Each row gives the status, then
// the lists of a listing ("pre" stands there before the call) or what
// changed in the whole tree: "-path", "~path=bytes" (a file rewritten),
// "+path" (a directory with "/", a file with "=" and its bytes, which are its
// path in the fixture). Rows with a limit run in a child: 1 to 3 descriptors left
// free, a file size limit in bytes, or -1 as user 65534.
#include "brackwell/fileUtils.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>

using namespace Brackwell;
using bqtest::P;
using bqtest::Snap;
using List = std::vector<BQFileSpec>;

namespace {

std::size_t const asListed = std::string::npos;

// The list's paths, separated by spaces; those from index `from` on sorted.
std::string show(List const& l, std::size_t from = 0) {
  std::vector<std::string> v;
  for (BQFileSpec const& p : l)
    v.push_back(bqtest::str(p));
  std::sort(v.begin() + long(std::min(from, v.size())), v.end());
  std::string out;
  for (std::string const& s : v)
    out += " " + s;
  return out;
}

std::string diff(Snap const& a, Snap const& b) {
  std::string out;
  for (auto const& e : a)
    if (!b.count(e.first))
      out += " -" + e.first.substr(1);
    else if (b.at(e.first) != e.second)
      out += " ~" + e.first.substr(1) + "=" + b.at(e.first);
  for (auto const& e : b)
    if (!a.count(e.first))
      out += " +" + e.first.substr(1) +
             (e.second == "<dir>" ? "/" : e.second[0] == '<' ? "" : "=" + e.second);
  return out;
}

enum Op { List_, Walk, Rmdir, Delete, Copy, Move };
int const kFail = BQ_STS_Failure, kDel = BQ_STS_FileDeleteFailed, kMove = BQ_STS_DirectoryMoveFailed,
          kMake = BQ_STS_DirectoryCreateFailed, kNone = BQ_STS_DirectoryNotFound;
struct Row { Op op; char const *a, *b; int limit, status; char const* want; };

// Listing rule, deletion, copy (with the rollback into an existing target
// that fails at z: a link to /dev/full, a link to the source file itself, a
// directory), move (renamed: the FIFO and the dangling link go along; the
// inside guards; a merge whose source cannot be deleted), a directory whose
// name ends in a backslash (joining drops it, so x\'s entries are named as
// x's), too few descriptors (nest/d/f holds two directory streams before it
// opens f, while flat/f needs one), writes that fail in the middle of a
// file or only at the final flush (a file smaller than the stream's buffer)
// past a file size limit, and permissions: pa/ns may be read but not
// searched, pb/nr searched but not read, pc/ro not written.
Row const rows[] = {
    {List_, "r", "", 0, 0, "pre r/..x r/.hidden r/f r/filelink r/\xC3\x28 | pre r/dirlink r/sub"},
    {List_, "empty", "", 0, 0, "pre | pre"},
    {List_, "file", "", 0, kNone, "pre | pre"},
    {List_, "missing", "", 0, kNone, "pre | pre"},
    {List_, "(null)", "", 0, kNone, "pre | pre"},
    {List_, "x\\", "", 0, 0, "pre x/a | pre x/s"},
    {Walk, "x\\", "", 0, 0, "pre x/a x/s/g"},
    {Walk, "file", "", 0, kNone, "pre"},
    {Rmdir, "empty", "", 0, 0, "-empty"},
    {Rmdir, "full", "", 0, kDel, ""},
    {Rmdir, "missing", "", 0, kDel, ""},
    {Rmdir, "(null)", "", 0, kDel, ""},
    {Delete, "missing", "", 0, kNone, ""},
    {Delete, "file", "", 0, kNone, ""},
    {Delete, "b", "", 0, kDel, ""},
    {Copy, "file", "t", 0, kNone, ""},
    {Copy, "missing", "t", 0, kNone, ""},
    {Copy, "r", "file", 0, kMake, ""},
    {Copy, "r", "file/t", 0, kMake, ""},
    {Copy, "r", "blocker", 0, kMake, ""},
    {Copy, "r", "n/c", 0, 0, "+n/ +n/c/ +n/c/..x=r/..x +n/c/.hidden=r/.hidden +n/c/dirlink/ "
                             "+n/c/dirlink/o=outside/o +n/c/f=r/f +n/c/filelink=outside/o +n/c/sub/ "
                             "+n/c/sub/deep/ +n/c/sub/deep/h=r/sub/deep/h +n/c/sub/g=r/sub/g "
                             "+n/c/\xC3\x28=r/\xC3\x28"},
    {Copy, "r/sub", "r/sub/in", 0, 0, "+r/sub/in/ +r/sub/in/deep/ +r/sub/in/deep/h=r/sub/deep/h "
                                      "+r/sub/in/g=r/sub/g"},
    {Copy, "x\\", "xc", 0, 0, "+xc/ +xc/a=x/a +xc/s/ +xc/s/g=x/s/g"},
    {Copy, "flat", "over", 0, 0, "~over/f=flat/f"},
    {Copy, "flat", "o\\", 0, kFail, ""},
    {Copy, "src", "dst1", 0, kFail, ""},
    {Copy, "src", "dst2", 0, kFail, ""},
    {Copy, "src", "dst3", 0, kFail, ""},
    {Delete, "x\\", "", 0, kDel, "-x/a -x/s -x/s/g"},
    {Move, "file", "m", 0, kNone, ""},
    {Move, "missing", "m", 0, kNone, ""},
    {Move, "r/sub", "file", 0, kMove, ""},
    {Move, "r/sub", "(null)", 0, kMove, ""},
    {Move, "r/sub", "r/sub/new", 0, kMove, ""},
    {Move, "r/sub", "r/sub/x/y/", 0, kMove, ""},
    {Move, "r/sub", "r/sub/deep", 0, kMove, ""},
    {Move, "r/sub", "in/z", 0, kMove, ""},
    {Move, "src", "dst1", 0, kMove, ""},
    {Move, "b", "full", 0, 0, "+full/g=b/g +full/sub/"},
    {Delete, "r/sub", "", 0, 0, "-r/sub -r/sub/deep -r/sub/deep/h -r/sub/g -r/sub/in -r/sub/in/deep "
                               "-r/sub/in/deep/h -r/sub/in/g -r/sub/loop"},
    {Delete, "r", "", 0, kDel, "-r/..x -r/.hidden -r/dirlink -r/f -r/filelink -r/\xC3\x28"},
    {Move, "r", "r2", 0, 0, "-r -r/dangling -r/fifo +r2/ +r2/dangling +r2/fifo"},
    {Copy, "flat", "n1/x", 1, kFail, "+n1/"},
    {Copy, "flat", "n1/x", 2, kFail, ""},
    {Copy, "flat", "n1/x", 3, 0, "+n1/x/ +n1/x/f=flat/f"},
    {Copy, "nest", "n2/x", 1, kNone, "+n2/"},
    {Copy, "nest", "n2/x", 2, kFail, ""},
    {Copy, "nest", "n2/x", 3, kFail, ""},
    {Copy, "flat", "old", 1, kFail, ""},
    {Copy, "flat", "old", 2, kFail, ""},
    {Copy, "nest", "old", 1, kNone, ""},
    {Copy, "nest", "old", 2, kFail, ""},
    {Copy, "nest", "old", 3, kFail, ""},
    {Copy, "flat", "old", 3, 0, "+old/f=flat/f"},
    {Move, "nest", "n3/x", 1, kMove, "+n3/"},
    {Move, "nest", "n4/x", 3, kMove, "+n4/"},
    {Move, "flat", "n5/x", 2, kMove, "+n5/"},
    {Copy, "big", "nw/x", 100000, kFail, "+nw/"},
    {Copy, "big", "old", 100000, kFail, ""},
    {Copy, "small", "nw/y", 4196, kFail, ""},
    {Walk, "nest", "", 1, 0, "pre nest/d/f"},
    {Delete, "n1", "", 1, 0, "-n1 -n1/x -n1/x/f"},
    {Move, "flat", "n6/x", 3, 0, "-flat -flat/f +n6/ +n6/x/ +n6/x/f=flat/f"},
    {List_, "pa/ns", "", -1, 0, "pre | pre"},
    {List_, "pb/nr", "", -1, kNone, "pre | pre"},
    {Walk, "pa", "", -1, 0, "pre pa/top"},
    {Walk, "pb", "", -1, kNone, "pre pb/f"},
    {Copy, "pa", "ca", -1, 0, "+ca/ +ca/ns/ +ca/top=pa/top"},
    {Copy, "pb", "cb/x", -1, kNone, "+cb/"},
    {Delete, "pa/ns", "", -1, kDel, ""},
    {Delete, "pb/nr", "", -1, kNone, ""},
    {Delete, "pc/ro", "", -1, kDel, ""},
};

} // namespace

TEST(Trees, Table) {
  bqtest::TempTree t;
  bqtest::CwdGuard guard;
  ASSERT_EQ(0, ::chdir(t.root().c_str()));
  for (char const* f : {"r/f", "r/.hidden", "r/..x", "r/\xC3\x28", "r/sub/g", "r/sub/deep/h",
                        "outside/o", "file", "full/f", "b/g", "blocker/sub", "x\\/a", "x\\/b",
                        "x/a", "x/s/g", "flat/f", "nest/d/f", "src/a", "src/d/x", "src/e/y", "pa/top",
                        "pa/ns/f", "pb/f", "pb/nr/f", "pc/ro/f", "w/f1", "w/f2", "w/d1/x",
                        "w/d1/e/y", "w/d2/z", "c/w"})
    t.write(f, f);
  t.write("src/z", std::string(10000, 'z'));
  t.write("over/f", "older and longer bytes");
  t.write("big/b", bqtest::content(200000, 1));
  t.write("small/d/s", bqtest::content(5000, 2));
  for (char const* d : {"dst1/", "dst2/", "dst3/", "old/"}) {
    t.write(d + std::string("a"), "src/a");
    t.write(d + std::string("d/keep"), d);
  }
  for (char const* d : {"empty", "x\\/s", "b/sub", "dst3/z", "pa/ns/d"})
    t.mkdir(d);
  std::string const root = t.root() + "/";
  for (auto const& l : {std::make_pair("outside", "r/dirlink"), {"outside/o", "r/filelink"},
                        {"missing", "r/dangling"}, {"r/sub", "r/sub/loop"}, {"none", "b/sub/dangling"},
                        {"r/sub", "in"}, {"src/z", "dst2/z"}, {"w", "w/d2/up"}, {"c", "w/toc"}})
    ::symlink((root + l.first).c_str(), l.second);
  ::symlink("/dev/full", "dst1/z");
  ::symlink("f", "pa/ns/l");
  ::mkfifo("r/fifo", 0600);
  for (auto m : {std::make_pair(".", 0777), {"pa", 0777}, {"pb", 0777}, {"pc", 0777},
                 {"pa/ns", 0666}, {"pb/nr", 0333}, {"pc/ro", 0555}})
    ::chmod(m.first, mode_t(m.second));
  auto arg = [](char const* s) { return s == std::string("(null)") ? BQFileSpec() : P(s); };
  for (Row const& r : rows) {
    Snap const before = bqtest::snapshot(t.root());
    auto op = [&]() -> std::string {
      int const fds = bqtest::openFds(), res = r.limit > 9 ? RLIMIT_FSIZE : RLIMIT_NOFILE;
      rlimit lim, low;
      ::getrlimit(res, &lim);
      low = lim;
      if (r.limit > 9)
        low.rlim_cur = rlim_t(r.limit);
      // A descriptor limit caps numbers: holes below it count as free.
      for (int fd = 0, left = r.limit > 9 ? 0 : r.limit; left > 0; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && --left == 0)
          low.rlim_cur = rlim_t(fd) + 1;
      std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
      ::setrlimit(res, &low);
      List f{P("pre")}, d{P("pre")};
      BQFileSpec const a = arg(r.a), b = arg(r.b);
      int const st = r.op == List_    ? BQFileUtils::getContents(a, f, d)
                     : r.op == Walk   ? BQFileUtils::RecurseFiles(a, f)
                     : r.op == Rmdir  ? BQFileUtils::deleteDir(a, false)
                     : r.op == Delete ? BQFileUtils::deleteDir(a, true)
                     : r.op == Copy   ? BQFileUtils::copyDirectory(a, b)
                                      : BQFileUtils::moveDirectory(a, b);
      ::setrlimit(res, &lim); // lifted for what the child writes as it ends
      return std::to_string(st) + (bqtest::openFds() == fds ? "" : " leak") +
             (r.op == List_ ? show(f, 1) + " |" + show(d, 1) : r.op == Walk ? show(f, asListed) : "");
    };
    // Not root: the permission rows run as the user itself, whom they bind too.
    std::string const got = r.limit == 0 ? op() : bqtest::inChild(op, r.limit < 0 && !::geteuid());
    EXPECT_EQ(std::to_string(r.status) + (*r.want ? " " : "") + r.want,
              got + diff(before, bqtest::snapshot(t.root())))
        << "op " << r.op << " " << r.a << " " << r.b << ", limit " << r.limit;
  }
  for (char const* d : {"pa/ns", "pb/nr", "pc/ro"})
    ::chmod(d, 0777); // for the clean-up
  // Pre-order: a directory's own files, then each subdirectory's whole
  // result, in listing order; links are followed, except one to an ancestor.
  List top, dirs, all{P("pre")};
  ASSERT_EQ(0, BQFileUtils::getContents(P("w"), top, dirs));
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P("w"), all));
  std::map<std::string, std::string> tail{
      {"w/d1", " w/d1/x w/d1/e/y"}, {"w/d2", " w/d2/z"}, {"w/toc", " w/toc/w"}};
  std::string want = " pre" + show(top, asListed);
  for (BQFileSpec const& d : dirs)
    want += tail[bqtest::str(d)];
  EXPECT_EQ(want, show(all, asListed));
}

// Across file systems (/dev/shm, when it is another) rename() fails: the
// move copies and then deletes the source.
TEST(Trees, MoveAcrossFileSystems) {
  bqtest::TempTree t;
  struct stat a, b;
  char other[] = "/dev/shm/bqtrees.XXXXXX";
  if (::stat(t.root().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev ||
      !::mkdtemp(other))
    GTEST_SKIP() << "no second file system at /dev/shm";
  t.write("src/d/f", bqtest::content(300000, 3));
  Snap const src = bqtest::snapshot(t.path("src"));
  EXPECT_EQ(0, BQFileUtils::moveDirectory(P(t.path("src")), P(other + std::string("/t"))));
  EXPECT_TRUE(src == bqtest::snapshot(other + std::string("/t")));
  EXPECT_FALSE(bqtest::exists(t.path("src")));
  bqtest::removeTree(other);
}
