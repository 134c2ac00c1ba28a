//===- text/transcode.h - Conversions into new buffers ----------*- C++ -*-===//
//
// Internal to the library, not part of the API: nothing outside src/ may
// include this header, and its names may change at any time.
//
// The whole-text conversions that the string utilities and the path value
// share. Each sizes one zero-filled buffer from the worst case of its
// encoding and converts the text and its terminator strictly with the
// conversion routines; the result code is not examined, so an invalid unit
// or sequence ends the text (the zero fill terminates it there):
//
//   utf16ToUTF8({0x61, 0xD800, 0x62, 0})  => "a"           (3n + 1 bytes)
//   wideToUTF8({0x1F600, 0})              => F0 9F 98 80   (4n + 1 bytes)
//   utf8ToWide("a\xFF" "b", 3)            => L"a"   (n + 1 wide characters)
//
// A buffer that cannot be had, or whose size would not fit in size_t, gives
// null; the caller decides whether that is an error. Text in the native
// narrow encoding needs no conversion here: it is UTF-8 on this platform,
// and newTextCopy (text/buffers.h) copies it.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_TEXT_TRANSCODE_H
#define BRACKWELL_SRC_TEXT_TRANSCODE_H

#include "brackwell/ConvertUTF.h"
#include "text/buffers.h"

#include <cstring>
#include <cwchar>
#include <memory>

namespace Brackwell {
namespace detail {

/// Zero-terminated UTF-16 text (not null) as UTF-8.
inline std::unique_ptr<char[]> utf16ToUTF8(UTF16 const* text) noexcept {
  std::size_t n = 0;
  while (text[n] != 0)
    ++n;
  if (n > SIZE_MAX / 8) // 3n + 1 would pass newArray's limit
    return nullptr;
  std::size_t size = 3 * n + 1; // 3 bytes a unit, 4 for a pair of 2
  std::unique_ptr<char[]> buf = newArray<char>(size);
  if (!buf)
    return nullptr;
  std::memset(buf.get(), 0, size);
  UTF16 const* src = text;
  UTF8* dst = reinterpret_cast<UTF8*>(buf.get());
  (void)ConvertUTF16toUTF8(&src, src + n + 1, &dst, dst + size,
                           strictConversion);
  return buf;
}

/// Zero-terminated wide (UTF-32) text (not null) as UTF-8.
inline std::unique_ptr<char[]> wideToUTF8(wchar_t const* text) noexcept {
  std::size_t n = std::wcslen(text);
  if (n > SIZE_MAX / 8) // 4n + 1 would pass newArray's limit
    return nullptr;
  std::size_t size = 4 * n + 1;
  std::unique_ptr<char[]> buf = newArray<char>(size);
  if (!buf)
    return nullptr;
  std::memset(buf.get(), 0, size);
  UTF32 const* src = reinterpret_cast<UTF32 const*>(text);
  UTF8* dst = reinterpret_cast<UTF8*>(buf.get());
  (void)ConvertUTF32toUTF8(&src, src + n + 1, &dst, dst + size,
                           strictConversion);
  return buf;
}

/// UTF-8 text of `length` bytes (not null) and its terminator as wide text;
/// one wide character per byte always suffices.
inline std::unique_ptr<wchar_t[]> utf8ToWide(char const* text,
                                             std::size_t length) noexcept {
  std::unique_ptr<wchar_t[]> buf = newArray<wchar_t>(length + 1);
  if (!buf)
    return nullptr;
  std::wmemset(buf.get(), L'\0', length + 1);
  UTF8 const* src = reinterpret_cast<UTF8 const*>(text);
  UTF32* dst = reinterpret_cast<UTF32*>(buf.get());
  (void)ConvertUTF8toUTF32(&src, src + length + 1, &dst, dst + length + 1,
                           strictConversion);
  return buf;
}

} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_TEXT_TRANSCODE_H
