//===- fileutils/status.h - Status of a path --------------------*- C++ -*-===//
//
// Internal to the library, not part of the API: nothing outside src/ may
// include this header, and its names may change at any time.
//
// The one status read that the file-system operations share: stat() of a
// path's UTF-8 text, handed to the system unchanged.
//
//   statPath(BQFileSpec("/tmp", BQFileSpec::ENCODING_UTF8), st) => true
//   statPath(BQFileSpec(), st)                                  => false
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_FILEUTILS_STATUS_H
#define BRACKWELL_SRC_FILEUTILS_STATUS_H

#include "brackwell/fileSpec.h"

#include <sys/stat.h>

namespace Brackwell {
namespace detail {

/// stat() of the path's UTF-8 text into `st`; false for the null value or
/// when the call fails. On 64-bit Linux struct stat already carries 64-bit
/// sizes and times.
inline bool statPath(BQFileSpec const& path, struct stat& st) {
  char const* p = path.utf8();
  return p != nullptr && ::stat(p, &st) == 0;
}

} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_FILEUTILS_STATUS_H
