// BQFileSpec: joining in every constructor family, conversion of UTF-16 and
// wide components, the null and empty values, renderings, comparisons and
// decomposition.
#include "brackwell/fileSpec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using Brackwell::BQFileSpec;

namespace {

auto const kUtf8 = BQFileSpec::ENCODING_UTF8;

std::string str(BQFileSpec const& f) {
  return f.utf8() ? std::string(f.utf8()) : std::string("(null)");
}

// One ASCII component as UTF-16 and wide text; null stays null.
struct Forms {
  char const* n;
  std::vector<unsigned short> u;
  std::wstring w;
  explicit Forms(char const* s) : n(s) {
    for (; s && *s; ++s) {
      u.push_back(static_cast<unsigned char>(*s));
      w += static_cast<wchar_t>(*s);
    }
    u.push_back(0);
  }
  unsigned short const* u16() const { return n ? u.data() : nullptr; }
  wchar_t const* wide() const { return n ? w.c_str() : nullptr; }
};

struct JoinRow {
  int count; // components given
  char const* a;
  char const* b; // may be null
  char const* c;
  char const* path;
};

JoinRow const kJoinRows[] = {
    {2, "a", "x", nullptr, "a/x"},
    {2, "a/", "x", nullptr, "a/x"},
    {2, "a//", "x", nullptr, "a/x"},
    {2, "a\\", "x", nullptr, "a/x"},
    {2, "X:\\dir", "f", nullptr, "X:\\dir/f"},
    {2, "", "x", nullptr, "/x"},
    {2, "/", "x", nullptr, "/x"},
    {2, "//", "x", nullptr, "/x"},
    {2, "a", "", nullptr, "a/"},
    {2, "", "", nullptr, "/"},
    {2, "a", "/x", nullptr, "a//x"},
    {3, "a", "//", "c", "a/c"},
    {3, "a", "", "c", "a/c"},
    {3, "/usr/", "/lib/", "x", "/usr//lib/x"},
    {3, "a/b", nullptr, "c", "a/b"},
    {1, "a//", nullptr, nullptr, "a//"},
    {1, "", nullptr, nullptr, ""},
};

} // namespace

// Every row through every constructor that takes its number of components.
// Only the encoding value 1 means UTF-8; 0 and any other value (7) are native.
TEST(FileSpec, JoinInEveryFamily) {
  for (JoinRow const& r : kJoinRows) {
    Forms a(r.a), b(r.b), c(r.c);
    BQFileSpec pa(r.a, kUtf8);
    std::vector<BQFileSpec> got;
    for (int e : {0, 1, 7}) {
      auto enc = static_cast<BQFileSpec::EncodingType>(e);
      if (r.count == 1) {
        got.emplace_back(r.a, enc);
      } else if (r.count == 2) {
        got.emplace_back(r.a, r.b, enc);
        got.emplace_back(pa, r.b, enc);
      } else {
        got.emplace_back(r.a, r.b, r.c, enc);
        got.emplace_back(pa, r.b, r.c, enc);
      }
    }
    if (r.count == 1) {
      got.emplace_back(a.u16());
      got.emplace_back(a.wide());
    } else if (r.count == 2) {
      got.emplace_back(a.u16(), b.u16());
      got.emplace_back(a.wide(), b.wide());
      got.emplace_back(pa, b.u16());
      got.emplace_back(pa, b.wide());
      got.emplace_back(pa, BQFileSpec(r.b, kUtf8));
    } else {
      got.emplace_back(a.u16(), b.u16(), c.u16());
      got.emplace_back(a.wide(), b.wide(), c.wide());
      got.emplace_back(pa, b.u16(), c.u16());
      got.emplace_back(pa, b.wide(), c.wide());
      if (r.b) {
        BQFileSpec pb(r.b, kUtf8);
        got.emplace_back(pa, pb, r.c, BQFileSpec::ENCODING_NATIVE);
        got.emplace_back(pa, pb, BQFileSpec(r.c, kUtf8));
        got.emplace_back(pa, pb, c.u16());
        got.emplace_back(pa, pb, c.wide());
      }
    }
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(r.path, str(got[i])) << "form " << i << " of " << r.path;
  }
  // A component may point into the path being replaced.
  BQFileSpec f("dir/", kUtf8);
  f.init(f.utf8(), f.utf8() + 1, f.utf8());
  EXPECT_EQ("dir/ir/dir/", str(f));
}

TEST(FileSpec, NonAsciiComponents) {
  unsigned short pair[] = {'x', 0xD83D, 0xDE00, 0}, lone[] = {'a', 0xD800, 'c', 0},
                 dir[] = {'d', 0};
  wchar_t astral[] = {0x1F600, 0}, surrogate[] = {'q', 0xDC00, 'r', 0},
          beyond[] = {'q', 0x110000, 'r', 0};
  EXPECT_EQ("x\xF0\x9F\x98\x80", str(BQFileSpec(pair)));
  EXPECT_EQ("a", str(BQFileSpec(lone)));
  EXPECT_EQ("d/a", str(BQFileSpec(dir, lone)));
  EXPECT_EQ("\xF0\x9F\x98\x80", str(BQFileSpec(astral)));
  EXPECT_EQ("q", str(BQFileSpec(surrogate)));
  EXPECT_EQ("q\xEF\xBF\xBDr", str(BQFileSpec(beyond)));
}

TEST(FileSpec, NullAndEmptyValues) {
  BQFileSpec null, assigned("x", kUtf8);
  assigned = null;
  unsigned short const b16[] = {'b', 0};
  BQFileSpec const nulls[] = {
      null, BQFileSpec(null), assigned,
      BQFileSpec(static_cast<unsigned short const*>(nullptr)),
      // Chosen where the first component is null: the null value.
      BQFileSpec(static_cast<char const*>(nullptr), "b", BQFileSpec::ENCODING_NATIVE),
      BQFileSpec(null, "b", kUtf8),
      BQFileSpec(static_cast<unsigned short const*>(nullptr), b16, b16),
      BQFileSpec(static_cast<wchar_t const*>(nullptr)),
      BQFileSpec(null, BQFileSpec(), L"c")};
  for (BQFileSpec const& f : nulls) {
    EXPECT_TRUE(f.empty());
    EXPECT_EQ(nullptr, f.utf8());
    EXPECT_EQ(nullptr, f.n_str());
    EXPECT_EQ(nullptr, f.w_str());
  }
  BQFileSpec empty("", kUtf8);
  EXPECT_TRUE(empty.empty());
  EXPECT_STREQ("", empty.utf8());
  EXPECT_STREQ("", empty.n_str());
  EXPECT_NE(empty.utf8(), empty.n_str());
  EXPECT_EQ(L'\0', empty.w_str()[0]);
  EXPECT_FALSE(BQFileSpec("a", kUtf8).empty());
}

TEST(FileSpec, Renderings) {
  BQFileSpec f("d\xC3\xA9j\xC3\xA0/\xF0\x9F\x98\x80", kUtf8);
  char const* n = f.n_str();
  wchar_t const* w = f.w_str();
  EXPECT_NE(f.utf8(), n);
  EXPECT_STREQ(f.utf8(), n);
  EXPECT_EQ(n, f.n_str());
  EXPECT_EQ(std::wstring(L"d\u00E9j\u00E0/\U0001F600"), w);
  EXPECT_EQ(w, f.w_str());
  BQFileSpec copy(f); // builds its own
  EXPECT_NE(f.utf8(), copy.utf8());
  EXPECT_NE(w, copy.w_str());
  EXPECT_EQ(std::wstring(w), copy.w_str());
  f = BQFileSpec("other", kUtf8);
  EXPECT_STREQ("other", f.n_str());
  EXPECT_EQ(std::wstring(L"other"), f.w_str());
  BQFileSpec& self = f;
  f = self; // chosen: self-assignment keeps the path
  EXPECT_STREQ("other", f.utf8());
  EXPECT_EQ(std::wstring(L"other"), f.w_str());
  EXPECT_EQ(std::wstring(L"ab"), BQFileSpec("ab\xE2\x41z", kUtf8).w_str());
}

// Columns: == != < <= > >=; a null text stands for the null value.
TEST(FileSpec, Comparisons) {
  struct { char const* x; char const* y; char const* results; } const rows[] = {
      {nullptr, nullptr, "100000"}, {nullptr, "", "010000"},
      {"", nullptr, "010000"},      {"", "", "100101"},
      {"B", "a", "011100"},         {"a/b", "a0", "011100"},
      {"z", "\xC3\xA9", "011100"},  {"b", "a", "010011"},
      {"a/b", "a/b", "100101"},     {"a/b", "a//b", "010011"},
      {"a/b", "a\\b", "011100"},    {"a/b", "A/b", "010011"}};
  for (auto const& r : rows) {
    BQFileSpec x = r.x ? BQFileSpec(r.x, kUtf8) : BQFileSpec();
    BQFileSpec y = r.y ? BQFileSpec(r.y, kUtf8) : BQFileSpec();
    std::string got;
    for (bool b : {x == y, x != y, x < y, x <= y, x > y, x >= y})
      got += b ? '1' : '0';
    EXPECT_EQ(r.results, got) << (r.x ? r.x : "(null)") << " vs "
                              << (r.y ? r.y : "(null)");
  }
  BQFileSpec null;
  EXPECT_TRUE(null == null);
}

struct DecompRow {
  char const* path;
  char const* dirname;
  char const* basename;
  char const* suffix;
  std::size_t prefix;
  char const* replaced;
  char const* removed; // "(null)" for the null value
};

DecompRow const kDecompRows[] = {
    {"", ".", "", "", 0, ".txt", "(null)"},
    {"/", "/", "/", "", 1, "/.txt", "/"},
    {"//", "/", "//", "", 2, "//.txt", "//"},
    {"\\", "\\", "\\", "", 1, "\\.txt", "\\"},
    {"a", ".", "a", "", 1, "a.txt", "a"},
    {"a/", ".", "a/", "", 2, "a/.txt", "a/"},
    {"/a", "/", "a", "", 2, "/a.txt", "/a"},
    {"/a/", "/", "a/", "", 3, "/a/.txt", "/a/"},
    {"a/b", "a", "b", "", 3, "a/b.txt", "a/b"},
    {"a/b/", "a", "b/", "", 4, "a/b/.txt", "a/b/"},
    {"a//b", "a/", "b", "", 4, "a//b.txt", "a//b"},
    {"/a/b", "/a", "b", "", 4, "/a/b.txt", "/a/b"},
    {"//a", "/", "a", "", 3, "//a.txt", "//a"},
    {"./a", ".", "a", "/a", 3, "./a.txt", "./a"},
    {"../a", "..", "a", "/a", 4, "../a.txt", "../a"},
    {"a/.", "a", ".", "", 2, "a/.txt", "a/"},
    {".", ".", ".", "", 0, ".txt", "(null)"},
    {"..", ".", "..", "", 1, "..txt", "."},
    {"dir/file.tar.gz", "dir", "file.tar.gz", "gz", 12, "dir/file.tar.txt",
     "dir/file.tar"},
    {"dir.d/file", "dir.d", "file", "d/file", 10, "dir.d/file.txt",
     "dir.d/file"},
    {".profile", ".", ".profile", "profile", 0, ".txt", "(null)"},
    {"dir/.hidden", "dir", ".hidden", "hidden", 4, "dir/.txt", "dir/"},
    {"a.b/", ".", "a.b/", "b/", 1, "a.txt", "a"},
    {"file.", ".", "file.", "", 4, "file.txt", "file"},
    {"X:\\dir\\file.txt", "X:\\dir", "file.txt", "txt", 11, "X:\\dir\\file.txt",
     "X:\\dir\\file"},
    {"X:\\", ".", "X:\\", "", 3, "X:\\.txt", "X:\\"},
    {"\\\\host\\share", "\\\\host", "share", "", 12, "\\\\host\\share.txt",
     "\\\\host\\share"},
    {"a/b//", "a", "b//", "", 5, "a/b//.txt", "a/b//"},
};

// Pointer results point into the path itself; the value is unchanged; and
// dirname, applied again and again, ends at ".", "/" or "\" and stays there.
TEST(FileSpec, Decomposition) {
  for (DecompRow const& r : kDecompRows) {
    SCOPED_TRACE(r.path);
    BQFileSpec f(r.path, kUtf8);
    std::size_t n = std::strlen(r.path);
    EXPECT_EQ(r.dirname, str(f.dirname()));
    EXPECT_EQ(f.utf8() + n - std::strlen(r.basename), f.basename());
    EXPECT_STREQ(r.basename, f.basename());
    EXPECT_STREQ(r.suffix, f.getSuffix());
    if (std::strchr(r.path, '.')) {
      EXPECT_EQ(f.utf8() + n - std::strlen(r.suffix), f.getSuffix());
    }
    EXPECT_EQ(r.prefix, f.getPrefixLength());
    EXPECT_EQ(r.replaced, str(f.replaceSuffix("txt")));
    EXPECT_EQ(r.removed, str(f.removeSuffix()));
    EXPECT_EQ(r.path[0] == '/', f.absolute());
    EXPECT_STREQ(r.path, f.utf8());
    for (BQFileSpec d = f.dirname();; d = d.dirname()) {
      if (str(d) == "." || str(d) == "/" || str(d) == "\\") {
        EXPECT_EQ(d, d.dirname());
        break;
      }
      ASSERT_LT(std::strlen(d.utf8()), n);
      n = std::strlen(d.utf8());
    }
  }
}

// The separator search reads eight bytes at a time: one byte at every
// position of a path of 1 to 40 bytes, either a separator or a byte one bit
// or one step away from one, with and without a trailing "/".
TEST(FileSpec, SeparatorAtEveryPosition) {
  for (std::size_t len = 1; len <= 40; ++len)
    for (std::size_t at = 0; at < len; ++at)
      for (char ch : {'/', '\\', '.', '0', '\xAF', '\xDC', '[', ']'})
        for (char const* tail : {"", "/"}) {
          std::string path = std::string(at, 'n') + ch +
                             std::string(len - at - 1, 'n') + tail;
          bool sep = ch == '/' || ch == '\\';
          bool inside = sep && at + 1 < len; // not among the trailing ones
          BQFileSpec f(path.c_str(), kUtf8);
          std::string dir = !inside ? (sep && len == 1 ? std::string(1, ch) : ".")
                            : at == 0 ? std::string(1, ch)
                                      : path.substr(0, at);
          ASSERT_EQ(inside ? path.substr(at + 1) : path, f.basename()) << path;
          ASSERT_EQ(dir, str(f.dirname())) << path;
        }
}

TEST(FileSpec, SuffixOfNullAndGivenSuffixes) {
  BQFileSpec f("file.txt", kUtf8), null;
  EXPECT_EQ("file.", str(f.replaceSuffix(nullptr)));
  EXPECT_EQ("file.", str(f.replaceSuffix("")));
  EXPECT_EQ("file..bak", str(f.replaceSuffix(".bak")));
  EXPECT_EQ(".txt", str(null.replaceSuffix("txt")));
  EXPECT_EQ(0u, null.getPrefixLength());
  EXPECT_EQ(nullptr, null.removeSuffix().utf8());
  // Chosen: on the null value the other operations act as on the empty one.
  EXPECT_EQ(".", str(null.dirname()));
  EXPECT_STREQ("", null.basename());
  EXPECT_STREQ("", null.getSuffix());
  EXPECT_FALSE(null.absolute());
}
