// BQFileSpec: joining for every constructor family, decomposition,
// comparisons and the native and wide renderings.
#include "brackwell/fileSpec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using Brackwell::BQFileSpec;

namespace {

using U16 = std::vector<unsigned short>;

U16 toU16(char const* ascii) {
  U16 out;
  for (char const* p = ascii; *p; ++p)
    out.push_back(static_cast<unsigned char>(*p));
  out.push_back(0);
  return out;
}

std::wstring toWide(char const* ascii) {
  std::wstring out;
  for (char const* p = ascii; *p; ++p)
    out.push_back(static_cast<unsigned char>(*p));
  return out;
}

std::string str(BQFileSpec const& f) {
  return f.utf8() ? std::string(f.utf8()) : std::string("(null)");
}

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

// Only 1 means UTF-8; 0 and any other value (7; the enumeration's underlying
// type is int) are native text.
TEST(FileSpecJoin, NarrowAllEncodings) {
  for (JoinRow const& r : kJoinRows) {
    for (int e : {0, 1, 7}) {
      auto enc = static_cast<BQFileSpec::EncodingType>(e);
      SCOPED_TRACE(std::string(r.path) + " enc " + std::to_string(e));
      if (r.count == 1)
        EXPECT_EQ(r.path, str(BQFileSpec(r.a, enc)));
      else if (r.count == 2)
        EXPECT_EQ(r.path, str(BQFileSpec(r.a, r.b, enc)));
      else
        EXPECT_EQ(r.path, str(BQFileSpec(r.a, r.b, r.c, enc)));
    }
  }
}

TEST(FileSpecJoin, PathComponents) {
  for (JoinRow const& r : kJoinRows) {
    if (r.count == 1)
      continue;
    SCOPED_TRACE(r.path);
    auto enc = BQFileSpec::ENCODING_NATIVE;
    BQFileSpec a(r.a, enc);
    if (r.count == 2) {
      BQFileSpec b(r.b, enc);
      EXPECT_EQ(r.path, str(BQFileSpec(a, r.b, enc)));
      EXPECT_EQ(r.path, str(BQFileSpec(a, b)));
      EXPECT_EQ(r.path, str(BQFileSpec(a, toU16(r.b).data())));
      EXPECT_EQ(r.path, str(BQFileSpec(a, toWide(r.b).c_str())));
    } else {
      EXPECT_EQ(r.path, str(BQFileSpec(a, r.b, r.c, enc)));
      if (r.b) {
        BQFileSpec b(r.b, enc), c(r.c, enc);
        EXPECT_EQ(r.path, str(BQFileSpec(a, b, r.c, enc)));
        EXPECT_EQ(r.path, str(BQFileSpec(a, b, c)));
        EXPECT_EQ(r.path, str(BQFileSpec(a, b, toU16(r.c).data())));
        EXPECT_EQ(r.path, str(BQFileSpec(a, b, toWide(r.c).c_str())));
      }
    }
  }
}

TEST(FileSpecJoin, Utf16AndWide) {
  for (JoinRow const& r : kJoinRows) {
    SCOPED_TRACE(r.path);
    U16 a = toU16(r.a), b = toU16(r.b ? r.b : ""), c = toU16(r.c ? r.c : "");
    std::wstring wa = toWide(r.a), wb = toWide(r.b ? r.b : ""),
                 wc = toWide(r.c ? r.c : "");
    unsigned short const* pb = r.b ? b.data() : nullptr;
    wchar_t const* qb = r.b ? wb.c_str() : nullptr;
    if (r.count == 1) {
      EXPECT_EQ(r.path, str(BQFileSpec(a.data())));
      EXPECT_EQ(r.path, str(BQFileSpec(wa.c_str())));
    } else if (r.count == 2) {
      EXPECT_EQ(r.path, str(BQFileSpec(a.data(), pb)));
      EXPECT_EQ(r.path, str(BQFileSpec(wa.c_str(), qb)));
    } else {
      EXPECT_EQ(r.path, str(BQFileSpec(a.data(), pb, c.data())));
      EXPECT_EQ(r.path, str(BQFileSpec(wa.c_str(), qb, wc.c_str())));
      BQFileSpec pa(r.a, BQFileSpec::ENCODING_UTF8);
      EXPECT_EQ(r.path, str(BQFileSpec(pa, pb, c.data())));
      EXPECT_EQ(r.path, str(BQFileSpec(pa, qb, wc.c_str())));
    }
  }
}

TEST(FileSpecJoin, InitMayReuseItsOwnPath) {
  BQFileSpec f("dir/", BQFileSpec::ENCODING_UTF8);
  f.init(f.utf8(), f.utf8() + 1, f.utf8());
  EXPECT_EQ("dir/ir/dir/", str(f));
}

TEST(FileSpecConvert, NonAsciiComponents) {
  unsigned short pair[] = {'x', 0xD83D, 0xDE00, 0};
  EXPECT_EQ("x\xF0\x9F\x98\x80", str(BQFileSpec(pair)));
  unsigned short lone[] = {'a', 'b', 0xD800, 'c', 0};
  EXPECT_EQ("ab", str(BQFileSpec(lone)));
  unsigned short dir[] = {'d', 0};
  EXPECT_EQ("d/ab", str(BQFileSpec(dir, lone)));
  wchar_t astral[] = {0x1F600, 0};
  EXPECT_EQ("\xF0\x9F\x98\x80", str(BQFileSpec(astral)));
  wchar_t surrogate[] = {'q', 0xDC00, 'r', 0};
  EXPECT_EQ("q", str(BQFileSpec(surrogate)));
  wchar_t beyond[] = {'q', 0x110000, 'r', 0};
  EXPECT_EQ("q\xEF\xBF\xBDr", str(BQFileSpec(beyond)));
  EXPECT_EQ(nullptr,
            BQFileSpec(static_cast<unsigned short const*>(nullptr)).utf8());
}

TEST(FileSpecValue, NullAndEmpty) {
  BQFileSpec null;
  EXPECT_TRUE(null.empty());
  EXPECT_EQ(nullptr, null.utf8());
  EXPECT_EQ(nullptr, null.n_str());
  EXPECT_EQ(nullptr, null.w_str());
  EXPECT_EQ(nullptr, BQFileSpec(null).utf8());
  BQFileSpec assigned("x", BQFileSpec::ENCODING_UTF8);
  assigned = null;
  EXPECT_EQ(nullptr, assigned.utf8());
  // A null first component (or null first path) gives the null value.
  EXPECT_EQ(nullptr, BQFileSpec(static_cast<char const*>(nullptr), "b",
                                BQFileSpec::ENCODING_NATIVE)
                         .utf8());
  EXPECT_EQ(nullptr, BQFileSpec(null, "b", BQFileSpec::ENCODING_UTF8).utf8());
  unsigned short const b16[] = {'b', 0};
  EXPECT_EQ(nullptr, BQFileSpec(static_cast<unsigned short const*>(nullptr),
                                b16, b16).utf8());
  EXPECT_EQ(nullptr, BQFileSpec(static_cast<wchar_t const*>(nullptr)).utf8());
  EXPECT_EQ(nullptr, BQFileSpec(null, BQFileSpec(), L"c").utf8());

  BQFileSpec empty("", BQFileSpec::ENCODING_UTF8);
  EXPECT_TRUE(empty.empty());
  EXPECT_STREQ("", empty.utf8());
  EXPECT_STREQ("", empty.n_str());
  EXPECT_NE(empty.utf8(), empty.n_str());
  EXPECT_EQ(L'\0', empty.w_str()[0]);
  EXPECT_FALSE(BQFileSpec("a", BQFileSpec::ENCODING_UTF8).empty());
}

TEST(FileSpecValue, Renderings) {
  BQFileSpec f("d\xC3\xA9j\xC3\xA0/\xF0\x9F\x98\x80",
               BQFileSpec::ENCODING_UTF8);
  char const* n = f.n_str();
  EXPECT_NE(f.utf8(), n);
  EXPECT_STREQ(f.utf8(), n);
  EXPECT_EQ(n, f.n_str());
  wchar_t const* w = f.w_str();
  EXPECT_EQ(std::wstring(L"d\u00E9j\u00E0/\U0001F600"), w);
  EXPECT_EQ(w, f.w_str());

  BQFileSpec copy(f);
  EXPECT_NE(w, copy.w_str());
  EXPECT_EQ(std::wstring(w), copy.w_str());
  EXPECT_NE(f.utf8(), copy.utf8());

  BQFileSpec other("other", BQFileSpec::ENCODING_UTF8);
  f = other;
  EXPECT_STREQ("other", f.n_str());
  EXPECT_EQ(std::wstring(L"other"), f.w_str());
  BQFileSpec& self = f;
  f = self; // self-assignment keeps the path
  EXPECT_STREQ("other", f.utf8());
  EXPECT_EQ(std::wstring(L"other"), f.w_str());

  BQFileSpec bad("ab\xE2\x41z", BQFileSpec::ENCODING_UTF8);
  EXPECT_EQ(std::wstring(L"ab"), bad.w_str());
}

TEST(FileSpecValue, Comparisons) {
  BQFileSpec null, null2, empty("", BQFileSpec::ENCODING_UTF8),
      empty2("", BQFileSpec::ENCODING_UTF8);
  auto all = [](BQFileSpec const& x, BQFileSpec const& y) {
    return std::string() + (x == y ? '1' : '0') + (x != y ? '1' : '0') +
           (x < y ? '1' : '0') + (x <= y ? '1' : '0') + (x > y ? '1' : '0') +
           (x >= y ? '1' : '0');
  };
  // Columns: == != < <= > >=
  EXPECT_EQ("100000", all(null, null2));
  EXPECT_EQ("100000", all(null, null));
  EXPECT_EQ("010000", all(null, empty));
  EXPECT_EQ("010000", all(empty, null));
  EXPECT_EQ("100101", all(empty, empty2));
  auto u = [](char const* s) {
    return BQFileSpec(s, BQFileSpec::ENCODING_UTF8);
  };
  EXPECT_EQ("011100", all(u("B"), u("a")));
  EXPECT_EQ("011100", all(u("a/b"), u("a0")));
  EXPECT_EQ("011100", all(u("z"), u("\xC3\xA9")));
  EXPECT_EQ("010011", all(u("b"), u("a")));
  EXPECT_EQ("100101", all(u("a/b"), u("a/b")));
  char const* distinct[] = {"a/b", "a//b", "a\\b", "A/b"};
  for (char const* x : distinct)
    for (char const* y : distinct)
      EXPECT_EQ(x == y, u(x) == u(y)) << x << " vs " << y;
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

TEST(FileSpecDecompose, Table) {
  for (DecompRow const& r : kDecompRows) {
    SCOPED_TRACE(r.path);
    BQFileSpec f(r.path, BQFileSpec::ENCODING_UTF8);
    EXPECT_EQ(r.dirname, str(f.dirname()));
    EXPECT_STREQ(r.basename, f.basename());
    EXPECT_STREQ(r.suffix, f.getSuffix());
    EXPECT_EQ(r.prefix, f.getPrefixLength());
    EXPECT_EQ(r.replaced, str(f.replaceSuffix("txt")));
    EXPECT_EQ(r.removed, str(f.removeSuffix()));
    EXPECT_EQ(r.path[0] == '/', f.absolute());
    // Pointer results are into the path itself.
    std::size_t n = std::strlen(r.path);
    EXPECT_EQ(f.utf8() + n - std::strlen(r.basename), f.basename());
    if (std::strchr(r.path, '.')) {
      EXPECT_EQ(f.utf8() + n - std::strlen(r.suffix), f.getSuffix());
    }
    EXPECT_STREQ(r.path, f.utf8()); // unchanged
  }
}

TEST(FileSpecDecompose, DirnameReachesFixedPoint) {
  for (DecompRow const& r : kDecompRows) {
    BQFileSpec f(r.path, BQFileSpec::ENCODING_UTF8);
    for (int i = 0; i < 20; ++i) {
      BQFileSpec d = f.dirname();
      bool fixed = str(d) == "." || str(d) == "/" || str(d) == "\\";
      ASSERT_TRUE(fixed || std::strlen(d.utf8()) < std::strlen(f.utf8()))
          << r.path;
      if (fixed) {
        EXPECT_EQ(d, d.dirname());
        break;
      }
      f = d;
    }
  }
}

// The separator search reads long paths in blocks of eight bytes: a
// separator ('/' or '\\', and bytes that differ from one only in the high
// bit or by one) at every position of paths of 1 to 40 bytes, with and
// without a trailing separator, against a byte-at-a-time reading.
TEST(FileSpecDecompose, SeparatorAtEveryPosition) {
  for (std::size_t len = 1; len <= 40; ++len)
    for (std::size_t at = 0; at < len; ++at)
      for (char sep : {'/', '\\', '.', '0', '\xAF', '\xDC'})
        for (bool trailing : {false, true}) {
          std::string path(len, 'n');
          path[at] = sep;
          if (trailing)
            path += '/';
          std::size_t m = path.size();
          while (m > 0 && (path[m - 1] == '/' || path[m - 1] == '\\'))
            --m;
          std::size_t k = m == 0 ? 0 : m - 1;
          while (k > 0 && path[k - 1] != '/' && path[k - 1] != '\\')
            --k;
          BQFileSpec f(path.c_str(), BQFileSpec::ENCODING_UTF8);
          std::string base = m == 0 ? path : path.substr(k);
          ASSERT_EQ(base, f.basename()) << path;
          std::string dir = m == 0 ? path.substr(0, 1)
                            : k == 0 ? "."
                            : k == 1 ? path.substr(0, 1)
                                     : path.substr(0, k - 1);
          ASSERT_EQ(dir, str(f.dirname())) << path;
        }
}

TEST(FileSpecDecompose, SuffixVariants) {
  BQFileSpec f("file.txt", BQFileSpec::ENCODING_UTF8);
  EXPECT_EQ("file.", str(f.replaceSuffix(nullptr)));
  EXPECT_EQ("file.", str(f.replaceSuffix("")));
  EXPECT_EQ("file..bak", str(f.replaceSuffix(".bak")));
  BQFileSpec null;
  EXPECT_EQ(".txt", str(null.replaceSuffix("txt")));
  EXPECT_EQ(0u, null.getPrefixLength());
  EXPECT_EQ(nullptr, null.removeSuffix().utf8());
  EXPECT_EQ(nullptr,
            BQFileSpec("", BQFileSpec::ENCODING_UTF8).removeSuffix().utf8());
  // On the null value the other operations act as on the empty value.
  EXPECT_EQ(".", str(null.dirname()));
  EXPECT_STREQ("", null.basename());
  EXPECT_STREQ("", null.getSuffix());
  EXPECT_FALSE(null.absolute());
}

} // namespace
