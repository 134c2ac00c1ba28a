// Tests of BQFileUtils::getRelativePathTo on real directories.
#include "brackwell/fileUtils.h"
#include "support/bqtest.h"

using namespace Brackwell;
using bqtest::P;

// Absolute rows, then relative ones under the working directory .../data,
// in a tree standing for /data: maps/n/m, maps/n/tile.img, maps/a.img,
// docs/readme, docs/x and Maps. `out` starts as "keep" and stays so on
// failure.
TEST(RelativePath, WorkedResultsAndEdgeCases) {
  bqtest::TempTree t;
  t.mkdir("data/maps/n/m");
  t.mkdir("data/Maps");
  for (char const* f : {"maps/n/tile.img", "maps/a.img", "docs/readme", "docs/x"})
    t.write("data/" + std::string(f), "x");
  bqtest::CwdGuard guard;
  ASSERT_EQ(0, ::chdir(t.path("data").c_str()));
  std::string const d = t.path("data"), r = t.root();
  std::string up = "../"; // one for every component of d, the root included
  for (char c : d)
    up += c == '/' ? "../" : "";
  int const kNotFound = BQ_STS_DirectoryNotFound;
  std::string const z(300, 'z'); // a result longer than any stack buffer
  struct { std::string from, to, out; int status; } const rows[] = {
      {d + "/maps", d + "/maps/n/tile.img", "n/tile.img", 0}, {d + "/maps", d + "/docs/readme", "../docs/readme", 0},
      {d + "/maps/a.img", d + "/docs", "../docs", 0}, {d + "/maps", d + "/maps/", ".", 0},
      {d + "/maps/n/m", d, "../../..", 0}, {r, d + "/maps", "data/maps", 0},
      {"/", d + "/maps", d.substr(1) + "/maps", 0}, {d + "/maps", r, "../..", 0},
      {d + "/maps", "/", up.substr(0, up.size() - 1), 0}, {d + "/maps", d + "/Maps", "../Maps", 0},
      {d + "/./maps/../docs", d + "/docs/x", "x", 0}, {d, "/..", "keep", kNotFound},
      {d, "/../x", "keep", kNotFound}, {"/..", d, "keep", kNotFound},
      {d + "/maps/../../../../../../../../../../../..", d, "keep", kNotFound},
      {d + "/maps//", d + "/docs\\", "../docs", 0}, {d + "/./maps", d + "/n/../maps", ".", 0},
      {d + "//maps", d + "/maps/n", "../../data/maps/n", 0}, {d + "/new.img", d + "/x", "../x", 0},
      {"/", "//", ".", 0}, {d, "out/x", up + "out/x", 0}, // only one exists: not placed
      {"maps/n", "maps/o/p", "../o/p", 0}, // n exists, o/p is missing
      {"maps/q", "maps/o/p", "../o/p", 0}, // both missing
      {"maps/q/..", "maps/o", "o", 0}, {"maps", "docs/x", "../docs/x", 0}, // both exist: placed
      {"maps/a.img", "docs", "../docs", 0}, {"maps", t.path("data/docs/x"), "../docs/x", 0},
      {t.path("data"), "docs/x", "docs/x", 0}, {"docs", "../data/docs", ".", 0},
      {".", "new/file", "../new/file", 0}, {"a", "../b", "../../b", 0}, {"a/../../b", "c", "../../c", 0},
      {"q/../..", "q/..", "../.", 0}, // the placeholder "." is kept
      {"maps", "maps/" + z + "/" + z, z + "/" + z, 0},
      // Chosen: an empty or null argument (written "-") is no directory.
      {"", r, "keep", kNotFound}, {r, "", "keep", kNotFound}, {"-", r, "keep", kNotFound},
      {r, "-", "keep", kNotFound}, {"", "-", "keep", kNotFound}, {"-", "", "keep", kNotFound}};
  auto path = [](std::string const& s) { return s == "-" ? BQFileSpec() : P(s); };
  for (auto const& row : rows) {
    BQFileSpec out = P("keep");
    BQ_STATUS st = BQFileUtils::getRelativePathTo(out, path(row.from), path(row.to));
    EXPECT_EQ(std::to_string(row.status) + " " + row.out, std::to_string(st) + " " + bqtest::str(out))
        << row.from << " -> " << row.to;
  }
}
