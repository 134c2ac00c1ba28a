// BQStringUtils in the "C" locale (the one a program starts in): numbers,
// case, comparison, the signed widening and 8-bit narrowing, and the four
// array operations.
#include "brackwell/stringUtils.h"

#include "support/bqtest.h"

using SU = Brackwell::BQStringUtils;

// The first n characters (up to the terminator if none given) of an array
// an operation handed over; the array is released.
template <class C> static std::basic_string<C> take(C* p, std::size_t n = std::string::npos) {
  std::unique_ptr<C[]> const owned(p);
  return std::basic_string<C>(p, n == std::string::npos ? std::char_traits<C>::length(p) : n);
}

// Every itoa overload replaces the output's content; the wide overloads of
// atol and atod narrow with tostr first (U+0131 becomes '1').
TEST(StringUtils, Numbers) {
  std::string s = "previous";
  std::wstring w = L"previous";
  SU::itoa(INT_MIN, s), SU::itoa(INT_MIN, w);
  EXPECT_EQ(std::make_tuple("0", "-2147483648", L"-2147483648"), std::make_tuple(SU::itoa(0), s, w));
  struct { char const* text; long value; } const atols[] = {
      {"  42abc", 42}, {"abc", 0}, {"0x1A", 0}, {"99999999999999999999", LONG_MAX},
      {"-99999999999999999999", LONG_MIN}};
  for (auto const& c : atols)
    EXPECT_EQ(std::make_pair(c.value, c.value), std::make_pair(SU::atol(std::string(c.text)), SU::atol(SU::towcs(c.text))));
  EXPECT_EQ(std::make_tuple(12L, 1500.0, 0.0, -0.25),
            std::make_tuple(SU::atol(std::wstring(L"\x131" L"2")), SU::atod(std::string("1.5e3")),
                            SU::atod(std::string("")), SU::atod(std::wstring(L" -0.25x"))));
}

// Case maps ASCII letters only in "C". compare_no_case folds case on char
// const*, std::string and std::wstring (narrowed, so U+0141 equals 'A'), and
// compares wchar_t const* exactly; the signs of the four, in that order.
TEST(StringUtils, CaseAndComparison) {
  EXPECT_EQ("|", SU::toLower(static_cast<char const*>(nullptr)) + "|" + SU::toUpper(static_cast<char const*>(nullptr)));
  EXPECT_EQ(L"", SU::toUpper(static_cast<wchar_t const*>(nullptr)));
  EXPECT_EQ("mixed 123 \xC9|MIXED 123 \xE9", SU::toLower("MiXeD 123 \xC9") + "|" + SU::toUpper("MiXeD 123 \xE9"));
  EXPECT_EQ(L"mixed 123|MIXED 123", SU::toLower(L"MiXeD 123") + L"|" + SU::toUpper(L"MiXeD 123"));
  struct { std::string a, b; std::wstring wa, wb; char const* signs; } const rows[] = {
      {"abc", "ABC", L"abc", L"ABC", "0 0 0 1"}, {"abc", "ABD", L"abc", L"ABD", "-1 -1 -1 1"},
      {"b", "A", L"b", L"A", "1 1 1 1"},
      {std::string("ab\0x", 4), std::string("AB\0y", 4), L"\x141", L"A", "0 0 0 1"}};
  auto sign = [](int v) { return std::to_string((v > 0) - (v < 0)); };
  for (auto const& r : rows)
    EXPECT_EQ(r.signs, sign(SU::compare_no_case(r.a.c_str(), r.b.c_str())) + " " + sign(SU::compare_no_case(r.a, r.b)) +
                           " " + sign(SU::compare_no_case(r.wa, r.wb)) + " " +
                           sign(SU::compare_no_case(r.wa.c_str(), r.wb.c_str()))) << r.a;
}

// towcs widens each byte as a signed value and stops at a zero byte; tostr
// keeps each character's lowest 8 bits and stops at the first zero byte;
// on their own character type they copy, and null gives an empty string.
TEST(StringUtils, WideningAndNarrowing) {
  struct { std::string narrow; std::wstring wide; } const widen[] = {
      {"\xE9\x80" "a\x7F", {wchar_t(0xFFFFFFE9), wchar_t(0xFFFFFF80), L'a', 0x7F}},
      {std::string("a\0b", 3), L"a"}, {"", L""}};
  for (auto const& c : widen)
    EXPECT_EQ(c.wide + L"|" + c.wide, SU::towcs(c.narrow) + L"|" + SU::towcs(c.narrow.c_str()));
  struct { std::wstring wide; std::string narrow; } const narrow[] = {
      {L"\x20AC", "\xAC"}, {L"A\x100" L"B", "A"}, {{L'a', wchar_t(0xFFFFFFE9)}, "a\xE9"},
      {std::wstring(L"a\0b", 3), "a"}, {L"", ""}};
  for (auto const& c : narrow)
    EXPECT_EQ(c.narrow + "|" + c.narrow, SU::tostr(c.wide) + "|" + SU::tostr(c.wide.c_str()));
  EXPECT_EQ(L"|", SU::towcs(static_cast<char const*>(nullptr)) + L"|" + SU::towcs(static_cast<wchar_t const*>(nullptr)));
  EXPECT_EQ("|", SU::tostr(static_cast<wchar_t const*>(nullptr)) + "|" + SU::tostr(static_cast<char const*>(nullptr)));
  EXPECT_EQ(std::wstring(L"\x20AC\0b", 3) + L"|\x20AC", SU::towcs(std::wstring(L"\x20AC\0b", 3)) + L"|" + SU::towcs(L"\x20AC"));
  EXPECT_EQ(std::string("\xE9\0b", 3) + "|\xE9", SU::tostr(std::string("\xE9\0b", 3)) + "|" + SU::tostr("\xE9"));
}

// WideToUTF8 returns all 4n+1 bytes, zero-filled after the conversion, which
// ends before a surrogate and replaces values above 0x10FFFF (negative ones
// too); UTF8ToWide ends before an ill-formed or cut sequence; the native
// operations copy.
TEST(StringUtils, ArrayOperations) {
  EXPECT_TRUE(!SU::WideToUTF8(nullptr) && !SU::UTF8ToWide(nullptr) && !SU::NativeToUTF8(nullptr) &&
              !SU::UTF8ToNative(nullptr));
  struct { std::wstring in; std::string out; } const toUtf8[] = {
      {L"\xE9", std::string("\xC3\xA9\0\0\0", 5)}, {L"\x1F600", std::string("\xF0\x9F\x98\x80\0", 5)},
      {L"a\xD800" L"b", std::string("a\0\0\0\0\0\0\0\0\0\0\0\0", 13)}, {L"", std::string(1, '\0')},
      {{wchar_t(0x110000), wchar_t(-1)}, std::string("\xEF\xBF\xBD\xEF\xBF\xBD\0\0\0", 9)}};
  for (auto const& c : toUtf8)
    EXPECT_EQ(c.out, take(SU::WideToUTF8(c.in.c_str()), c.out.size()));
  struct { char const* in; std::wstring out; } const toWide[] = {
      {"\x61\xC3", L"a"}, {"\x68\xC3\xA9\xF0\x9F\x98\x80", L"h\xE9\x1F600"}, {"a\xC0\x80" "b", L"a"},
      {"", L""}};
  for (auto const& c : toWide)
    EXPECT_EQ(c.out, take(SU::UTF8ToWide(c.in))) << c.in;
  char const* text = "na\xC3\xAFve \xFF";
  for (auto op : {&SU::NativeToUTF8, &SU::UTF8ToNative}) { // a new array each
    char* out = op(text);
    EXPECT_EQ(text, out != text ? take(out) : "the argument itself");
  }
}
