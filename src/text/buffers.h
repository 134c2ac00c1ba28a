//===- text/buffers.h - Owned character arrays ------------------*- C++ -*-===//
//
// Internal to the library, not part of the API: nothing outside src/ may
// include this header, and its names may change at any time.
//
// Every working buffer of the library comes from the non-throwing array new
// and is released with delete[], so an array handed on to a caller (which
// releases it with delete[]) is allocated the same way. The two helpers
// below differ only in what exhausted memory gives:
//
//   newArray<char>(n)        => an owning pointer, null when memory is out
//   newArrayOrThrow<char>(n) => an owning pointer, or throws
//                               BQUtilException(BQ_STS_OutOfMemory)
//   newTextCopy("a/b", 1)    => "a", or null when memory is out
//
// A count whose byte size would not fit in size_t (or exceed what new[] can
// address) counts as exhausted memory too, without calling new[].
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_BUFFERS_H
#define BRACKWELL_SRC_TEXT_BUFFERS_H

#include "brackwell/bqStatus.h"
#include "brackwell/utilTokenizer.h" // BQUtilException

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace Brackwell {
namespace detail {

/// An array of `count` T from the non-throwing array new (elements are not
/// initialised); null when it cannot be had.
template <class T> std::unique_ptr<T[]> newArray(std::size_t count) noexcept {
  if (count > SIZE_MAX / 2 / sizeof(T))
    return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

/// As newArray, but exhausted memory throws
/// BQUtilException(BQ_STS_OutOfMemory) instead of giving null.
template <class T> std::unique_ptr<T[]> newArrayOrThrow(std::size_t count) {
  std::unique_ptr<T[]> array = newArray<T>(count);
  if (!array)
    throw BQUtilException(BQ_STS_OutOfMemory);
  return array;
}

/// text[0, length) and a terminating zero in a new array; null when it
/// cannot be had.
inline std::unique_ptr<char[]> newTextCopy(char const* text,
                                           std::size_t length) noexcept {
  std::unique_ptr<char[]> copy = newArray<char>(length + 1);
  if (copy) {
    std::memcpy(copy.get(), text, length);
    copy[length] = '\0';
  }
  return copy;
}

/// As newTextCopy, but exhausted memory throws
/// BQUtilException(BQ_STS_OutOfMemory).
inline std::unique_ptr<char[]> newTextCopyOrThrow(char const* text,
                                                  std::size_t length) {
  std::unique_ptr<char[]> copy = newTextCopy(text, length);
  if (!copy)
    throw BQUtilException(BQ_STS_OutOfMemory);
  return copy;
}

} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_TEXT_BUFFERS_H
