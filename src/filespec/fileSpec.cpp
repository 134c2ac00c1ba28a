//===- filespec/fileSpec.cpp - The path value type ------------------------===//
//
// BQFileSpec holds a path as UTF-8 in one owned buffer and makes its native
// and wide renderings lazily. Components in other encodings are converted
// into temporary buffers that live only until init() has joined them.
//
//===----------------------------------------------------------------------===//
#include "brackwell/fileSpec.h"

#include "brackwell/ConvertUTF.h"
#include "brackwell/utilSync.h"
#include "filespec/separators.h"
#include "text/buffers.h"
#include "text/transcode.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace Brackwell {

namespace {

using detail::isSeparator;
using detail::trimmedLength;

// The position just after the last separator in path[0, end), or 0 when
// there is none. Paths are scanned from the end eight bytes at a time; the
// per-byte equality test cannot carry from one byte into the next, so the
// highest flagged byte is the last separator.
std::size_t afterLastSeparator(char const* path, std::size_t end) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  auto zeroBytes = [](std::uint64_t x) { // 0x80 in each zero byte
    return ~(((x & kLow7) + kLow7) | x | kLow7);
  };
  while (end >= 8) {
    std::uint64_t w;
    std::memcpy(&w, path + end - 8, 8);
    std::uint64_t hits = zeroBytes(w ^ (kOnes * '/')) | zeroBytes(w ^ (kOnes * '\\'));
    if (hits)
      return end - 8 + static_cast<std::size_t>(63 - __builtin_clzll(hits)) / 8 + 1;
    end -= 8;
  }
#endif
  while (end > 0 && !isSeparator(path[end - 1]))
    --end;
  return end;
}

// The shared empty text handed out where no pointer into a path exists.
char const kEmptyText[] = "";

using detail::newTextCopy;
using detail::newTextCopyOrThrow;

// One component in UTF-8: text the caller owns, used as it is, or a
// conversion held here until the join has copied it.
class Utf8Part {
public:
  Utf8Part(char const* text = nullptr) : m_text(text) {}
  Utf8Part(std::unique_ptr<char[]> converted)
      : m_owned(std::move(converted)), m_text(m_owned.get()) {}
  char const* text() const { return m_text; }

private:
  std::unique_ptr<char[]> m_owned;
  char const* m_text;
};

// The "to UTF-8" step of each component type. A component that is null, or
// whose UTF-16 or wide conversion buffer cannot be had, is null.
Utf8Part toUTF8(BQFileSpec const& path) { return path.utf8(); }

// Native text is UTF-8 on this platform: only ENCODING_UTF8 is used as it
// is, every other value copies the bytes (and can throw).
Utf8Part toUTF8(char const* text, BQFileSpec::EncodingType enc) {
  if (enc == BQFileSpec::ENCODING_UTF8 || !text)
    return text;
  return newTextCopyOrThrow(text, std::strlen(text));
}

Utf8Part toUTF8(unsigned short const* text) {
  if (!text)
    return nullptr;
  return detail::utf16ToUTF8(reinterpret_cast<UTF16 const*>(text));
}

Utf8Part toUTF8(wchar_t const* text) {
  if (!text)
    return nullptr;
  return detail::wideToUTF8(text);
}

// The converted components of one constructor. Built from a braced list,
// whose elements are evaluated in order, so the conversions run a, b, c and
// all of them before the join.
struct Utf8Parts {
  Utf8Parts(Utf8Part first, Utf8Part second = {}, Utf8Part third = {})
      : a(std::move(first)), b(std::move(second)), c(std::move(third)) {}
  Utf8Part a, b, c;
};

// Joins converted components into `value` (init copies them; they are
// released when the constructor's full expression ends).
void join(BQFileSpec& value, Utf8Parts const& parts) {
  value.init(parts.a.text(), parts.b.text(), parts.c.text());
}

// Appends `part` to the joined text of length `len` in `buf`: the trailing
// separators of the text are dropped and one "/" inserted (a text of
// separators only becomes "/"). Returns the new length.
std::size_t appendComponent(char* buf, std::size_t len, char const* part) {
  len = trimmedLength(buf, len);
  buf[len++] = '/';
  std::size_t partLen = std::strlen(part);
  std::memcpy(buf + len, part, partLen);
  len += partLen;
  buf[len] = '\0';
  return len;
}

// Installs `fresh` in `*field` if the field is still null; otherwise
// releases it. Returns whatever the field then holds.
template <class T>
T* installRendering(T** field, std::unique_ptr<T[]> fresh) {
  if (BQUtilSync::doAtomicCompareAndSwap(reinterpret_cast<void**>(field),
                                         nullptr, fresh.get()))
    fresh.release(); // the field owns it now
  return __atomic_load_n(field, __ATOMIC_ACQUIRE);
}

} // namespace

//===----------------------------------------------------------------------===//
// Construction
//===----------------------------------------------------------------------===//

BQFileSpec::BQFileSpec() = default;

BQFileSpec::BQFileSpec(BQFileSpec const& other) {
  if (other.m_path)
    m_path = newTextCopy(other.m_path, std::strlen(other.m_path)).release();
}

BQFileSpec& BQFileSpec::operator=(BQFileSpec const& other) {
  delete[] m_native;
  m_native = nullptr;
  delete[] m_wide;
  m_wide = nullptr;
  if (this == &other)
    return *this; // the path is its own copy
  delete[] m_path;
  m_path = nullptr;
  if (other.m_path)
    m_path = newTextCopy(other.m_path, std::strlen(other.m_path)).release();
  return *this;
}

BQFileSpec::BQFileSpec(BQFileSpec&& other) noexcept
    : m_path(other.m_path), m_native(other.m_native), m_wide(other.m_wide) {
  other.m_path = nullptr;
  other.m_native = nullptr;
  other.m_wide = nullptr;
}

BQFileSpec& BQFileSpec::operator=(BQFileSpec&& other) noexcept {
  if (this == &other)
    return *this;
  delete[] m_path;
  delete[] m_native;
  delete[] m_wide;
  m_path = other.m_path;
  m_native = other.m_native;
  m_wide = other.m_wide;
  other.m_path = nullptr;
  other.m_native = nullptr;
  other.m_wide = nullptr;
  return *this;
}

BQFileSpec::~BQFileSpec() {
  delete[] m_path;
  delete[] m_native;
  delete[] m_wide;
}

// From components: each is converted to UTF-8, then joined.

BQFileSpec::BQFileSpec(char const* a, EncodingType enc) {
  join(*this, {toUTF8(a, enc)});
}
BQFileSpec::BQFileSpec(char const* a, char const* b, EncodingType enc) {
  join(*this, {toUTF8(a, enc), toUTF8(b, enc)});
}
BQFileSpec::BQFileSpec(char const* a, char const* b, char const* c,
                       EncodingType enc) {
  join(*this, {toUTF8(a, enc), toUTF8(b, enc), toUTF8(c, enc)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, char const* b, EncodingType enc) {
  join(*this, {toUTF8(a), toUTF8(b, enc)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, char const* b, char const* c,
                       EncodingType enc) {
  join(*this, {toUTF8(a), toUTF8(b, enc), toUTF8(c, enc)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b, char const* c,
                       EncodingType enc) {
  join(*this, {toUTF8(a), toUTF8(b), toUTF8(c, enc)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b) {
  join(*this, {toUTF8(a), toUTF8(b)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b,
                       BQFileSpec const& c) {
  join(*this, {toUTF8(a), toUTF8(b), toUTF8(c)});
}

// A single UTF-16 component is kept unchanged by the join, so its
// conversion is the path itself, made without init(): null or a buffer that
// cannot be had gives the null value, and nothing is thrown.
BQFileSpec::BQFileSpec(unsigned short const* a) {
  if (a)
    m_path = detail::utf16ToUTF8(reinterpret_cast<UTF16 const*>(a)).release();
}
BQFileSpec::BQFileSpec(unsigned short const* a, unsigned short const* b) {
  join(*this, {toUTF8(a), toUTF8(b)});
}
BQFileSpec::BQFileSpec(unsigned short const* a, unsigned short const* b,
                       unsigned short const* c) {
  join(*this, {toUTF8(a), toUTF8(b), toUTF8(c)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, unsigned short const* b) {
  join(*this, {toUTF8(a), toUTF8(b)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, unsigned short const* b,
                       unsigned short const* c) {
  join(*this, {toUTF8(a), toUTF8(b), toUTF8(c)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b,
                       unsigned short const* c) {
  join(*this, {toUTF8(a), toUTF8(b), toUTF8(c)});
}

BQFileSpec::BQFileSpec(wchar_t const* a) { join(*this, {toUTF8(a)}); }
BQFileSpec::BQFileSpec(wchar_t const* a, wchar_t const* b) {
  join(*this, {toUTF8(a), toUTF8(b)});
}
BQFileSpec::BQFileSpec(wchar_t const* a, wchar_t const* b, wchar_t const* c) {
  join(*this, {toUTF8(a), toUTF8(b), toUTF8(c)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, wchar_t const* b) {
  join(*this, {toUTF8(a), toUTF8(b)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, wchar_t const* b, wchar_t const* c) {
  join(*this, {toUTF8(a), toUTF8(b), toUTF8(c)});
}
BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b,
                       wchar_t const* c) {
  join(*this, {toUTF8(a), toUTF8(b), toUTF8(c)});
}

void BQFileSpec::init(char const* a, char const* b, char const* c) {
  delete[] m_native;
  m_native = nullptr;
  delete[] m_wide;
  m_wide = nullptr;
  // The old path may hold the components; it goes only once they are copied.
  std::unique_ptr<char[]> old(m_path);
  m_path = nullptr;
  if (!a)
    return;

  std::size_t lenA = std::strlen(a);
  std::size_t size = lenA + 1;
  if (b) {
    size += std::strlen(b) + 1;
    if (c)
      size += std::strlen(c) + 1;
  }
  std::unique_ptr<char[]> buf = detail::newArrayOrThrow<char>(size);
  std::memcpy(buf.get(), a, lenA + 1);
  if (b) {
    std::size_t len = appendComponent(buf.get(), lenA, b);
    if (c)
      appendComponent(buf.get(), len, c);
  }
  m_path = buf.release();
}

//===----------------------------------------------------------------------===//
// Accessors
//===----------------------------------------------------------------------===//

bool BQFileSpec::empty() const { return !m_path || m_path[0] == '\0'; }

char const* BQFileSpec::utf8() const { return m_path; }

char const* BQFileSpec::n_str() const {
  if (char* native = __atomic_load_n(&m_native, __ATOMIC_ACQUIRE))
    return native;
  if (!m_path)
    return nullptr;
  // The native encoding is UTF-8 on this platform: the rendering is a copy.
  return installRendering(&m_native,
                          newTextCopyOrThrow(m_path, std::strlen(m_path)));
}

wchar_t const* BQFileSpec::w_str() const {
  if (wchar_t* wide = __atomic_load_n(&m_wide, __ATOMIC_ACQUIRE))
    return wide;
  if (!m_path)
    return nullptr;
  std::unique_ptr<wchar_t[]> buf =
      detail::utf8ToWide(m_path, std::strlen(m_path));
  if (!buf) // no memory: whatever another thread may have installed
    return __atomic_load_n(&m_wide, __ATOMIC_ACQUIRE);
  return installRendering(&m_wide, std::move(buf));
}

//===----------------------------------------------------------------------===//
// Comparison
//===----------------------------------------------------------------------===//

bool BQFileSpec::operator==(BQFileSpec const& other) const {
  if (m_path == other.m_path)
    return true;
  if (!m_path || !other.m_path)
    return false;
  return std::strcmp(m_path, other.m_path) == 0;
}

bool BQFileSpec::operator!=(BQFileSpec const& other) const {
  return !(*this == other);
}

bool BQFileSpec::operator<(BQFileSpec const& other) const {
  return m_path && other.m_path && std::strcmp(m_path, other.m_path) < 0;
}

bool BQFileSpec::operator<=(BQFileSpec const& other) const {
  return m_path && other.m_path && std::strcmp(m_path, other.m_path) <= 0;
}

bool BQFileSpec::operator>(BQFileSpec const& other) const {
  return m_path && other.m_path && std::strcmp(m_path, other.m_path) > 0;
}

bool BQFileSpec::operator>=(BQFileSpec const& other) const {
  return m_path && other.m_path && std::strcmp(m_path, other.m_path) >= 0;
}

//===----------------------------------------------------------------------===//
// Decomposition
//===----------------------------------------------------------------------===//

namespace {

// A new path holding the first `len` bytes of `text`.
// @throws BQUtilException code 8 when it cannot be allocated.
char* copyPrefix(char const* text, std::size_t len) {
  return newTextCopyOrThrow(text, len).release();
}

} // namespace

BQFileSpec BQFileSpec::dirname() const {
  char const* s = m_path ? m_path : kEmptyText;
  std::size_t n = std::strlen(s);
  std::size_t m = trimmedLength(s, n);
  BQFileSpec result;
  if (n == 0) {
    result.m_path = copyPrefix(".", 1);
  } else if (m == 0) {
    result.m_path = copyPrefix(s, 1);
  } else {
    // Position m - 1 ends the last component; look before it.
    std::size_t k = afterLastSeparator(s, m - 1);
    if (k == 0)
      result.m_path = copyPrefix(".", 1);
    else if (k == 1)
      result.m_path = copyPrefix(s, 1); // the separator at position 0
    else
      result.m_path = copyPrefix(s, k - 1);
  }
  return result;
}

char const* BQFileSpec::basename() const {
  if (!m_path)
    return kEmptyText;
  std::size_t n = std::strlen(m_path);
  std::size_t m = trimmedLength(m_path, n);
  if (m == 0)
    return m_path; // the empty text, or separators only
  return m_path + afterLastSeparator(m_path, m - 1);
}

bool BQFileSpec::absolute() const { return m_path && m_path[0] == '/'; }

char const* BQFileSpec::getSuffix() const {
  if (!m_path)
    return kEmptyText;
  char const* dot = std::strrchr(m_path, '.');
  return dot ? dot + 1 : kEmptyText;
}

std::size_t BQFileSpec::getPrefixLength() const {
  if (empty())
    return 0;
  char const* dot = std::strrchr(basename(), '.');
  if (dot)
    return static_cast<std::size_t>(dot - m_path);
  return std::strlen(m_path);
}

BQFileSpec BQFileSpec::replaceSuffix(char const* suffix) const {
  if (!suffix)
    suffix = kEmptyText;
  std::size_t p = getPrefixLength();
  std::size_t lenSuffix = std::strlen(suffix);
  std::unique_ptr<char[]> buf = detail::newArrayOrThrow<char>(p + lenSuffix + 2);
  if (p)
    std::memcpy(buf.get(), m_path, p);
  buf[p] = '.';
  std::memcpy(buf.get() + p + 1, suffix, lenSuffix + 1);
  BQFileSpec result;
  result.m_path = buf.release();
  return result;
}

BQFileSpec BQFileSpec::removeSuffix() const {
  std::size_t p = getPrefixLength();
  BQFileSpec result;
  if (p)
    result.m_path = copyPrefix(m_path, p);
  return result;
}

} // namespace Brackwell
