// Tests of BQUtilTokenizer: token tables for character and string
// delimiters, the cursor's life cycle, array sizes and allocation failure.
#include "brackwell/utilTokenizer.h"

#include "support/alloc_fault.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

using Brackwell::BQUtilException;
using Brackwell::BQUtilTokenizer;

namespace {

template <class D>
std::vector<std::string> allTokens(const char* text, D delim) {
  BQUtilTokenizer<char> t(text);
  std::vector<std::string> out;
  while (char* tok = t.nextNonEmpty(delim)) {
    out.emplace_back(tok);
    delete[] tok;
  }
  EXPECT_EQ(nullptr, t.cursor);
  EXPECT_EQ(text, t.text);
  return out;
}

// The library's one exception type: polymorphic, no standard base, a
// 32-bit signed code.
static_assert(std::is_polymorphic<BQUtilException>::value, "virtual dtor");
static_assert(!std::is_base_of<std::exception, BQUtilException>::value,
              "no standard base");
static_assert(
    std::is_same<decltype(BQUtilException::code), std::int32_t>::value,
    "int32 code");

struct CharCase {
  const char* text;
  std::vector<std::string> tokens;
};

} // namespace

TEST(Tokenizer, SpaceDelimiterTable) {
  const CharCase cases[] = {
      {"alpha  beta", {"alpha", "beta"}},
      {"  lead and trail  ", {"lead", "and", "trail"}},
      {"\"two words\" x", {"two words", "x"}},
      {"x \"\" y", {"x", "y"}},
      {"a\"b c\"d", {"a\"b c\"d"}},
      {"\"open end here", {"\"open end here"}},
      {"\"open end\"", {"open end"}},
      {"x \"quoted last\"", {"x", "quoted last"}},
      {"\"starts only", {"\"starts only"}},
      {"ends\" only", {"ends\" only"}},
      {"a ends\"", {"a", "ends\""}},
      {"a \"", {"a", "\""}},
      {"last", {"last"}},
      {"\"\"\"\"", {"\"\""}},
      {"   ", {}},
      {"", {}},
  };
  for (const CharCase& c : cases)
    EXPECT_EQ(c.tokens, allTokens(c.text, ' ')) << "text: [" << c.text << "]";
}

TEST(Tokenizer, StringDelimiterTable) {
  struct Case {
    const char* text;
    const char* delim;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"a::b:c", "::", {"a", "b:c"}},
      {"::a::::b::", "::", {"a", "b"}},
      {"a:::b", "::", {"a", ":b"}},
      {"\"x::y\"::z", "::", {"x::y", "z"}},
      {"a:", "::", {"a:"}},
      {"a b  c", " ", {"a", "b", "c"}},
      {"a b", "", {"a b"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.tokens, allTokens(c.text, c.delim))
        << "text: [" << c.text << "] delim: [" << c.delim << "]";
  // A one-character string behaves as the character; a T* is accepted.
  char delim[] = ",";
  EXPECT_EQ(allTokens("a,,\"b,c\",d", ','), allTokens("a,,\"b,c\",d", delim));
}

TEST(Tokenizer, CursorLifecycle) {
  const char* text = "ab cd";
  BQUtilTokenizer<char> t(text);
  EXPECT_EQ(text, t.cursor);
  EXPECT_EQ(0u, t.reserved);
  char* tok = t.nextNonEmpty(' ');
  EXPECT_STREQ("ab", tok);
  EXPECT_EQ(text + 3, t.cursor);
  delete[] tok;
  tok = t.nextNonEmpty(' ');
  EXPECT_STREQ("cd", tok);
  EXPECT_EQ(nullptr, t.cursor);
  delete[] tok;
  EXPECT_EQ(nullptr, t.nextNonEmpty(' '));
  EXPECT_EQ(nullptr, t.nextNonEmpty(' '));

  BQUtilTokenizer<char> spaces("    ");
  EXPECT_EQ(nullptr, spaces.nextNonEmpty(' '));
  EXPECT_EQ(nullptr, spaces.cursor);

  BQUtilTokenizer<char> none(nullptr);
  EXPECT_EQ(nullptr, none.nextNonEmpty(' '));
  EXPECT_EQ(nullptr, none.nextNonEmpty("::"));
}

TEST(Tokenizer, ArrayHasExactlyTokenLengthPlusOne) {
  BQUtilTokenizer<char> t("  \"quoted\" plain");
  long before = bqtest::liveBlocks();
  bqtest::resetCount();
  char* tok = t.nextNonEmpty(' ');
  EXPECT_EQ(1, bqtest::nothrowArrayCount());
  EXPECT_EQ(before + 1, bqtest::liveBlocks());
  EXPECT_STREQ("quoted", tok);
  delete[] tok;
  // nextNonEmpty allocates one array of exactly size + 1 per token; check
  // with a wide character type too, where a byte count would be wrong.
  BQUtilTokenizer<wchar_t> w(L"x \"\xE9t\xE9\"");
  wchar_t* a = w.nextNonEmpty(L' ');
  wchar_t* b = w.nextNonEmpty(L" ");
  EXPECT_EQ(std::wstring(L"x"), a);
  EXPECT_EQ(std::wstring(L"\xE9t\xE9"), b);
  delete[] a;
  delete[] b;
}

TEST(Tokenizer, AllocationFailureLeavesTokenUnconsumed) {
  const char* text = "  one \"t w o\"";
  long points = bqtest::forEachAllocFailure([&] {
    BQUtilTokenizer<char> t(text);
    std::vector<std::string> got;
    for (;;) {
      const char* before = t.cursor;
      try {
        char* tok = t.nextNonEmpty(' ');
        if (!tok)
          break;
        got.emplace_back(tok);
        delete[] tok;
      } catch (BQUtilException const& e) {
        EXPECT_TRUE(bqtest::failureInjected());
        EXPECT_EQ(8, e.code);
        // Leading empty tokens are consumed; the token itself is not.
        EXPECT_GE(t.cursor, before);
        EXPECT_TRUE(t.cursor == text + 2 || t.cursor == text + 6);
        bqtest::disarm();
      }
    }
    EXPECT_EQ((std::vector<std::string>{"one", "t w o"}), got);
  });
  EXPECT_EQ(2, points);
}
