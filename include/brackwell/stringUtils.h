//===- brackwell/stringUtils.h - String utilities ---------------*- C++ -*-===//
//
// Declares BQStringUtils: number formatting and parsing, case mapping,
// comparison without regard to case, plain widening and narrowing, and
// conversions among native, UTF-8 and wide text.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_STRINGUTILS_H
#define BRACKWELL_STRINGUTILS_H

#include <string>

namespace Brackwell {

/// BQStringUtils
///
/// Static operations only.
class BQStringUtils {
public:
  BQStringUtils() = delete;

  static void itoa(int value, std::string& out);
  static std::string itoa(int value);
  static void itoa(int value, std::wstring& out);

  static long atol(std::string const& text);
  static long atol(std::wstring const& text);
  static double atod(std::string const& text);
  static double atod(std::wstring const& text);

  static std::string toLower(char const* text);
  static std::wstring toLower(wchar_t const* text);
  static std::string toUpper(char const* text);
  static std::wstring toUpper(wchar_t const* text);

  static int compare_no_case(char const* a, char const* b);
  static int compare_no_case(std::string const& a, std::string const& b);
  static int compare_no_case(wchar_t const* a, wchar_t const* b);
  static int compare_no_case(std::wstring const& a, std::wstring const& b);

  static std::wstring towcs(char const* text);
  static std::wstring towcs(std::string const& text);
  static std::wstring towcs(wchar_t const* text);
  static std::wstring towcs(std::wstring const& text);

  static std::string tostr(wchar_t const* text);
  static std::string tostr(std::wstring const& text);
  static std::string tostr(char const* text);
  static std::string tostr(std::string const& text);

  static char* WideToUTF8(wchar_t const* text);
  static wchar_t* UTF8ToWide(char const* text);
  static char* NativeToUTF8(char const* text);
  static char* UTF8ToNative(char const* text);
};

} // namespace Brackwell

#endif // BRACKWELL_STRINGUTILS_H
