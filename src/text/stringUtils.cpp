//===- text/stringUtils.cpp - String utilities ----------------------------===//
//
// BQStringUtils: number formatting and parsing, case mapping, comparison
// without regard to case, plain widening and narrowing, and the four
// operations that hand freshly allocated arrays to their caller.
//
// Buffer sizes are computed in size_t. A length + 1 or 4 * length + 1 that
// would not fit in size_t (or exceed what new[] can address) is treated as
// an allocation failure, so a huge text can neither wrap a size around nor
// make a conversion write past the end of its buffer.
//
//===----------------------------------------------------------------------===//
#include "brackwell/stringUtils.h"

#include "brackwell/utilTokenizer.h"
#include "text/buffers.h"
#include "text/transcode.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <strings.h>

namespace Brackwell {

namespace {

using detail::newArrayOrThrow;

/// Narrows one wide character to its lowest 8 bits.
char narrowUnit(wchar_t c) {
  return static_cast<char>(
      static_cast<unsigned char>(static_cast<std::uint32_t>(c) & 0xFFu));
}

/// Narrows `length` wide characters into a working buffer; the result
/// ends at the first zero byte of the buffer.
std::string narrow(wchar_t const* text, std::size_t length) {
  std::unique_ptr<char[]> buf = newArrayOrThrow<char>(length + 1);
  for (std::size_t i = 0; i < length; ++i)
    buf[i] = narrowUnit(text[i]);
  buf[length] = '\0';
  return std::string(buf.get());
}

/// Maps each byte of `text` through `fn` (tolower or toupper).
std::string mapNarrow(char const* text, int (*fn)(int)) {
  if (!text)
    return std::string();
  std::size_t length = std::strlen(text);
  std::unique_ptr<char[]> buf = newArrayOrThrow<char>(length + 1);
  for (std::size_t i = 0; i < length; ++i)
    buf[i] = static_cast<char>(fn(static_cast<unsigned char>(text[i])));
  buf[length] = '\0';
  return std::string(buf.get(), length);
}

/// Maps each wide character of `text` through `fn` (towlower or towupper).
std::wstring mapWide(wchar_t const* text, std::wint_t (*fn)(std::wint_t)) {
  if (!text)
    return std::wstring();
  std::size_t length = std::wcslen(text);
  std::unique_ptr<wchar_t[]> buf = newArrayOrThrow<wchar_t>(length + 1);
  for (std::size_t i = 0; i < length; ++i)
    buf[i] = static_cast<wchar_t>(fn(static_cast<std::wint_t>(text[i])));
  buf[length] = L'\0';
  return std::wstring(buf.get(), length);
}

/// Copies a zero-terminated narrow text into a new array for the caller;
/// throws BQUtilException(BQ_STS_OutOfMemory) when it cannot be allocated.
char* copyNew(char const* text) {
  if (!text)
    return nullptr;
  return detail::newTextCopyOrThrow(text, std::strlen(text)).release();
}

} // namespace

// --- numbers -------------------------------------------------------------

void BQStringUtils::itoa(int value, std::string& out) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d", value);
  out = buf;
}

std::string BQStringUtils::itoa(int value) {
  std::string out;
  itoa(value, out);
  return out;
}

void BQStringUtils::itoa(int value, std::wstring& out) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d", value);
  std::wstring wide = towcs(static_cast<char const*>(buf));
  out.swap(wide);
}

long BQStringUtils::atol(std::string const& text) {
  return std::strtol(text.c_str(), nullptr, 10);
}

long BQStringUtils::atol(std::wstring const& text) {
  return atol(tostr(text));
}

double BQStringUtils::atod(std::string const& text) {
  return std::strtod(text.c_str(), nullptr);
}

double BQStringUtils::atod(std::wstring const& text) {
  return atod(tostr(text));
}

// --- case mapping ----------------------------------------------------------

std::string BQStringUtils::toLower(char const* text) {
  return mapNarrow(text, [](int c) { return std::tolower(c); });
}

std::wstring BQStringUtils::toLower(wchar_t const* text) {
  return mapWide(text, [](std::wint_t c) { return std::towlower(c); });
}

std::string BQStringUtils::toUpper(char const* text) {
  return mapNarrow(text, [](int c) { return std::toupper(c); });
}

std::wstring BQStringUtils::toUpper(wchar_t const* text) {
  return mapWide(text, [](std::wint_t c) { return std::towupper(c); });
}

// --- comparison ------------------------------------------------------------

int BQStringUtils::compare_no_case(char const* a, char const* b) {
  return ::strcasecmp(a, b);
}

int BQStringUtils::compare_no_case(std::string const& a,
                                   std::string const& b) {
  return ::strcasecmp(a.c_str(), b.c_str());
}

int BQStringUtils::compare_no_case(wchar_t const* a, wchar_t const* b) {
  return std::wcscmp(a, b);
}

int BQStringUtils::compare_no_case(std::wstring const& a,
                                   std::wstring const& b) {
  std::string na = tostr(a);
  std::string nb = tostr(b);
  return ::strcasecmp(na.c_str(), nb.c_str());
}

// --- widening --------------------------------------------------------------

std::wstring BQStringUtils::towcs(char const* text) {
  if (!text || !*text)
    return std::wstring();
  std::size_t length = std::strlen(text);
  std::unique_ptr<wchar_t[]> buf = newArrayOrThrow<wchar_t>(length + 1);
  for (std::size_t i = 0; i < length; ++i)
    buf[i] = static_cast<wchar_t>(static_cast<signed char>(text[i]));
  buf[length] = L'\0';
  return std::wstring(buf.get(), length);
}

std::wstring BQStringUtils::towcs(std::string const& text) {
  return towcs(text.c_str());
}

std::wstring BQStringUtils::towcs(wchar_t const* text) {
  if (!text)
    return std::wstring();
  return std::wstring(text);
}

std::wstring BQStringUtils::towcs(std::wstring const& text) { return text; }

// --- narrowing -------------------------------------------------------------

std::string BQStringUtils::tostr(wchar_t const* text) {
  if (!text || !*text)
    return std::string();
  return narrow(text, std::wcslen(text));
}

std::string BQStringUtils::tostr(std::wstring const& text) {
  if (text.empty())
    return std::string();
  return narrow(text.data(), text.size());
}

std::string BQStringUtils::tostr(char const* text) {
  if (!text)
    return std::string();
  return std::string(text);
}

std::string BQStringUtils::tostr(std::string const& text) { return text; }

// --- arrays for the caller -------------------------------------------------

char* BQStringUtils::WideToUTF8(wchar_t const* text) {
  return text ? detail::wideToUTF8(text).release() : nullptr;
}

wchar_t* BQStringUtils::UTF8ToWide(char const* text) {
  return text ? detail::utf8ToWide(text, std::strlen(text)).release()
              : nullptr;
}

char* BQStringUtils::NativeToUTF8(char const* text) { return copyNew(text); }

char* BQStringUtils::UTF8ToNative(char const* text) { return copyNew(text); }

} // namespace Brackwell
