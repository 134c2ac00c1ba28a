//===- brackwell/fileSpec.h - The path value type ---------------*- C++ -*-===//
//
// Declares BQFileSpec, the library's value type for a file-system path. A
// path is built from up to three components given as native narrow text,
// UTF-8, UTF-16 (unsigned short) or wide text (wchar_t, UTF-32), joined with
// one "/" between them, and always held as UTF-8. Native and wide renderings
// are made on first request and kept until the path changes.
//
//   BQFileSpec dir("/usr/", BQFileSpec::ENCODING_UTF8);
//   BQFileSpec hdr(dir, "include/stdio.h", BQFileSpec::ENCODING_NATIVE);
//   hdr.utf8();        // => "/usr/include/stdio.h"
//   hdr.dirname();     // => "/usr/include"
//   hdr.basename();    // => "stdio.h"
//   hdr.getSuffix();   // => "h"
//   hdr.w_str();       // => L"/usr/include/stdio.h"
//
// The value is text only: it never consults the file system and never
// normalises "." or "..". Both "/" and "\" count as separators wherever a
// path is examined; the separator the join inserts is always "/".
//
// Exhausted memory throws BQUtilException (code 8) where the operation
// cannot go on, and gives a null result where its contract allows that;
// each operation says which.
//
//===----------------------------------------------------------------------===//
/// @file
/// BQFileSpec, the path value type.
#ifndef BRACKWELL_FILESPEC_H
#define BRACKWELL_FILESPEC_H

#include "utilTokenizer.h" // BQUtilException

#include <cstddef>

namespace Brackwell {

/// BQFileSpec
///
/// A copyable path value. Two special values are told apart: the null value
/// (no path; utf8() is null) and the empty value (the empty text). Pointers
/// handed out by utf8(), n_str(), w_str(), basename() and getSuffix() belong
/// to the value and stay valid until it is assigned to, re-joined by init()
/// or destroyed.
///
/// Thread safety: any number of threads may read one value at once,
/// including n_str() and w_str(), which install their rendering with one
/// atomic compare-and-swap so that every caller gets the same pointer.
/// Assignment, init() and destruction need exclusive access.
///
/// Choices made where the contract is open:
///  - A null first component, or the null value as first BQFileSpec
///    component, gives the null value; nothing is read through null. So does
///    a UTF-16 or wide first component whose conversion buffer cannot be had.
///  - Assigning a value to itself keeps its path (the renderings are
///    released and rebuilt on request).
///  - EncodingType has no default argument: every narrow constructor names
///    the encoding of its text.
class BQFileSpec {
public:
  /// EncodingType
  ///
  /// How narrow components are encoded. Only the value 1 is tested for;
  /// every other value (7, say) acts as ENCODING_NATIVE. On this platform
  /// both give the same path (native text is UTF-8), but ENCODING_NATIVE
  /// copies each component first, one more point where exhausted memory
  /// throws.
  enum EncodingType : int {
    ENCODING_NATIVE = 0, ///< native narrow text, converted to UTF-8
    ENCODING_UTF8 = 1    ///< UTF-8, used as it is
  };

  /// @name Construction
  /// @{

  /// The null value.
  BQFileSpec();
  /// Copies the other value's path (the null value copies as null); the
  /// renderings start null. Exhausted memory gives the null value.
  BQFileSpec(BQFileSpec const& other);
  /// Releases all three buffers, then copies the other value's path.
  /// Exhausted memory gives the null value; nothing is thrown.
  BQFileSpec& operator=(BQFileSpec const& other);
  /// Takes over the other value's path and renderings without allocating;
  /// the other value is left as the null value. Pointers handed out by the
  /// other value stay valid and now belong to this one.
  ///
  /// @code
  ///   BQFileSpec a("/x/y", BQFileSpec::ENCODING_UTF8);
  ///   BQFileSpec b(std::move(a));   // b.utf8() => "/x/y", a.utf8() => null
  /// @endcode
  ///
  /// Results of functions (BQFileSpec(dir, name), dirname(), cwd()) and
  /// paths kept in a std::vector thus move instead of being copied.
  BQFileSpec(BQFileSpec&& other) noexcept;
  /// Releases all three buffers, then takes over the other value's, leaving
  /// it the null value. Moving a value into itself keeps it unchanged.
  BQFileSpec& operator=(BQFileSpec&& other) noexcept;
  /// Releases the path and both renderings.
  ~BQFileSpec();

  /// Narrow components, joined by init().
  ///
  /// @code
  ///   ("a", "x")           => a/x
  ///   ("a//", "x")         => a/x
  ///   ("X:\dir", "f")      => X:\dir/f
  ///   ("", "x")            => /x
  ///   ("a", "")            => a/
  ///   ("a", "/x")          => a//x
  ///   ("/usr/", "/lib/", "x") => /usr//lib/x
  ///   ("a/b", null, "c")   => a/b
  ///   ("a//")              => a//
  /// @endcode
  /// @throws BQUtilException code 8 when the joined path, or a native
  /// component's copy, cannot be allocated. The same holds for every
  /// constructor below that takes narrow text.
  BQFileSpec(char const* a, EncodingType enc);
  /// Narrow components a and b.
  BQFileSpec(char const* a, char const* b, EncodingType enc);
  /// Narrow components a, b and c.
  BQFileSpec(char const* a, char const* b, char const* c, EncodingType enc);

  /// A path followed by a narrow component; `enc` applies to b only.
  BQFileSpec(BQFileSpec const& a, char const* b, EncodingType enc);
  /// A path followed by two narrow components.
  BQFileSpec(BQFileSpec const& a, char const* b, char const* c,
             EncodingType enc);
  /// Two paths followed by a narrow component.
  BQFileSpec(BQFileSpec const& a, BQFileSpec const& b, char const* c,
             EncodingType enc);

  /// Paths joined as components: (BQFileSpec("dir"), BQFileSpec("f")) =>
  /// dir/f.
  /// @throws BQUtilException code 8 when the joined path cannot be
  /// allocated. The same holds for the UTF-16 and wide constructors below,
  /// except the one-argument UTF-16 one.
  BQFileSpec(BQFileSpec const& a, BQFileSpec const& b);
  /// Three paths joined as components.
  BQFileSpec(BQFileSpec const& a, BQFileSpec const& b, BQFileSpec const& c);

  /// One UTF-16 component, converted strictly: an unpaired surrogate ends
  /// it. Null gives the null value, and so does exhausted memory (nothing
  /// is thrown). In the constructors below, a UTF-16 or wide second or third
  /// component whose buffer cannot be had counts as null.
  BQFileSpec(unsigned short const* a);
  /// UTF-16 components a and b.
  BQFileSpec(unsigned short const* a, unsigned short const* b);
  /// UTF-16 components a, b and c.
  BQFileSpec(unsigned short const* a, unsigned short const* b,
             unsigned short const* c);
  /// A path followed by a UTF-16 component.
  BQFileSpec(BQFileSpec const& a, unsigned short const* b);
  /// A path followed by two UTF-16 components.
  BQFileSpec(BQFileSpec const& a, unsigned short const* b,
             unsigned short const* c);
  /// Two paths followed by a UTF-16 component.
  BQFileSpec(BQFileSpec const& a, BQFileSpec const& b,
             unsigned short const* c);

  /// One wide (UTF-32) component, converted strictly: a surrogate value
  /// ends it; a value above 0x10FFFF becomes U+FFFD. The same holds for
  /// every wide component below.
  BQFileSpec(wchar_t const* a);
  /// Wide components a and b.
  BQFileSpec(wchar_t const* a, wchar_t const* b);
  /// Wide components a, b and c.
  BQFileSpec(wchar_t const* a, wchar_t const* b, wchar_t const* c);
  /// A path followed by a wide component.
  BQFileSpec(BQFileSpec const& a, wchar_t const* b);
  /// A path followed by two wide components.
  BQFileSpec(BQFileSpec const& a, wchar_t const* b, wchar_t const* c);
  /// Two paths followed by a wide component.
  BQFileSpec(BQFileSpec const& a, BQFileSpec const& b, wchar_t const* c);

  /// Replaces the path with the join of the UTF-8 components a, b, c. A null
  /// b ends the join (a is kept exactly as given, c is ignored). Each
  /// further component is appended after removing every trailing "/" and
  /// "\" of the text so far and inserting one "/" (a text of separators only
  /// becomes "/"). The components may point into the current path. A null
  /// `a` gives the null value.
  /// @throws BQUtilException code 8 when the path cannot be allocated; the
  /// value is then the null value.
  void init(char const* a, char const* b = nullptr, char const* c = nullptr);

  /// @}
  /// @name Accessors
  /// @{

  /// True for the null value and the empty value.
  bool empty() const;
  /// The UTF-8 path itself; null for the null value.
  char const* utf8() const;
  /// The native rendering, made on first call; null for the null value.
  /// @throws BQUtilException code 8 when the rendering cannot be allocated.
  char const* n_str() const;
  /// The wide rendering, made on first call; null for the null value or when
  /// its memory cannot be had. An invalid UTF-8 sequence ends it.
  wchar_t const* w_str() const;

  /// @}
  /// @name Comparison
  ///
  /// Byte-wise (strcmp) on the UTF-8 paths, case-sensitive, no
  /// normalisation. == is true for two null values and false between null
  /// and non-null; the four orderings are false when either side is null.
  ///
  /// @code
  ///   null == null  => true     null <= null => false
  ///   null == ""    => false    "" <= ""     => true
  ///   "B" < "a"     => true     "a/b" < "a0" => true
  /// @endcode
  /// @{

  /// Same path, or both null.
  bool operator==(BQFileSpec const& other) const;
  /// The negation of ==.
  bool operator!=(BQFileSpec const& other) const;
  /// strcmp() < 0; false when either side is null.
  bool operator<(BQFileSpec const& other) const;
  /// strcmp() <= 0; false when either side is null.
  bool operator<=(BQFileSpec const& other) const;
  /// strcmp() > 0; false when either side is null.
  bool operator>(BQFileSpec const& other) const;
  /// strcmp() >= 0; false when either side is null.
  bool operator>=(BQFileSpec const& other) const;

  /// @}

  /// @name Decomposition
  ///
  /// These work on the bytes of the UTF-8 path and never touch the file
  /// system. On the null value each gives the result it gives for the empty
  /// value.
  ///
  /// @code
  ///   path              dirname  basename     getSuffix getPrefixLength
  ///   (empty)           .        (empty)      (empty)   0
  ///   /                 /        /            (empty)   1
  ///   a/b/              a        b/           (empty)   4
  ///   a//b              a/       b            (empty)   4
  ///   ./a               .        a            /a        3
  ///   dir/file.tar.gz   dir      file.tar.gz  gz        12
  ///   .profile          .        .profile     profile   0
  ///   X:\dir\file.txt   X:\dir   file.txt     txt       11
  /// @endcode
  /// @{

  /// The directory part as a new value: "." when the path has no separator
  /// before its last component, the lone first byte for a path of
  /// separators only or a path whose only separator before the last
  /// component is its first byte, otherwise the text before the last such
  /// separator (exactly one separator dropped).
  /// @throws BQUtilException code 8 when the result cannot be allocated.
  BQFileSpec dirname() const;
  /// The last component, trailing separators included, as a pointer into
  /// the path: a/b/ => b/, // => //.
  char const* basename() const;
  /// True when the first byte of the path is "/".
  bool absolute() const;
  /// The text after the last "." anywhere in the path (dir.d/file => d/file),
  /// or a static empty text when there is no dot.
  char const* getSuffix() const;
  /// The number of bytes before the last "." of the last component; the
  /// whole length when that component has no dot; 0 for null and empty.
  std::size_t getPrefixLength() const;
  /// The prefix, ".", and `suffix` (null counts as empty) as a new value:
  /// a.txt with "bak" => a.bak; a with "txt" => a.txt; a.txt with "" => a.
  /// @throws BQUtilException code 8 when the result cannot be allocated.
  BQFileSpec replaceSuffix(char const* suffix) const;
  /// The prefix as a new value, or the null value when the prefix is empty
  /// (.profile, the empty value): dir/file.tar.gz => dir/file.tar.
  /// @throws BQUtilException code 8 when the result cannot be allocated.
  BQFileSpec removeSuffix() const;

  /// @}

private:
  char* m_path = nullptr;            // the path, UTF-8, or null
  mutable char* m_native = nullptr;  // native rendering, made by n_str()
  mutable wchar_t* m_wide = nullptr; // wide rendering, made by w_str()
};

} // namespace Brackwell

#endif // BRACKWELL_FILESPEC_H
