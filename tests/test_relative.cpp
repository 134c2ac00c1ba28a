// Tests of BQFileUtils::getRelativePathTo on real directories.
#include "brackwell/fileUtils.h"
#include "support/fs_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using Brackwell::BQFileSpec;
using Brackwell::BQFileUtils;
using Brackwell::BQUtilException;

namespace {

using Brackwell::BQ_STS_DirectoryNotFound;
using bqtest::CwdGuard;
using bqtest::P;

struct Row {
  std::string from, to, out;
  int status;
};

// A tree standing for /data: maps/n/m, maps/n/tile.img, maps/a.img,
// docs/readme, docs/x, Maps.
void makeData(bqtest::TempTree const& t) {
  t.mkdir("data/maps/n/m");
  t.mkdir("data/Maps");
  t.write("data/maps/n/tile.img", "t");
  t.write("data/maps/a.img", "a");
  t.write("data/docs/readme", "r");
  t.write("data/docs/x", "x");
}

// The status, with the text of `out` (which starts as "keep") in outText.
int rel(std::string& outText, std::string const& from, std::string const& to) {
  BQFileSpec out = P("keep");
  int st = BQFileUtils::getRelativePathTo(out, P(from), P(to));
  outText = bqtest::str(out);
  return st;
}

// "../" once for every component of an absolute path, root included.
std::string climbOut(std::string const& abs) {
  std::string up = "../";
  for (char c : abs)
    if (c == '/')
      up += "../";
  return up;
}

} // namespace

// Absolute rows, then relative ones under the working directory .../data.
TEST(RelativePath, WorkedResultsAndEdgeCases) {
  bqtest::TempTree t;
  makeData(t);
  CwdGuard guard;
  ASSERT_EQ(0, ::chdir(t.path("data").c_str()));
  std::string const d = t.path("data");
  std::string const r = t.root();
  Row const rows[] = {
      {d + "/maps", d + "/maps/n/tile.img", "n/tile.img", 0},
      {d + "/maps", d + "/docs/readme", "../docs/readme", 0},
      {d + "/maps/a.img", d + "/docs", "../docs", 0},
      {d + "/maps", d + "/maps/", ".", 0},
      {d + "/maps/n/m", d, "../../..", 0},
      {r, d + "/maps", "data/maps", 0},
      {"/", d + "/maps", d.substr(1) + "/maps", 0},
      {d + "/maps", r, "../..", 0},
      {d + "/maps", "/", climbOut(d).substr(0, climbOut(d).size() - 1), 0},
      {d + "/maps", d + "/Maps", "../Maps", 0},
      {d + "/./maps/../docs", d + "/docs/x", "x", 0},
      {d, "/..", "keep", BQ_STS_DirectoryNotFound},
      {d, "/../x", "keep", BQ_STS_DirectoryNotFound},
      {"/..", d, "keep", BQ_STS_DirectoryNotFound},
      {d + "/maps/../../../../../../../../../../../..", d, "keep", BQ_STS_DirectoryNotFound},
      {d + "/maps//", d + "/docs\\", "../docs", 0},
      {d + "/./maps", d + "/n/../maps", ".", 0},
      {d + "//maps", d + "/maps/n", "../../data/maps/n", 0},
      {d + "/new.img", d + "/x", "../x", 0},
      {"/", "//", ".", 0},
      {d, "out/x", climbOut(d) + "out/x", 0}, // only one exists: not placed
      {"maps/n", "maps/o/p", "../o/p", 0}, // n exists, o/p is missing
      {"maps/q", "maps/o/p", "../o/p", 0}, // both missing
      {"maps/q/..", "maps/o", "o", 0},
      {"maps", "docs/x", "../docs/x", 0}, // both exist: cwd joined to both
      {"maps/a.img", "docs", "../docs", 0},
      {"maps", t.path("data/docs/x"), "../docs/x", 0},
      {t.path("data"), "docs/x", "docs/x", 0}, // the target placed too
      {"docs", "../data/docs", ".", 0},
      {".", "new/file", "../new/file", 0},
      {"a", "../b", "../../b", 0},
      {"a/../../b", "c", "../../c", 0},
      {"q/../..", "q/..", "../.", 0}, // the placeholder "." is kept
  };
  for (Row const& row : rows) {
    std::string out;
    EXPECT_EQ(row.status, rel(out, row.from, row.to)) << row.from << " -> " << row.to;
    EXPECT_EQ(row.out, out) << row.from << " -> " << row.to;
  }
}

// Chosen: an empty or null argument is no directory.
TEST(RelativePath, EmptyOrNullArgumentIsDirectoryNotFound) {
  bqtest::TempTree t;
  BQFileSpec out = P("keep");
  BQFileSpec const args[] = {P(""), BQFileSpec(), P(t.root())};
  for (int i = 0; i < 8; ++i) // every pair but (root, root)
    EXPECT_EQ(BQ_STS_DirectoryNotFound,
              BQFileUtils::getRelativePathTo(out, args[i / 3], args[i % 3]));
  EXPECT_STREQ("keep", out.utf8());
}
