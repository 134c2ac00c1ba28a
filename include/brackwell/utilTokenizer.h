//===- brackwell/utilTokenizer.h - Quoted-token tokenizer -------*- C++ -*-===//
//
// Declares BQUtilException, the one exception type of the library, and the
// tokenizer template BQUtilTokenizer.
//
//===----------------------------------------------------------------------===//
/// @file
/// BQUtilException and the quoted-token tokenizer BQUtilTokenizer.
#ifndef BRACKWELL_UTILTOKENIZER_H
#define BRACKWELL_UTILTOKENIZER_H

#include "bqStatus.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace Brackwell {

/// BQUtilException
///
/// Thrown by value, always with `code` 8, when a non-throwing array
/// allocation for a string, path or token buffer yields null and the
/// operation cannot go on without it. It derives from no standard exception
/// type; its only virtual operation is the destructor.
///
///   try {
///     BQFileSpec p("dir", "name", BQFileSpec::ENCODING_UTF8);
///   } catch (BQUtilException const& e) {
///     // e.code == 8
///   }
class BQUtilException {
public:
  /// An exception carrying `c` (the library always gives 8).
  explicit BQUtilException(std::int32_t c) : code(c) {}
  /// Out of line, so that the type's identity is the library's own.
  virtual ~BQUtilException();

  /// BQ_STS_OutOfMemory (8) for every exception the library throws.
  std::int32_t code;
};

/// @cond INTERNAL
// How BQUtilTokenizer finds its tokens; not part of the API.
namespace internal {

/// Length of a zero-terminated text of T; 0 for a null pointer.
template <class T> std::size_t tokenLength(const T* s) {
  std::size_t n = 0;
  if (s)
    while (s[n] != T())
      ++n;
  return n;
}

/// A delimiter, seen as a run of characters that splits only when it occurs
/// whole. One character is a run of length 1; a null or empty delimiter
/// string never matches.
template <class T> struct Delimiter {
  const T* chars;
  std::size_t length;
  T single;

  explicit Delimiter(T c) : chars(nullptr), length(1), single(c) {
    chars = &single;
  }
  explicit Delimiter(const T* s) : chars(s), length(tokenLength(s)), single() {}

  Delimiter(Delimiter const&) = delete;
  Delimiter& operator=(Delimiter const&) = delete;

  /// Whether the whole delimiter starts at `p`. A partial match (the text
  /// ends or differs before the last delimiter character) is not one.
  bool matchesAt(const T* p) const {
    if (length == 0)
      return false;
    for (std::size_t i = 0; i < length; ++i)
      if (p[i] != chars[i]) // also stops at the text's terminator
        return false;
    return true;
  }
};

/// One token found from a cursor, not yet consumed.
template <class T> struct TokenSpan {
  const T* begin;   ///< first character kept (after an opening quote)
  std::size_t size; ///< characters kept
  const T* next;    ///< the cursor after the token; null at the end
};

/// Finds the token that starts at `cursor` (not null, not at the end).
template <class T>
TokenSpan<T> findToken(const T* cursor, Delimiter<T> const& delim) {
  const T quote = static_cast<T>('"');
  std::size_t quotes = 0;
  const T* p = cursor;
  while (*p != T()) {
    if (quotes % 2 == 0 && delim.matchesAt(p))
      break;
    if (*p == quote)
      ++quotes;
    ++p;
  }
  TokenSpan<T> span;
  span.begin = cursor;
  span.size = static_cast<std::size_t>(p - cursor);
  span.next = (*p == T()) ? nullptr : p + delim.length;
  // Enclosing quotes are dropped. A token that is one lone quote has no
  // separate closing quote, so it is kept as that one character.
  if (span.size >= 2 && span.begin[0] == quote &&
      span.begin[span.size - 1] == quote) {
    ++span.begin;
    span.size -= 2;
  }
  return span;
}

} // namespace internal
/// @endcond

/// BQUtilTokenizer
///
/// Splits a zero-terminated text into tokens separated by a delimiter (one
/// character or a string). A delimiter between double quotes does not split,
/// and a token enclosed in a pair of double quotes loses that pair. Empty
/// tokens are skipped. The text is not copied: it must stay alive and
/// unchanged while the tokenizer is used.
///
///   BQUtilTokenizer<char> t("alpha  \"two words\" x");
///   t.nextNonEmpty(' ')  => "alpha"
///   t.nextNonEmpty(' ')  => "two words"
///   t.nextNonEmpty(' ')  => "x"
///   t.nextNonEmpty(' ')  => nullptr (and every later call)
///
/// Other results, with a space as delimiter:
///
///   "a\"b c\"d"      => "a\"b c\"d" (one token, quotes kept)
///   "\"open end"     => "\"open end" (an unclosed quote runs to the end)
///   "x \"\" y"       => "x", "y" (the quoted empty token is skipped)
///   "x \""           => "x", "\"" (a lone final quote is kept as is)
///
/// With the delimiter string "::", "a::b:c" => "a", "b:c": only a whole
/// occurrence splits, the scan resumes after it, and a partial match is
/// ordinary text. A one-character string acts as that character. A null or
/// empty delimiter string never splits: the rest of the text is one token.
template <class T> class BQUtilTokenizer {
public:
  /// Starts a tokenizer at the beginning of `str` (which may be null).
  explicit BQUtilTokenizer(const T* str)
      : text(str), cursor(str), reserved(0) {}

  /// Hands out the next non-empty token.
  ///
  /// @param delim One delimiter character (T) or a delimiter string
  ///        (const T* or T*).
  /// @returns A new array allocated with `new (std::nothrow) T[]` holding the
  ///          token and a terminator, exactly token length + 1 elements;
  ///          the caller releases it with delete[]. Null when no non-empty
  ///          token is left; `cursor` is then null.
  /// @throws BQUtilException with code 8 when the array cannot be
  ///         allocated. Empty tokens before it are already skipped, but the
  ///         token itself is not consumed: the next call tries it again.
  template <class D> T* nextNonEmpty(D delim) {
    internal::Delimiter<T> d(delim);
    for (;;) {
      if (!cursor || *cursor == T()) {
        cursor = nullptr;
        return nullptr;
      }
      internal::TokenSpan<T> span = internal::findToken(cursor, d);
      if (span.size == 0) {
        cursor = span.next;
        continue;
      }
      T* token = new (std::nothrow) T[span.size + 1];
      if (!token)
        throw BQUtilException(BQ_STS_OutOfMemory);
      for (std::size_t i = 0; i < span.size; ++i)
        token[i] = span.begin[i];
      token[span.size] = T();
      cursor = span.next;
      return token;
    }
  }

  const T* text;   ///< the start of the text; never changed
  const T* cursor; ///< where the next token begins; null once exhausted
  std::uintptr_t reserved; ///< zero; kept for layout, never used
};

} // namespace Brackwell

#endif // BRACKWELL_UTILTOKENIZER_H
