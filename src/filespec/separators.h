//===- filespec/separators.h - Path separators ------------------*- C++ -*-===//
//
// Internal to the library, not part of the API: nothing outside src/ may
// include this header, and its names may change at any time.
//
// The two separators every path examination knows, "/" and "\", for the
// path value and the file-system operations built on it.
//
//   isSeparator('\\')           => true
//   trimmedLength("a/b//", 5)   => 3
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_FILESPEC_SEPARATORS_H
#define BRACKWELL_SRC_FILESPEC_SEPARATORS_H

#include <cstddef>

namespace Brackwell {
namespace detail {

inline bool isSeparator(char ch) { return ch == '/' || ch == '\\'; }

// The length of path[0, n) without its trailing separators.
inline std::size_t trimmedLength(char const* path, std::size_t n) {
  while (n > 0 && isSeparator(path[n - 1]))
    --n;
  return n;
}

} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_FILESPEC_SEPARATORS_H
