// BQStringUtils in the "C" locale: numbers, case, comparison, the signed
// widening and 8-bit narrowing, and the four array operations; then what
// every allocating operation does when memory runs out.
#include "brackwell/stringUtils.h"
#include "brackwell/utilTokenizer.h"


#include <gtest/gtest.h>

#include <clocale>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using Brackwell::BQStringUtils;
using Brackwell::BQUtilException;

namespace {

class StringUtils : public ::testing::Test {
protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }
};

std::wstring W(std::initializer_list<unsigned> units) {
  std::wstring w;
  for (unsigned u : units)
    w += static_cast<wchar_t>(u);
  return w;
}

int sign(int v) { return (v > 0) - (v < 0); }

} // namespace

// Every overload replaces the output's content; the wide one widens.
TEST_F(StringUtils, Numbers) {
  struct { int value; char const* text; } const itoas[] = {
      {0, "0"}, {-7, "-7"}, {INT_MIN, "-2147483648"}, {INT_MAX, "2147483647"}};
  for (auto const& c : itoas) {
    std::string s = "previous";
    std::wstring w = L"previous";
    BQStringUtils::itoa(c.value, s);
    BQStringUtils::itoa(c.value, w);
    EXPECT_EQ(c.text, BQStringUtils::itoa(c.value));
    EXPECT_EQ(c.text, s);
    EXPECT_EQ(BQStringUtils::towcs(c.text), w);
  }
  struct { char const* text; long value; } const atols[] = {
      {"  42abc", 42}, {"abc", 0}, {"0x1A", 0}, {"-17", -17}, {"", 0},
      {"99999999999999999999", LONG_MAX}, {"-99999999999999999999", LONG_MIN}};
  for (auto const& c : atols) {
    EXPECT_EQ(c.value, BQStringUtils::atol(std::string(c.text))) << c.text;
    EXPECT_EQ(c.value, BQStringUtils::atol(BQStringUtils::towcs(c.text)));
  }
  EXPECT_EQ(12, BQStringUtils::atol(W({0x131, '2'}))); // U+0131 narrows to '1'
  EXPECT_EQ(1500.0, BQStringUtils::atod(std::string("1.5e3")));
  EXPECT_EQ(0.0, BQStringUtils::atod(std::string("")));
  EXPECT_EQ(-0.25, BQStringUtils::atod(std::wstring(L" -0.25x")));
}

TEST_F(StringUtils, CaseAndComparison) {
  EXPECT_EQ("", BQStringUtils::toLower(static_cast<char const*>(nullptr)));
  EXPECT_EQ(L"", BQStringUtils::toUpper(static_cast<wchar_t const*>(nullptr)));
  EXPECT_EQ("mixed 123", BQStringUtils::toLower("MiXeD 123"));
  EXPECT_EQ("MIXED 123", BQStringUtils::toUpper("MiXeD 123"));
  EXPECT_EQ(L"mixed 123", BQStringUtils::toLower(L"MiXeD 123"));
  EXPECT_EQ(L"MIXED 123", BQStringUtils::toUpper(L"MiXeD 123"));
  EXPECT_EQ("\xC9t\xC9", BQStringUtils::toLower("\xC9t\xC9")); // "C": ASCII only
  // Signs of compare_no_case on char const*, std::string and std::wstring
  // (case folded), and on wchar_t const* (exact).
  struct { char const* a; char const* b; int folded, exact; } const rows[] = {
      {"abc", "ABC", 0, 1}, {"abc", "abc", 0, 0}, {"abc", "ABD", -1, 1},
      {"b", "A", 1, 1}, {"A", "b", -1, -1}};
  for (auto const& r : rows) {
    std::wstring wa = BQStringUtils::towcs(r.a), wb = BQStringUtils::towcs(r.b);
    EXPECT_EQ(r.folded, sign(BQStringUtils::compare_no_case(r.a, r.b))) << r.a;
    EXPECT_EQ(r.folded, sign(BQStringUtils::compare_no_case(std::string(r.a),
                                                            std::string(r.b))));
    EXPECT_EQ(r.folded, sign(BQStringUtils::compare_no_case(wa, wb))) << r.a;
    EXPECT_EQ(r.exact, sign(BQStringUtils::compare_no_case(wa.c_str(),
                                                           wb.c_str())));
  }
  EXPECT_EQ(0, BQStringUtils::compare_no_case(std::string("ab\0x", 4),
                                              std::string("AB\0y", 4)));
  EXPECT_EQ(0, BQStringUtils::compare_no_case(W({0x141}), W({0x41})));
}

// towcs widens each byte as a signed value and stops at a zero byte; tostr
// keeps each character's lowest 8 bits and stops at the first zero byte.
TEST_F(StringUtils, WideningAndNarrowing) {
  struct { std::string narrow; std::wstring wide; } const widen[] = {
      {"\xE9", W({0xFFFFFFE9})}, {"\x80", W({0xFFFFFF80})}, {"a\x7F", L"a\x7F"},
      {std::string("a\0b", 3), L"a"}, {"", L""}};
  for (auto const& c : widen) {
    EXPECT_EQ(c.wide, BQStringUtils::towcs(c.narrow));
    EXPECT_EQ(c.wide, BQStringUtils::towcs(c.narrow.c_str()));
  }
  struct { std::wstring wide; std::string narrow; } const narrow[] = {
      {W({0x20AC}), "\xAC"}, {W({0x41, 0x100, 0x42}), "A"}, {L"abc", "abc"},
      {W({0xFFFFFFE9}), "\xE9"}, {std::wstring(L"a\0b", 3), "a"}, {L"", ""}};
  for (auto const& c : narrow) {
    EXPECT_EQ(c.narrow, BQStringUtils::tostr(c.wide));
    EXPECT_EQ(c.narrow, BQStringUtils::tostr(c.wide.c_str()));
  }
  EXPECT_EQ(L"", BQStringUtils::towcs(static_cast<char const*>(nullptr)));
  EXPECT_EQ(L"", BQStringUtils::towcs(static_cast<wchar_t const*>(nullptr)));
  EXPECT_EQ("", BQStringUtils::tostr(static_cast<wchar_t const*>(nullptr)));
  EXPECT_EQ("", BQStringUtils::tostr(static_cast<char const*>(nullptr)));
  EXPECT_EQ(L"\x20AC", BQStringUtils::towcs(L"\x20AC"));
  EXPECT_EQ("x\xE9", BQStringUtils::tostr("x\xE9"));
  std::wstring wz(L"a\0b", 3);
  std::string nz("a\0b", 3);
  EXPECT_EQ(wz, BQStringUtils::towcs(wz)); // copies keep everything
  EXPECT_EQ(nz, BQStringUtils::tostr(nz));
}

TEST_F(StringUtils, ArrayOperations) {
  EXPECT_EQ(nullptr, BQStringUtils::WideToUTF8(nullptr));
  EXPECT_EQ(nullptr, BQStringUtils::UTF8ToWide(nullptr));
  EXPECT_EQ(nullptr, BQStringUtils::NativeToUTF8(nullptr));
  EXPECT_EQ(nullptr, BQStringUtils::UTF8ToNative(nullptr));
  struct { std::wstring in; std::string out; } const toUtf8[] = { // 4n+1 bytes
      {W({0xE9}), std::string("\xC3\xA9\0\0\0", 5)},
      {W({0x1F600}), std::string("\xF0\x9F\x98\x80\0", 5)},
      {W({'a', 0xD800, 'b'}), std::string("a\0\0\0\0\0\0\0\0\0\0\0\0", 13)},
      {W({0x110000}), std::string("\xEF\xBF\xBD\0\0", 5)},
      {W({0xFFFFFFFF}), std::string("\xEF\xBF\xBD\0\0", 5)},
      {L"", std::string(1, '\0')}};
  for (auto const& c : toUtf8) {
    char* out = BQStringUtils::WideToUTF8(c.in.c_str());
    EXPECT_EQ(c.out, std::string(out, c.out.size()));
    delete[] out;
  }
  struct { char const* in; std::wstring out; } const toWide[] = {
      {"\x61\xC3", L"a"}, {"\x68\xC3\xA9", W({'h', 0xE9})},
      {"\xF0\x9F\x98\x80!", W({0x1F600, '!'})}, {"a\xC0\x80" "b", L"a"},
      {"", L""}};
  for (auto const& c : toWide) {
    wchar_t* out = BQStringUtils::UTF8ToWide(c.in);
    EXPECT_EQ(c.out, out);
    delete[] out;
  }
  char const* text = "na\xC3\xAFve \xFF";
  for (auto op : {&BQStringUtils::NativeToUTF8, &BQStringUtils::UTF8ToNative}) {
    char* out = op(text);
    EXPECT_NE(text, out);
    EXPECT_STREQ(text, out);
    delete[] out;
  }
}
