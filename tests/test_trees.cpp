// The directory-tree operations of BQFileUtils. First as rows of one table
// run in order on one tree, with relative paths. Each row gives the status,
// then the lists of a listing ("pre" stands there before the call) or what
// changed in the whole tree: "-path", "~path=bytes" (a file rewritten),
// "+path" (a directory with "/", a file with "=" and its bytes, which are its
// path in the fixture). Rows with a limit run in a child: 1 to 3 descriptors
// left free, a file size limit in bytes, or -1 as user 65534. Then a tree
// that changes while it is walked, and trees of great depth and width (suite
// Scale, labelled "slow"). test_fault_points fails single calls.
#include "brackwell/fileUtils.h"
#include "support/bqtest.h"

#include <numeric>

using namespace Brackwell;
using bqtest::exists;
using bqtest::P;
using bqtest::snapshot;
using List = std::vector<BQFileSpec>;

namespace {

std::size_t const asListed = std::string::npos;

bool oneOf(BQ_STATUS s, std::initializer_list<BQ_STATUS> ok) {
  return std::find(ok.begin(), ok.end(), s) != ok.end();
}

// The list's paths, separated by spaces; those from index `from` on sorted.
std::string show(List const& l, std::size_t from = 0) {
  std::vector<std::string> v;
  for (BQFileSpec const& p : l)
    v.push_back(" " + bqtest::str(p));
  std::sort(v.begin() + long(std::min(from, v.size())), v.end());
  return std::accumulate(v.begin(), v.end(), std::string());
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
    // Listing and walking.
    {List_, "r", "", 0, 0, "pre r/..x r/.hidden r/f r/filelink r/\xC3\x28 | pre r/dirlink r/sub"},
    {List_, "empty", "", 0, 0, "pre | pre"}, {List_, "file", "", 0, kNone, "pre | pre"},
    {List_, "missing", "", 0, kNone, "pre | pre"}, {List_, "(null)", "", 0, kNone, "pre | pre"},
    {List_, "x\\", "", 0, 0, "pre x/a | pre x/s"}, {Walk, "x\\", "", 0, 0, "pre x/a x/s/g"},
    {Walk, "file", "", 0, kNone, "pre"},
    // Deletion, alone and of a whole tree.
    {Rmdir, "empty", "", 0, 0, "-empty"}, {Rmdir, "full", "", 0, kDel, ""},
    {Rmdir, "missing", "", 0, kDel, ""}, {Rmdir, "(null)", "", 0, kDel, ""},
    {Delete, "missing", "", 0, kNone, ""}, {Delete, "file", "", 0, kNone, ""},
    {Delete, "b", "", 0, kDel, ""},
    // Copies: targets that cannot be made, whole trees, rollbacks.
    {Copy, "file", "t", 0, kNone, ""}, {Copy, "r", "file", 0, kMake, ""},
    {Copy, "r", "file/t", 0, kMake, ""}, {Copy, "r", "blocker", 0, kMake, ""},
    {Copy, "r", "n/c", 0, 0, "+n/ +n/c/ +n/c/..x=r/..x +n/c/.hidden=r/.hidden +n/c/dirlink/ "
                             "+n/c/dirlink/o=outside/o +n/c/f=r/f +n/c/filelink=outside/o +n/c/sub/ "
                             "+n/c/sub/deep/ +n/c/sub/deep/h=r/sub/deep/h +n/c/sub/g=r/sub/g "
                             "+n/c/\xC3\x28=r/\xC3\x28"},
    {Copy, "r/sub", "r/sub/in", 0, 0, "+r/sub/in/ +r/sub/in/deep/ +r/sub/in/deep/h=r/sub/deep/h "
                                      "+r/sub/in/g=r/sub/g"},
    {Copy, "x\\", "xc", 0, 0, "+xc/ +xc/a=x/a +xc/s/ +xc/s/g=x/s/g"},
    {Copy, "flat", "over", 0, 0, "~over/f=flat/f"}, {Copy, "flat", "o\\", 0, kFail, ""},
    {Copy, "src", "dst1", 0, kFail, ""}, {Copy, "src", "dst2", 0, kFail, ""},
    {Copy, "src", "dst3", 0, kFail, ""},
    {Delete, "x\\", "", 0, kDel, "-x/a -x/s -x/s/g"},
    // Moves: refused targets, a merge, a rename.
    {Move, "file", "m", 0, kNone, ""}, {Move, "r/sub", "file", 0, kMove, ""},
    {Move, "r/sub", "(null)", 0, kMove, ""}, {Move, "r/sub", "r/sub/new", 0, kMove, ""},
    {Move, "r/sub", "r/sub/x/y/", 0, kMove, ""}, {Move, "r/sub", "r/sub/deep", 0, kMove, ""},
    {Move, "r/sub", "in/z", 0, kMove, ""}, {Move, "src", "dst1", 0, kMove, ""},
    {Move, "b", "full", 0, 0, "+full/g=b/g +full/sub/"},
    {Delete, "r/sub", "", 0, 0, "-r/sub -r/sub/deep -r/sub/deep/h -r/sub/g -r/sub/in -r/sub/in/deep "
                               "-r/sub/in/deep/h -r/sub/in/g -r/sub/loop"},
    {Delete, "r", "", 0, kDel, "-r/..x -r/.hidden -r/dirlink -r/f -r/filelink -r/\xC3\x28"},
    {Move, "r", "r2", 0, 0, "-r -r/dangling -r/fifo +r2/ +r2/dangling +r2/fifo"},
    // Too few descriptors (1 to 3 free), into a new target and into "old".
    {Copy, "flat", "n1/x", 1, kFail, "+n1/"}, {Copy, "flat", "n1/x", 2, kFail, ""},
    {Copy, "flat", "n1/x", 3, 0, "+n1/x/ +n1/x/f=flat/f"},
    {Copy, "nest", "n2/x", 1, kNone, "+n2/"}, {Copy, "nest", "n2/x", 2, kFail, ""},
    {Copy, "nest", "n2/x", 3, kFail, ""},
    {Copy, "flat", "old", 1, kFail, ""}, {Copy, "flat", "old", 2, kFail, ""},
    {Copy, "nest", "old", 1, kNone, ""}, {Copy, "nest", "old", 2, kFail, ""},
    {Copy, "nest", "old", 3, kFail, ""}, {Copy, "flat", "old", 3, 0, "+old/f=flat/f"},
    {Move, "nest", "n3/x", 1, kMove, "+n3/"}, {Move, "nest", "n4/x", 3, kMove, "+n4/"},
    {Move, "flat", "n5/x", 2, kMove, "+n5/"},
    // A file size limit in bytes: big fails mid-file, small at the flush.
    {Copy, "big", "nw/x", 100000, kFail, "+nw/"}, {Copy, "big", "old", 100000, kFail, ""},
    {Copy, "small", "nw/y", 4196, kFail, ""},
    // One descriptor is enough to walk and to delete; three to move flat.
    {Walk, "nest", "", 1, 0, "pre nest/d/f"}, {Delete, "n1", "", 1, 0, "-n1 -n1/x -n1/x/f"},
    {Move, "flat", "n6/x", 3, 0, "-flat -flat/f +n6/ +n6/x/ +n6/x/f=flat/f"},
    // Permissions, as user 65534.
    {List_, "pa/ns", "", -1, 0, "pre | pre"}, {List_, "pb/nr", "", -1, kNone, "pre | pre"},
    {Walk, "pa", "", -1, 0, "pre pa/top"}, {Walk, "pb", "", -1, kNone, "pre pb/f"},
    {Copy, "pa", "ca", -1, 0, "+ca/ +ca/ns/ +ca/top=pa/top"}, {Copy, "pb", "cb/x", -1, kNone, "+cb/"},
    {Delete, "pa/ns", "", -1, kDel, ""}, {Delete, "pb/nr", "", -1, kNone, ""},
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
  // A new value as the rows show it: "/" for a directory, "=" and the bytes for a file.
  auto tell = [](std::string const& v) { return v == "<dir>" ? "/" : v[0] == '<' ? "" : "=" + v; };
  for (Row const& r : rows) {
    auto const before = snapshot(t.root());
    auto op = [&]() -> std::string {
      int const fds = bqtest::openFds(), res = r.limit > 9 ? RLIMIT_FSIZE : RLIMIT_NOFILE;
      rlimit lim;
      ::getrlimit(res, &lim);
      rlimit low{r.limit > 9 ? rlim_t(r.limit) : lim.rlim_cur, lim.rlim_max};
      // A descriptor limit caps numbers: holes below it count as free.
      for (int fd = 0, left = r.limit > 9 ? 0 : r.limit; left > 0; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && --left == 0)
          low.rlim_cur = rlim_t(fd) + 1;
      std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
      ::setrlimit(res, &low);
      List f{P("pre")}, d{P("pre")};
      int const st = r.op == List_    ? BQFileUtils::getContents(arg(r.a), f, d)
                     : r.op == Walk   ? BQFileUtils::RecurseFiles(arg(r.a), f)
                     : r.op == Rmdir  ? BQFileUtils::deleteDir(arg(r.a), false)
                     : r.op == Delete ? BQFileUtils::deleteDir(arg(r.a), true)
                     : r.op == Copy   ? BQFileUtils::copyDirectory(arg(r.a), arg(r.b))
                                      : BQFileUtils::moveDirectory(arg(r.a), arg(r.b));
      ::setrlimit(res, &lim); // lifted for what the child writes as it ends
      return std::to_string(st) + (bqtest::openFds() == fds ? "" : " leak") +
             (r.op == List_ ? show(f, 1) + " |" + show(d, 1) : r.op == Walk ? show(f, asListed) : "");
    };
    // Not root: the permission rows run as the user itself, whom they bind too.
    std::string const got = r.limit == 0 ? op() : bqtest::inChild(op, r.limit < 0 && !::geteuid());
    EXPECT_EQ(std::to_string(r.status) + (*r.want ? " " : "") + r.want,
              got + bqtest::changes(before, snapshot(t.root()), tell))
        << "op " << r.op << " " << r.a << " " << r.b << ", limit " << r.limit;
  }
  for (char const* d : {"pa/ns", "pb/nr", "pc/ro"})
    ::chmod(d, 0777); // for the clean-up
  // Pre-order: a directory's own files, then each subdirectory's whole
  // result, in listing order; links are followed, except one to an ancestor.
  List top, dirs, all{P("pre")};
  ASSERT_EQ(0, BQFileUtils::getContents(P("w"), top, dirs));
  ASSERT_EQ(0, BQFileUtils::RecurseFiles(P("w"), all));
  std::map<std::string, std::string> tail{{"w/d1", " w/d1/x w/d1/e/y"}, {"w/d2", " w/d2/z"}, {"w/toc", " w/toc/w"}};
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
  auto const src = snapshot(t.path("src"));
  EXPECT_EQ(0, BQFileUtils::moveDirectory(P(t.path("src")), P(other + std::string("/t"))));
  EXPECT_TRUE(src == snapshot(other + std::string("/t")) && !exists(t.path("src")));
  bqtest::removeTree(other);
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
  auto const outside = snapshot(out);
  EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
    ::alarm(60);
    std::atomic<int> working{3}, bad{0};
    std::thread mutator([&] {
      for (int i = 0; working > 0; ++i) {
        std::string const m = tree + "/m" + std::to_string(i % 7), s = tree + "/s" + std::to_string(i % 3);
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
  // The deepest level that a path names, and the first at half that length.
  std::string dir = deep, last, half;
  for (; dir.size() < PATH_MAX + 32; dir += "/" + level) {
    std::size_t const len = dir.size();
    last = len < PATH_MAX ? dir : last;
    half = len < PATH_MAX / 2 || !half.empty() ? half : dir;
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
  auto const tree = snapshot(deep); // what a path reaches
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
      CHILD_CHECK(cap == 32 ? oneOf(s, {BQ_STS_Failure, BQ_STS_DirectoryNotFound}) && !exists(copy)
                            : s == 0 && snapshot(copy) == tree);
      return "";
    })) << cap;
  // A move target too long to name, or to climb from to the root, cannot be
  // placed: it is refused.
  for (std::string const& to : {std::string(PATH_MAX, 'x'), last})
    EXPECT_EQ(BQ_STS_DirectoryMoveFailed, BQFileUtils::moveDirectory(P(deep), P(to)));
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(copy), true));
  EXPECT_EQ(BQ_STS_FileDeleteFailed, BQFileUtils::deleteDir(P(deep), true));
  // Both halves fit a path, for the clean-up.
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
  EXPECT_EQ("10000 0 10000",
            std::to_string(files.size()) + " " + std::to_string(dirs.size()) + " " + std::to_string(all.size()));
  EXPECT_EQ(0, BQFileUtils::deleteDir(P(many), true));
  EXPECT_FALSE(exists(many));
}
