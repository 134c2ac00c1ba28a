// BQUtilTokenizer: one token table for character and string delimiters, with
// the cursor's life cycle. The exception type it throws is checked here too.
#include "brackwell/utilTokenizer.h"

#include "support/bqtest.h"

#include <cstdint>
#include <exception>
#include <type_traits>

using namespace Brackwell;

// The library's one exception type: polymorphic, no standard base, a 32-bit
// signed code.
static_assert(std::is_polymorphic<BQUtilException>::value && !std::is_base_of<std::exception, BQUtilException>::value &&
              std::is_same<decltype(BQUtilException::code), std::int32_t>::value, "BQUtilException");

namespace {

// Every token of `text`, each followed by '|'. The tokenizer starts at the
// text, ends with a null cursor and its text unchanged, and stays exhausted.
template <class T, class D> std::string tokens(T const* text, D delim) {
  BQUtilTokenizer<T> t(text);
  EXPECT_TRUE(t.cursor == text && t.reserved == 0);
  std::string out;
  for (T* tok; (tok = t.nextNonEmpty(delim)) != nullptr; delete[] tok)
    out += std::string(tok, tok + std::char_traits<T>::length(tok)) + "|";
  EXPECT_TRUE(t.cursor == nullptr && t.text == text && t.nextNonEmpty(delim) == nullptr);
  return out;
}

} // namespace

// A delimiter string of one character acts as that character.
TEST(Tokenizer, Tokens) {
  struct { char const* text; char const* delim; char const* tokens; } const rows[] = {
      // A delimiter inside quotes does not split; a token quoted at both ends loses that pair.
      {"  alpha  beta  x \"\" y", " ", "alpha|beta|x|y|"}, {"a ends\"", " ", "a|ends\"|"},
      {"\"two words\" a\"b c\"d \"last\"", " ", "two words|a\"b c\"d|last|"}, {"a \"", " ", "a|\"|"},
      {"\"open end here", " ", "\"open end here|"}, {"\"\"\"\"", " ", "\"\"|"}, {"   ", " ", ""}, {"", " ", ""},
      // A delimiter string splits only where it occurs whole; an empty one never splits.
      {"a::b:c", "::", "a|b:c|"}, {"::a::::b::", "::", "a|b|"}, {"a:::b", "::", "a|:b|"},
      {"\"x::y\"::z", "::", "x::y|z|"}, {"a b", "", "a b|"}};
  for (auto const& r : rows) {
    EXPECT_EQ(r.tokens, tokens(r.text, r.delim)) << "[" << r.text << "] [" << r.delim << "]";
    EXPECT_EQ(r.tokens, r.delim[0] && !r.delim[1] ? tokens(r.text, r.delim[0]) : r.tokens) << "[" << r.text << "]";
  }
  char comma[] = ","; // a T* as well as a const T*
  EXPECT_EQ("a|b,c|", tokens("a,,\"b,c\"", comma));
  EXPECT_EQ("x|\xE9t\xE9|", tokens(L"x \"\xE9t\xE9\"", L" ")); // lengths in characters
  EXPECT_EQ("", tokens(static_cast<char const*>(nullptr), ' '));
  BQUtilTokenizer<char> t("ab cd"); // a token moves the cursor past its delimiter
  delete[] t.nextNonEmpty(' ');
  EXPECT_STREQ("cd", t.cursor);
}
