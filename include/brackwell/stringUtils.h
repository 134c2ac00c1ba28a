//===- brackwell/stringUtils.h - String utilities ---------------*- C++ -*-===//
//
// Declares BQStringUtils: number formatting and parsing, case mapping,
// comparison without regard to case, plain widening and narrowing, and
// conversions among native, UTF-8 and wide text.
//
//   BQStringUtils::itoa(-7);                         // => "-7"
//   BQStringUtils::atol(std::string("  42abc"));     // => 42
//   BQStringUtils::toUpper("MiXeD 123");             // => "MIXED 123"
//   BQStringUtils::compare_no_case("abc", "ABC");    // => 0
//   BQStringUtils::tostr(L"caf\xE9");                // => "caf\xE9" (8 bits each)
//   char* utf8 = BQStringUtils::WideToUTF8(L"caf\xE9"); // => "caf\xC3\xA9"
//   delete[] utf8;                                   // arrays are the caller's
//
//===----------------------------------------------------------------------===//
/// @file
/// BQStringUtils: string utilities over narrow and wide text.
#ifndef BRACKWELL_STRINGUTILS_H
#define BRACKWELL_STRINGUTILS_H

#include <string>

namespace Brackwell {

/// BQStringUtils
///
/// Static operations on narrow (`char`) and wide (`wchar_t`, one UTF-32
/// unit) text. No instances, no state; safe in any number of threads.
///
/// Memory: when it is exhausted, toLower, toUpper, towcs (narrow input),
/// tostr (wide input), NativeToUTF8 and UTF8ToNative throw BQUtilException
/// with code 8, and so do the wide overloads of itoa, atol, atod and
/// compare_no_case through them. WideToUTF8 and UTF8ToWide return null
/// instead.
///
/// Sizes: every buffer size is computed in size_t, so a text of any length
/// is handled; a size that cannot be represented counts as exhausted memory.
///
/// The case mapping, compare_no_case and atod follow the process locale;
/// the examples below are for the "C" locale.
class BQStringUtils {
public:
  BQStringUtils() = delete;

  /// @name Numbers
  /// @{

  /// Replaces `out` with `value` in "%d" form (not appended).
  ///
  ///   0       => "0"
  ///   INT_MIN => "-2147483648"
  static void itoa(int value, std::string& out);
  /// Returns `value` in "%d" form: -7 => "-7".
  static std::string itoa(int value);
  /// Replaces `out` with the "%d" form widened by towcs: 42 => L"42".
  static void itoa(int value, std::wstring& out);

  /// Parses a decimal `long` with strtol (base 10). Leading white space is
  /// skipped, parsing stops at the first non-digit, out-of-range values
  /// saturate. Nothing is reported.
  ///
  ///   "  42abc" => 42
  ///   "abc"     => 0
  ///   "0x1A"    => 0
  ///   "99999999999999999999" => LONG_MAX
  static long atol(std::string const& text);
  /// As atol on tostr(text): each character is narrowed to 8 bits first.
  ///
  ///   L"\x0131" L"2" => 12   (U+0131 narrows to '1')
  static long atol(std::wstring const& text);
  /// Parses a double with strtod (locale decimal point); 0.0 without a
  /// number.
  ///
  ///   "1.5e3" => 1500.0
  ///   ""      => 0.0
  static double atod(std::string const& text);
  /// As atod on tostr(text).
  static double atod(std::wstring const& text);

  /// @}
  /// @name Case mapping
  /// @{

  /// Lower-case copy through tolower; null => "".
  ///
  ///   "MiXeD 123" => "mixed 123"
  static std::string toLower(char const* text);
  /// Lower-case copy through towlower; null => L"".
  ///
  ///   L"MiXeD 123" => L"mixed 123"
  static std::wstring toLower(wchar_t const* text);
  /// Upper-case copy through toupper; null => "".
  ///
  ///   "MiXeD 123" => "MIXED 123"
  static std::string toUpper(char const* text);
  /// Upper-case copy through towupper; null => L"".
  ///
  ///   L"MiXeD 123" => L"MIXED 123"
  static std::wstring toUpper(wchar_t const* text);

  /// @}
  /// @name Comparison
  /// @{

  /// strcasecmp of the two texts (both must be non-null): negative, zero or
  /// positive.
  ///
  ///   ("abc", "ABC") => 0
  ///   ("abc", "ABD") => negative
  static int compare_no_case(char const* a, char const* b);
  /// As above on the strings' texts, each up to its first zero byte.
  static int compare_no_case(std::string const& a, std::string const& b);
  /// wcscmp of the two texts (both must be non-null). Case is NOT folded.
  ///
  ///   (L"abc", L"ABC") => non-zero
  static int compare_no_case(wchar_t const* a, wchar_t const* b);
  /// Both narrowed by tostr, then strcasecmp. Characters that differ only
  /// above their lowest 8 bits compare equal.
  ///
  ///   (L"abc", L"ABC")       => 0
  ///   (L"\x0141", L"\x0041") => 0
  static int compare_no_case(std::wstring const& a, std::wstring const& b);

  /// @}
  /// @name Widening and narrowing
  /// No decoding or encoding: each code unit moves across as a number.
  /// @{

  /// Widens each byte as a signed 8-bit value; null or "" => L"".
  ///
  ///   "a"    => L"a"
  ///   "\xE9" => { (wchar_t)0xFFFFFFE9 }   (not 0xE9)
  static std::wstring towcs(char const* text);
  /// As towcs on text.c_str(): the text ends at its first zero byte.
  ///
  ///   {0x61, 0x00, 0x62} => L"a"
  static std::wstring towcs(std::string const& text);
  /// Copy up to the terminator; null => L"".
  static std::wstring towcs(wchar_t const* text);
  /// Copy of the whole string.
  static std::wstring towcs(std::wstring const& text);

  /// Narrows each character to its lowest 8 bits; the result ends before
  /// the first character whose lowest 8 bits are zero. null or L"" => "".
  ///
  ///   L"\x20AC"             => "\xAC"
  ///   L"\x0041\x0100\x0042" => "A"
  static std::string tostr(wchar_t const* text);
  /// As above over the string's size, with the same cut at the first zero
  /// byte.
  static std::string tostr(std::wstring const& text);
  /// Copy up to the terminator; null => "".
  static std::string tostr(char const* text);
  /// Copy of the whole string.
  static std::string tostr(std::string const& text);

  /// @}
  /// @name New arrays for the caller
  /// The result is zero-terminated, allocated with the non-throwing array
  /// new, and released by the caller with delete[].
  /// @{

  /// Wide text to UTF-8 (strict ConvertUTF32toUTF8) in an array of
  /// 4 * length + 1 zero-filled bytes. A surrogate ends the text before it;
  /// values above 0x10FFFF (every negative wchar_t) become U+FFFD.
  ///
  ///   L"\xE9"          => C3 A9 00 00 00
  ///   L"\x1F600"       => F0 9F 98 80 00
  ///   {0x61, 0xD800, 0x62} => 61 00 ...
  ///   {0x110000}       => EF BF BD 00 00
  ///
  /// @returns null for a null text or when the array cannot be allocated.
  static char* WideToUTF8(wchar_t const* text);
  /// UTF-8 to wide text (strict ConvertUTF8toUTF32) in an array of
  /// length + 1 zero-filled wide characters; the result ends before the
  /// first ill-formed or incomplete sequence.
  ///
  ///   68 C3 A9 => L"h\xE9"
  ///   61 C3    => L"a"
  ///
  /// @returns null for a null text or when the array cannot be allocated.
  static wchar_t* UTF8ToWide(char const* text);
  /// Copy of the bytes (native text is UTF-8); null => null.
  /// @throws BQUtilException (code 8) when the array cannot be allocated.
  static char* NativeToUTF8(char const* text);
  /// Copy of the bytes (native text is UTF-8); null => null.
  /// @throws BQUtilException (code 8) when the array cannot be allocated.
  static char* UTF8ToNative(char const* text);

  /// @}
};

} // namespace Brackwell

#endif // BRACKWELL_STRINGUTILS_H
