// Tests of BQStringUtils: the edge-case tables in the "C" locale, the
// signed widening and 8-bit narrowing, the four array operations and the
// behaviour of every allocating operation when memory runs out.
#include "brackwell/stringUtils.h"
#include "brackwell/utilTokenizer.h"

#include "support/alloc_fault.h"

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

std::vector<unsigned char> bytes(const char* p, std::size_t n) {
  return std::vector<unsigned char>(p, p + n);
}

} // namespace

TEST_F(StringUtils, Itoa) {
  const struct {
    int value;
    const char* text;
  } cases[] = {{0, "0"}, {-7, "-7"}, {123456, "123456"},
               {INT_MIN, "-2147483648"}, {INT_MAX, "2147483647"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.text, BQStringUtils::itoa(c.value));
    std::string s = "previous content";
    BQStringUtils::itoa(c.value, s);
    EXPECT_EQ(c.text, s);
    std::wstring w = L"previous content";
    BQStringUtils::itoa(c.value, w);
    EXPECT_EQ(BQStringUtils::towcs(c.text), w);
  }
}

TEST_F(StringUtils, AtolAndAtod) {
  const struct {
    const char* text;
    long value;
  } longs[] = {{"  42abc", 42}, {"abc", 0}, {"0x1A", 0}, {"-17", -17},
               {"99999999999999999999", LONG_MAX},
               {"-99999999999999999999", LONG_MIN}, {"", 0}};
  for (const auto& c : longs) {
    EXPECT_EQ(c.value, BQStringUtils::atol(std::string(c.text))) << c.text;
    EXPECT_EQ(c.value, BQStringUtils::atol(BQStringUtils::towcs(c.text)))
        << c.text;
  }
  EXPECT_EQ(1500.0, BQStringUtils::atod(std::string("1.5e3")));
  EXPECT_EQ(0.0, BQStringUtils::atod(std::string("")));
  EXPECT_EQ(-0.25, BQStringUtils::atod(std::wstring(L" -0.25x")));
  // The wide text is narrowed to 8 bits first: U+0131 narrows to '1'.
  EXPECT_EQ(12, BQStringUtils::atol(std::wstring(L"\x0131" L"2")));
}

TEST_F(StringUtils, CaseMapping) {
  EXPECT_EQ("", BQStringUtils::toLower(static_cast<const char*>(nullptr)));
  EXPECT_EQ(L"", BQStringUtils::toUpper(static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ("mixed 123", BQStringUtils::toLower("MiXeD 123"));
  EXPECT_EQ("MIXED 123", BQStringUtils::toUpper("MiXeD 123"));
  EXPECT_EQ(L"mixed 123", BQStringUtils::toLower(L"MiXeD 123"));
  EXPECT_EQ(L"MIXED 123", BQStringUtils::toUpper(L"MiXeD 123"));
  // In the "C" locale non-ASCII bytes are left alone.
  EXPECT_EQ("\xC9t\xC9", BQStringUtils::toLower("\xC9t\xC9"));
  EXPECT_EQ("", BQStringUtils::toUpper(""));
}

TEST_F(StringUtils, CompareNoCase) {
  EXPECT_EQ(0, BQStringUtils::compare_no_case("abc", "ABC"));
  EXPECT_EQ(0, BQStringUtils::compare_no_case(std::string("abc"),
                                              std::string("ABC")));
  EXPECT_EQ(0, BQStringUtils::compare_no_case(std::wstring(L"abc"),
                                              std::wstring(L"ABC")));
  EXPECT_NE(0, BQStringUtils::compare_no_case(L"abc", L"ABC"));
  EXPECT_EQ(0, BQStringUtils::compare_no_case(L"abc", L"abc"));
  EXPECT_LT(BQStringUtils::compare_no_case("abc", "ABD"), 0);
  EXPECT_GT(BQStringUtils::compare_no_case("b", "A"), 0);
  // std::string compares up to the first zero byte.
  EXPECT_EQ(0, BQStringUtils::compare_no_case(std::string("ab\0x", 4),
                                              std::string("AB\0y", 4)));
  // Both narrow to 0x41.
  EXPECT_EQ(0, BQStringUtils::compare_no_case(std::wstring(L"\x0141"),
                                              std::wstring(L"\x0041")));
}

TEST_F(StringUtils, WideningIsSigned) {
  EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xFFFFFFE9u)),
            BQStringUtils::towcs("\xE9"));
  EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xFFFFFF80u)),
            BQStringUtils::towcs("\x80"));
  EXPECT_EQ(L"a\x7F", BQStringUtils::towcs("a\x7F"));
  EXPECT_EQ(L"a", BQStringUtils::towcs(std::string("a\0b", 3)));
  EXPECT_EQ(L"", BQStringUtils::towcs(static_cast<const char*>(nullptr)));
  EXPECT_EQ(L"", BQStringUtils::towcs(static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(L"\x20AC", BQStringUtils::towcs(L"\x20AC"));
  std::wstring embedded(L"a\0b", 3);
  EXPECT_EQ(embedded, BQStringUtils::towcs(embedded));
}

TEST_F(StringUtils, NarrowingKeepsLowByteAndCutsAtZero) {
  const struct {
    std::wstring in;
    std::string out;
  } cases[] = {{L"\x20AC", "\xAC"},
               {L"\x0041\x0100\x0042", "A"},
               {L"abc", "abc"},
               {std::wstring(1, static_cast<wchar_t>(0xFFFFFFE9u)), "\xE9"},
               {std::wstring(L"a\0b", 3), "a"},
               {L"", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.out, BQStringUtils::tostr(c.in));
    EXPECT_EQ(c.out, BQStringUtils::tostr(c.in.c_str()));
  }
  EXPECT_EQ("", BQStringUtils::tostr(static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ("", BQStringUtils::tostr(static_cast<const char*>(nullptr)));
  EXPECT_EQ("x\xE9", BQStringUtils::tostr("x\xE9"));
  std::string embedded("a\0b", 3);
  EXPECT_EQ(embedded, BQStringUtils::tostr(embedded));
}

TEST_F(StringUtils, WideToUTF8) {
  EXPECT_EQ(nullptr, BQStringUtils::WideToUTF8(nullptr));
  const struct {
    std::wstring in;
    std::vector<unsigned char> out; // the whole 4n + 1 array
  } cases[] = {
      {L"\xE9", {0xC3, 0xA9, 0, 0, 0}},
      {L"\x1F600", {0xF0, 0x9F, 0x98, 0x80, 0}},
      {L"a\xD800" L"b", {0x61, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {std::wstring(1, 0x110000), {0xEF, 0xBF, 0xBD, 0, 0}},
      {std::wstring(1, static_cast<wchar_t>(-1)), {0xEF, 0xBF, 0xBD, 0, 0}},
      {L"", {0}},
  };
  for (const auto& c : cases) {
    char* out = BQStringUtils::WideToUTF8(c.in.c_str());
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(c.out, bytes(out, c.out.size()));
    delete[] out;
  }
}

TEST_F(StringUtils, UTF8ToWide) {
  EXPECT_EQ(nullptr, BQStringUtils::UTF8ToWide(nullptr));
  const struct {
    const char* in;
    std::wstring out;
  } cases[] = {{"\x61\xC3", L"a"},
               {"\x68\xC3\xA9", L"h\xE9"},
               {"\xF0\x9F\x98\x80!", L"\x1F600!"},
               {"a\xC0\x80" "b", L"a"},
               {"", L""}};
  for (const auto& c : cases) {
    wchar_t* out = BQStringUtils::UTF8ToWide(c.in);
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(c.out, std::wstring(out));
    delete[] out;
  }
}

TEST_F(StringUtils, NativeAndUTF8Copies) {
  EXPECT_EQ(nullptr, BQStringUtils::NativeToUTF8(nullptr));
  EXPECT_EQ(nullptr, BQStringUtils::UTF8ToNative(nullptr));
  const char* text = "na\xC3\xAFve \xFF";
  for (auto op : {&BQStringUtils::NativeToUTF8, &BQStringUtils::UTF8ToNative}) {
    char* out = op(text);
    ASSERT_NE(nullptr, out);
    EXPECT_NE(text, out);
    EXPECT_EQ(bytes(text, std::strlen(text) + 1),
              bytes(out, std::strlen(text) + 1));
    delete[] out;
  }
}

// Operations that throw BQUtilException(8) when their buffer fails.
TEST_F(StringUtils, AllocationFailureThrows) {
  const std::vector<std::function<void()>> ops = {
      [] { EXPECT_EQ("ab", BQStringUtils::toLower("AB")); },
      [] { EXPECT_EQ(L"ab", BQStringUtils::toLower(L"AB")); },
      [] { EXPECT_EQ("AB", BQStringUtils::toUpper("ab")); },
      [] { EXPECT_EQ(L"AB", BQStringUtils::toUpper(L"ab")); },
      [] { EXPECT_EQ(L"ab", BQStringUtils::towcs("ab")); },
      [] { EXPECT_EQ(L"ab", BQStringUtils::towcs(std::string("ab"))); },
      [] { EXPECT_EQ("ab", BQStringUtils::tostr(L"ab")); },
      [] { EXPECT_EQ("ab", BQStringUtils::tostr(std::wstring(L"ab"))); },
      [] {
        std::wstring w;
        BQStringUtils::itoa(5, w);
        EXPECT_EQ(L"5", w);
      },
      [] { EXPECT_EQ(7, BQStringUtils::atol(std::wstring(L"7"))); },
      [] { EXPECT_EQ(0, BQStringUtils::compare_no_case(std::wstring(L"a"),
                                                       std::wstring(L"A"))); },
      [] {
        char* p = BQStringUtils::NativeToUTF8("ab");
        EXPECT_STREQ("ab", p);
        delete[] p;
      },
      [] {
        char* p = BQStringUtils::UTF8ToNative("ab");
        EXPECT_STREQ("ab", p);
        delete[] p;
      },
  };
  long total = 0;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    long points = bqtest::forEachAllocFailure([&] {
      try {
        ops[i]();
        EXPECT_FALSE(bqtest::failureInjected()) << "op " << i;
      } catch (BQUtilException const& e) {
        EXPECT_TRUE(bqtest::failureInjected()) << "op " << i;
        EXPECT_EQ(8, e.code);
      }
    });
    EXPECT_GE(points, 1) << "op " << i << " allocated no working buffer";
    total += points;
  }
  EXPECT_GE(total, static_cast<long>(ops.size()));
}

// WideToUTF8 and UTF8ToWide return null instead of throwing.
TEST_F(StringUtils, AllocationFailureReturnsNull) {
  long points = bqtest::forEachAllocFailure([] {
    char* p = BQStringUtils::WideToUTF8(L"\xE9");
    EXPECT_EQ(bqtest::failureInjected(), p == nullptr);
    delete[] p;
  });
  EXPECT_EQ(1, points);
  points = bqtest::forEachAllocFailure([] {
    wchar_t* p = BQStringUtils::UTF8ToWide("\xC3\xA9");
    EXPECT_EQ(bqtest::failureInjected(), p == nullptr);
    delete[] p;
  });
  EXPECT_EQ(1, points);
}
