//===- brackwell/utilTokenizer.h - Quoted-token tokenizer -------*- C++ -*-===//
//
// Declares BQUtilException, the one exception type of the library, and the
// tokenizer template BQUtilTokenizer.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_UTILTOKENIZER_H
#define BRACKWELL_UTILTOKENIZER_H

#include <cstdint>

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
  explicit BQUtilException(std::int32_t c) : code(c) {}
  virtual ~BQUtilException();

  std::int32_t code;
};

} // namespace Brackwell

#endif // BRACKWELL_UTILTOKENIZER_H
