// BQFileSpec: joining in every constructor family, conversion of UTF-16 and
// wide components, the null and empty values, renderings, comparisons and
// decomposition.
#include "brackwell/fileSpec.h"
#include "support/bqtest.h"

using Brackwell::BQFileSpec;
using bqtest::str;

namespace {

auto const kUtf8 = BQFileSpec::ENCODING_UTF8;

// ASCII text as UTF-16 or wide units; ptr() gives null for a null text.
template <class C> std::vector<C> units(char const* s) {
  return s ? std::vector<C>(s, s + std::strlen(s) + 1) : std::vector<C>();
}
template <class C> C const* ptr(std::vector<C> const& v) { return v.empty() ? nullptr : v.data(); }

// Components a, b, c (b may be null; c given means three components).
struct JoinRow { char const *a, *b, *c, *path; };
JoinRow const kJoinRows[] = {
    {"a", "x", nullptr, "a/x"}, {"a/", "x", nullptr, "a/x"}, {"a//", "x", nullptr, "a/x"},
    {"a\\", "x", nullptr, "a/x"}, {"X:\\dir", "f", nullptr, "X:\\dir/f"},
    {"", "x", nullptr, "/x"}, {"/", "x", nullptr, "/x"}, {"//", "x", nullptr, "/x"},
    {"a", "", nullptr, "a/"}, {"", "", nullptr, "/"}, {"a", "/x", nullptr, "a//x"},
    {"a", "//", "c", "a/c"}, {"a", "", "c", "a/c"}, {"/usr/", "/lib/", "x", "/usr//lib/x"},
    {"a/b", nullptr, "c", "a/b"}, {"a//", nullptr, nullptr, "a//"}, {"", nullptr, nullptr, ""},
};

} // namespace

// Every row through every constructor that takes its number of components.
// Only the encoding value 1 means UTF-8; 0 and any other value (7) are native.
TEST(FileSpec, JoinInEveryFamily) {
  auto const n = BQFileSpec::ENCODING_NATIVE, u = kUtf8, o = BQFileSpec::EncodingType(7);
  for (JoinRow const& r : kJoinRows) {
    auto ua = units<unsigned short>(r.a), ub = units<unsigned short>(r.b), uc = units<unsigned short>(r.c);
    auto wa = units<wchar_t>(r.a), wb = units<wchar_t>(r.b), wc = units<wchar_t>(r.c);
    BQFileSpec const pa(r.a, u), pb(r.b, u), pc(r.c, u); // a null b gives the null value
    std::vector<BQFileSpec> got;
    if (!r.b && !r.c)
      got = {{r.a, n}, {r.a, u}, {r.a, o}, BQFileSpec(ptr(ua)), BQFileSpec(ptr(wa))};
    else if (!r.c)
      got = {{r.a, r.b, n}, {r.a, r.b, u}, {r.a, r.b, o}, {pa, r.b, n}, {pa, r.b, u}, {pa, r.b, o},
             {ptr(ua), ptr(ub)}, {ptr(wa), ptr(wb)}, {pa, ptr(ub)}, {pa, ptr(wb)}, {pa, pb}};
    else
      got = {{r.a, r.b, r.c, n}, {r.a, r.b, r.c, u}, {r.a, r.b, r.c, o}, {pa, r.b, r.c, n},
             {pa, r.b, r.c, o}, {pa, pb, r.c, n}, {pa, pb, r.c, u}, {pa, pb, pc},
             {ptr(ua), ptr(ub), ptr(uc)}, {ptr(wa), ptr(wb), ptr(wc)}, {pa, ptr(ub), ptr(uc)},
             {pa, ptr(wb), ptr(wc)}, {pa, pb, ptr(uc)}, {pa, pb, ptr(wc)}};
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(r.path, str(got[i])) << "form " << i << " of " << r.path;
  }
  // Components may point into the path being replaced; the renderings of
  // the old path go.
  long const blocks = bqtest::liveBlocks();
  {
    BQFileSpec f("dir/", kUtf8);
    ASSERT_TRUE(f.n_str() && f.w_str()); // renderings of the old path, which must go
    f.init(f.utf8(), f.utf8() + 1, f.utf8());
    EXPECT_EQ("dir/ir/dir/|dir/ir/dir/", str(f) + "|" + f.n_str());
    EXPECT_EQ(std::wstring(L"dir/ir/dir/"), f.w_str());
  }
  EXPECT_EQ(blocks, bqtest::liveBlocks()); // the old path released too
}

TEST(FileSpec, NonAsciiComponents) {
  unsigned short pair[] = {'x', 0xD83D, 0xDE00, 0}, lone[] = {'a', 0xD800, 'c', 0}, dir[] = {'d', 0};
  wchar_t astral[] = {0x1F600, 0}, surrogate[] = {'q', 0xDC00, 'r', 0}, beyond[] = {'q', 0x110000, 'r', 0};
  EXPECT_EQ("x\xF0\x9F\x98\x80|a|d/a|\xF0\x9F\x98\x80|q|q\xEF\xBF\xBDr",
            str(BQFileSpec(pair)) + "|" + str(BQFileSpec(lone)) + "|" + str(BQFileSpec(dir, lone)) + "|" +
                str(BQFileSpec(astral)) + "|" + str(BQFileSpec(surrogate)) + "|" + str(BQFileSpec(beyond)));
}

TEST(FileSpec, ValuesAndRenderings) {
  BQFileSpec null, assigned("x", kUtf8), moved("m", kUtf8), filled;
  assigned = null;
  BQFileSpec const movedTo(std::move(moved));
  filled = movedTo;
  unsigned short const b16[] = {'b', 0};
  BQFileSpec const nulls[] = {
      null, BQFileSpec(null), assigned, moved, BQFileSpec(static_cast<unsigned short const*>(nullptr)),
      // Chosen where the first component is null: the null value.
      BQFileSpec(static_cast<char const*>(nullptr), "b", BQFileSpec::ENCODING_NATIVE),
      BQFileSpec(null, "b", kUtf8), BQFileSpec(static_cast<unsigned short const*>(nullptr), b16, b16),
      BQFileSpec(static_cast<wchar_t const*>(nullptr)), BQFileSpec(null, BQFileSpec(), L"c")};
  for (BQFileSpec const& f : nulls)
    EXPECT_TRUE(f.empty() && !f.utf8() && !f.n_str() && !f.w_str()) << &f - nulls;
  BQFileSpec empty("", kUtf8);
  EXPECT_TRUE(empty.empty() && !BQFileSpec("a", kUtf8).empty() && empty.n_str() != empty.utf8());
  EXPECT_EQ("||0|m|m", std::string(empty.utf8()) + "|" + empty.n_str() + "|" +
                           std::to_string(empty.w_str()[0]) + "|" + str(movedTo) + "|" + str(filled));

  // Renderings: made once per path, each value its own; self-assignment and
  // moving into itself keep the path (chosen); a move takes them along.
  BQFileSpec f("d\xC3\xA9j\xC3\xA0/\xF0\x9F\x98\x80", kUtf8);
  char const* n = f.n_str();
  wchar_t const* w = f.w_str();
  BQFileSpec copy(f);
  wchar_t const* cw = copy.w_str();
  EXPECT_TRUE(n != f.utf8() && n == f.n_str() && w == f.w_str() && w != cw && f.utf8() != copy.utf8());
  EXPECT_STREQ(f.utf8(), n);
  EXPECT_EQ(std::wstring(L"d\u00E9j\u00E0/\U0001F600|d\u00E9j\u00E0/\U0001F600"), std::wstring(w) + L"|" + cw);
  f = BQFileSpec("other", kUtf8);
  BQFileSpec& self = f;
  EXPECT_EQ(std::make_tuple(std::string("other"), std::wstring(L"other")), std::make_tuple(f.n_str(), f.w_str()));
  f = self; // the renderings go, the path stays
  EXPECT_EQ(std::wstring(L"other"), f.w_str());
  f = std::move(self);
  EXPECT_STREQ("other", f.n_str());
  filled = std::move(copy);
  EXPECT_TRUE(cw == filled.w_str() && !copy.utf8());
  EXPECT_EQ(std::wstring(L"ab"), BQFileSpec("ab\xE2\x41z", kUtf8).w_str());
}

// Columns: == != < <= > >=; a null text stands for the null value.
TEST(FileSpec, Comparisons) {
  struct { char const *x, *y, *results; } const rows[] = {
      {nullptr, nullptr, "100000"}, {nullptr, "", "010000"}, {"", nullptr, "010000"}, {"", "", "100101"},
      {"B", "a", "011100"}, {"a/b", "a0", "011100"}, {"z", "\xC3\xA9", "011100"}, {"b", "a", "010011"},
      {"a/b", "a/b", "100101"}, {"a/b", "a//b", "010011"}, {"a/b", "a\\b", "011100"}, {"a/b", "A/b", "010011"}};
  for (auto const& r : rows) {
    BQFileSpec const x(r.x, kUtf8), y(r.y, kUtf8); // null text: the null value
    std::string got;
    for (bool b : {x == y, x != y, x < y, x <= y, x > y, x >= y})
      got += b ? '1' : '0';
    EXPECT_EQ(r.results, got) << str(x) << " vs " << str(y);
  }
}

// dirname|basename|getSuffix|getPrefixLength|replaceSuffix("txt")|removeSuffix,
// then "|abs" where absolute() holds
TEST(FileSpec, Decomposition) {
  struct { char const *path, *parts; } const rows[] = {
      // The null value acts as the empty path (chosen).
      {"", ".|||0|.txt|(null)"}, {nullptr, ".|||0|.txt|(null)"}, {"/", "/|/||1|/.txt|/|abs"},
      {"//", "/|//||2|//.txt|//|abs"}, {"\\", "\\|\\||1|\\.txt|\\"}, {"a", ".|a||1|a.txt|a"},
      {"a/", ".|a/||2|a/.txt|a/"}, {"/a", "/|a||2|/a.txt|/a|abs"}, {"/a/", "/|a/||3|/a/.txt|/a/|abs"},
      {"a/b", "a|b||3|a/b.txt|a/b"}, {"a/b/", "a|b/||4|a/b/.txt|a/b/"}, {"a//b", "a/|b||4|a//b.txt|a//b"},
      {"/a/b", "/a|b||4|/a/b.txt|/a/b|abs"}, {"//a", "/|a||3|//a.txt|//a|abs"}, {"./a", ".|a|/a|3|./a.txt|./a"},
      {"../a", "..|a|/a|4|../a.txt|../a"}, {"a/.", "a|.||2|a/.txt|a/"}, {".", ".|.||0|.txt|(null)"},
      {"..", ".|..||1|..txt|."}, {"dir/file.tar.gz", "dir|file.tar.gz|gz|12|dir/file.tar.txt|dir/file.tar"},
      {"dir.d/file", "dir.d|file|d/file|10|dir.d/file.txt|dir.d/file"},
      {".profile", ".|.profile|profile|0|.txt|(null)"}, {"dir/.hidden", "dir|.hidden|hidden|4|dir/.txt|dir/"},
      {"a.b/", ".|a.b/|b/|1|a.txt|a"}, {"file.", ".|file.||4|file.txt|file"},
      {"X:\\dir\\file.txt", "X:\\dir|file.txt|txt|11|X:\\dir\\file.txt|X:\\dir\\file"},
      {"X:\\", ".|X:\\||3|X:\\.txt|X:\\"}, {"a/b//", "a|b//||5|a/b//.txt|a/b//"},
      {"\\\\host\\share", "\\\\host|share||12|\\\\host\\share.txt|\\\\host\\share"}};
  for (auto const& r : rows) {
    BQFileSpec f(r.path, kUtf8);
    std::string got = str(f.dirname()) + "|" + f.basename() + "|" + f.getSuffix() + "|" +
                      std::to_string(f.getPrefixLength()) + "|" + str(f.replaceSuffix("txt")) +
                      "|" + str(f.removeSuffix()) + (f.absolute() ? "|abs" : "");
    EXPECT_EQ(r.parts, got) << str(f);
    if (!r.path)
      continue;
    // basename and a found suffix point into the path itself.
    char const* end = f.utf8() + std::strlen(r.path);
    EXPECT_TRUE(f.basename() == end - std::strlen(f.basename()) &&
                (!std::strchr(r.path, '.') || f.getSuffix() == end - std::strlen(f.getSuffix()))) << r.path;
  }
  BQFileSpec f("file.txt", kUtf8);
  EXPECT_EQ("file.|file.|file..bak", str(f.replaceSuffix(nullptr)) + "|" + str(f.replaceSuffix("")) +
                                           "|" + str(f.replaceSuffix(".bak")));
}

// The separator search reads eight bytes at a time: one byte at every
// position of a path of 1 to 40 bytes, either a separator or a byte one bit
// or one step away from one, with and without a trailing "/". dirname uses
// the same search; the table above covers what it makes of the position.
TEST(FileSpec, SeparatorAtEveryPosition) {
  for (std::size_t len = 1; len <= 40; ++len)
    for (std::size_t at = 0; at < len; ++at)
      for (char ch : {'/', '\\', '.', '0', '\xAF', '\xDC', '[', ']'})
        for (char const* tail : {"", "/"}) {
          std::string path = std::string(at, 'n') + ch + std::string(len - at - 1, 'n') + tail;
          bool inside = (ch == '/' || ch == '\\') && at + 1 < len; // not one of the trailing ones
          ASSERT_EQ(inside ? path.substr(at + 1) : path, BQFileSpec(path.c_str(), kUtf8).basename()) << path;
        }
}
