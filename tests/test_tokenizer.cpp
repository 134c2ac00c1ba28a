// BQUtilTokenizer: token tables for character and string delimiters, the
// cursor's life cycle and allocation failure.
#include "brackwell/utilTokenizer.h"


#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

using Brackwell::BQUtilException;
using Brackwell::BQUtilTokenizer;

namespace {

// The library's one exception type: polymorphic, no standard base, a
// 32-bit signed code.
static_assert(std::is_polymorphic<BQUtilException>::value, "virtual dtor");
static_assert(!std::is_base_of<std::exception, BQUtilException>::value, "");
static_assert(std::is_same<decltype(BQUtilException::code), std::int32_t>::value,
              "int32 code");

using Tokens = std::vector<std::string>;

// Every token of `text`; the tokenizer ends with a null cursor and its text
// unchanged.
template <class T, class D> Tokens allTokens(T const* text, D delim) {
  BQUtilTokenizer<T> t(text);
  Tokens out;
  while (T* tok = t.nextNonEmpty(delim)) {
    out.emplace_back(tok, tok + std::char_traits<T>::length(tok));
    delete[] tok;
  }
  EXPECT_EQ(nullptr, t.cursor);
  EXPECT_EQ(text, t.text);
  EXPECT_EQ(nullptr, t.nextNonEmpty(delim)); // and stays exhausted
  return out;
}

} // namespace

// A delimiter string of one character behaves as that character.
TEST(Tokenizer, SpaceDelimiter) {
  struct { char const* text; Tokens tokens; } const rows[] = {
      {"alpha  beta", {"alpha", "beta"}},
      {"  lead and trail  ", {"lead", "and", "trail"}},
      {"\"two words\" x", {"two words", "x"}},
      {"x \"\" y", {"x", "y"}},
      {"a\"b c\"d", {"a\"b c\"d"}},
      {"\"open end here", {"\"open end here"}},
      {"\"open end\"", {"open end"}},
      {"x \"quoted last\"", {"x", "quoted last"}},
      {"ends\" only", {"ends\" only"}},
      {"a ends\"", {"a", "ends\""}},
      {"a \"", {"a", "\""}},
      {"\"\"\"\"", {"\"\""}},
      {"last", {"last"}},
      {"   ", {}},
      {"", {}},
  };
  for (auto const& r : rows) {
    EXPECT_EQ(r.tokens, allTokens(r.text, ' ')) << "[" << r.text << "]";
    EXPECT_EQ(r.tokens, allTokens(r.text, " ")) << "[" << r.text << "]";
  }
  // wchar_t text: arrays counted in characters, not bytes.
  EXPECT_EQ((Tokens{"x", "\xE9t\xE9"}), allTokens(L"x \"\xE9t\xE9\"", L" "));
}

TEST(Tokenizer, StringDelimiter) {
  struct { char const* text; char const* delim; Tokens tokens; } const rows[] = {
      {"a::b:c", "::", {"a", "b:c"}},
      {"::a::::b::", "::", {"a", "b"}},
      {"a:::b", "::", {"a", ":b"}},
      {"\"x::y\"::z", "::", {"x::y", "z"}},
      {"a:", "::", {"a:"}},
      {"a b", "", {"a b"}},
  };
  for (auto const& r : rows)
    EXPECT_EQ(r.tokens, allTokens(r.text, r.delim)) << r.text << " " << r.delim;
  char delim[] = ","; // a T* as well as a const T*
  EXPECT_EQ((Tokens{"a", "b,c"}), allTokens("a,,\"b,c\"", delim));
}

TEST(Tokenizer, Cursor) {
  char const* text = "ab cd";
  BQUtilTokenizer<char> t(text);
  EXPECT_EQ(text, t.cursor);
  EXPECT_EQ(0u, t.reserved);
  char* tok = t.nextNonEmpty(' ');
  EXPECT_STREQ("ab", tok);
  EXPECT_EQ(text + 3, t.cursor);
  delete[] tok;
  BQUtilTokenizer<char> spaces("    ");
  EXPECT_EQ(nullptr, spaces.nextNonEmpty(' '));
  EXPECT_EQ(nullptr, spaces.cursor);
  BQUtilTokenizer<char> none(nullptr);
  EXPECT_EQ(nullptr, none.nextNonEmpty(' '));
  EXPECT_EQ(nullptr, none.nextNonEmpty("::"));
}
