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

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>

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

// Owns one temporary component buffer for the span of a constructor.
class TempBuffer {
public:
  TempBuffer() = default;
  TempBuffer(TempBuffer const&) = delete;
  TempBuffer& operator=(TempBuffer const&) = delete;
  ~TempBuffer() { delete[] m_buf; }

  char* get() const { return m_buf; }
  void reset(char* buf) {
    delete[] m_buf;
    m_buf = buf;
  }

private:
  char* m_buf = nullptr;
};

// Copies native narrow text into a new buffer (the native encoding is UTF-8
// here, so the bytes are unchanged). Null stays null.
// @throws BQUtilException code 8 when the buffer cannot be allocated.
char* nativeToUTF8(char const* text) {
  if (!text)
    return nullptr;
  std::size_t len = std::strlen(text);
  char* buf = new (std::nothrow) char[len + 1];
  if (!buf)
    throw BQUtilException(8);
  std::memcpy(buf, text, len + 1);
  return buf;
}

// Gives the UTF-8 form of a narrow component: the text itself for UTF-8,
// otherwise a native copy held by `holder`.
char const* narrowComponent(char const* text, BQFileSpec::EncodingType enc,
                            TempBuffer& holder) {
  if (enc == BQFileSpec::ENCODING_UTF8)
    return text;
  holder.reset(nativeToUTF8(text));
  return holder.get();
}

// Converts null-terminated UTF-16 into a new zero-filled buffer of 3n + 1
// bytes; a strict conversion that stops early leaves the text before the
// stop. Null input, or a buffer that cannot be had, gives null.
char* utf16ToUTF8(unsigned short const* text) {
  if (!text)
    return nullptr;
  std::size_t n = 0;
  while (text[n] != 0)
    ++n;
  std::size_t size = 3 * n + 1;
  char* buf = new (std::nothrow) char[size]();
  if (!buf)
    return nullptr;
  UTF16 const* src = reinterpret_cast<UTF16 const*>(text);
  UTF8* dst = reinterpret_cast<UTF8*>(buf);
  ConvertUTF16toUTF8(&src, src + n + 1, &dst, dst + size, strictConversion);
  return buf;
}

// Converts null-terminated wide (UTF-32) text into a new zero-filled buffer
// of 4n + 1 bytes, as utf16ToUTF8 does.
char* wideToUTF8(wchar_t const* text) {
  if (!text)
    return nullptr;
  std::size_t n = std::wcslen(text);
  std::size_t size = 4 * n + 1;
  char* buf = new (std::nothrow) char[size]();
  if (!buf)
    return nullptr;
  UTF32 const* src = reinterpret_cast<UTF32 const*>(text);
  UTF8* dst = reinterpret_cast<UTF8*>(buf);
  ConvertUTF32toUTF8(&src, src + n + 1, &dst, dst + size, strictConversion);
  return buf;
}

// Takes ownership of a component conversion and hands back its text.
char const* hold(TempBuffer& holder, char* converted) {
  holder.reset(converted);
  return converted;
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
template <class T> T* installRendering(T** field, T* fresh) {
  if (!BQUtilSync::doAtomicCompareAndSwap(reinterpret_cast<void**>(field),
                                          nullptr, fresh))
    delete[] fresh;
  return __atomic_load_n(field, __ATOMIC_ACQUIRE);
}

} // namespace

//===----------------------------------------------------------------------===//
// Construction
//===----------------------------------------------------------------------===//

BQFileSpec::BQFileSpec()
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {}

BQFileSpec::BQFileSpec(BQFileSpec const& other)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  if (!other.m_path)
    return;
  std::size_t len = std::strlen(other.m_path);
  m_path = new (std::nothrow) char[len + 1];
  if (m_path)
    std::memcpy(m_path, other.m_path, len + 1);
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
  if (other.m_path) {
    std::size_t len = std::strlen(other.m_path);
    m_path = new (std::nothrow) char[len + 1];
    if (m_path)
      std::memcpy(m_path, other.m_path, len + 1);
  }
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

// Narrow family.

BQFileSpec::BQFileSpec(char const* a, EncodingType enc)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer ta;
  init(narrowComponent(a, enc, ta));
}

BQFileSpec::BQFileSpec(char const* a, char const* b, EncodingType enc)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer ta, tb;
  char const* ua = narrowComponent(a, enc, ta);
  char const* ub = narrowComponent(b, enc, tb);
  init(ua, ub);
}

BQFileSpec::BQFileSpec(char const* a, char const* b, char const* c,
                       EncodingType enc)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer ta, tb, tc;
  char const* ua = narrowComponent(a, enc, ta);
  char const* ub = narrowComponent(b, enc, tb);
  char const* uc = narrowComponent(c, enc, tc);
  init(ua, ub, uc);
}

// Path and narrow family.

BQFileSpec::BQFileSpec(BQFileSpec const& a, char const* b, EncodingType enc)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tb;
  init(a.m_path, narrowComponent(b, enc, tb));
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, char const* b, char const* c,
                       EncodingType enc)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tb, tc;
  char const* ub = narrowComponent(b, enc, tb);
  char const* uc = narrowComponent(c, enc, tc);
  init(a.m_path, ub, uc);
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b, char const* c,
                       EncodingType enc)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tc;
  init(a.m_path, b.m_path, narrowComponent(c, enc, tc));
}

// Paths family.

BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  init(a.m_path, b.m_path);
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b,
                       BQFileSpec const& c)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  init(a.m_path, b.m_path, c.m_path);
}

// UTF-16 family.

BQFileSpec::BQFileSpec(unsigned short const* a)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  // A single component is kept unchanged, so the conversion is the path.
  m_path = utf16ToUTF8(a);
}

BQFileSpec::BQFileSpec(unsigned short const* a, unsigned short const* b)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer ta, tb;
  char const* ua = hold(ta, utf16ToUTF8(a));
  char const* ub = hold(tb, utf16ToUTF8(b));
  init(ua, ub);
}

BQFileSpec::BQFileSpec(unsigned short const* a, unsigned short const* b,
                       unsigned short const* c)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer ta, tb, tc;
  char const* ua = hold(ta, utf16ToUTF8(a));
  char const* ub = hold(tb, utf16ToUTF8(b));
  char const* uc = hold(tc, utf16ToUTF8(c));
  init(ua, ub, uc);
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, unsigned short const* b)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tb;
  init(a.m_path, hold(tb, utf16ToUTF8(b)));
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, unsigned short const* b,
                       unsigned short const* c)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tb, tc;
  char const* ub = hold(tb, utf16ToUTF8(b));
  char const* uc = hold(tc, utf16ToUTF8(c));
  init(a.m_path, ub, uc);
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b,
                       unsigned short const* c)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tc;
  init(a.m_path, b.m_path, hold(tc, utf16ToUTF8(c)));
}

// Wide family.

BQFileSpec::BQFileSpec(wchar_t const* a)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer ta;
  init(hold(ta, wideToUTF8(a)));
}

BQFileSpec::BQFileSpec(wchar_t const* a, wchar_t const* b)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer ta, tb;
  char const* ua = hold(ta, wideToUTF8(a));
  char const* ub = hold(tb, wideToUTF8(b));
  init(ua, ub);
}

BQFileSpec::BQFileSpec(wchar_t const* a, wchar_t const* b, wchar_t const* c)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer ta, tb, tc;
  char const* ua = hold(ta, wideToUTF8(a));
  char const* ub = hold(tb, wideToUTF8(b));
  char const* uc = hold(tc, wideToUTF8(c));
  init(ua, ub, uc);
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, wchar_t const* b)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tb;
  init(a.m_path, hold(tb, wideToUTF8(b)));
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, wchar_t const* b, wchar_t const* c)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tb, tc;
  char const* ub = hold(tb, wideToUTF8(b));
  char const* uc = hold(tc, wideToUTF8(c));
  init(a.m_path, ub, uc);
}

BQFileSpec::BQFileSpec(BQFileSpec const& a, BQFileSpec const& b,
                       wchar_t const* c)
    : m_path(nullptr), m_native(nullptr), m_wide(nullptr) {
  TempBuffer tc;
  init(a.m_path, b.m_path, hold(tc, wideToUTF8(c)));
}

void BQFileSpec::init(char const* a, char const* b, char const* c) {
  delete[] m_native;
  m_native = nullptr;
  delete[] m_wide;
  m_wide = nullptr;
  // The old path may hold the components; it goes only once they are copied.
  TempBuffer old;
  old.reset(m_path);
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
  char* buf = new (std::nothrow) char[size];
  if (!buf)
    throw BQUtilException(8);

  std::memcpy(buf, a, lenA + 1);
  if (b) {
    std::size_t len = appendComponent(buf, lenA, b);
    if (c)
      appendComponent(buf, len, c);
  }
  m_path = buf;
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
  std::size_t len = std::strlen(m_path);
  char* buf = new (std::nothrow) char[len + 1];
  if (!buf)
    throw BQUtilException(8);
  std::memcpy(buf, m_path, len + 1); // the native encoding is UTF-8
  return installRendering(&m_native, buf);
}

wchar_t const* BQFileSpec::w_str() const {
  if (wchar_t* wide = __atomic_load_n(&m_wide, __ATOMIC_ACQUIRE))
    return wide;
  if (!m_path)
    return nullptr;
  std::size_t m = std::strlen(m_path);
  // One wide character per UTF-8 byte always suffices.
  wchar_t* buf = new (std::nothrow) wchar_t[m + 1]();
  if (!buf)
    return __atomic_load_n(&m_wide, __ATOMIC_ACQUIRE);
  UTF8 const* src = reinterpret_cast<UTF8 const*>(m_path);
  UTF32* dst = reinterpret_cast<UTF32*>(buf);
  ConvertUTF8toUTF32(&src, src + m + 1, &dst, dst + m + 1, strictConversion);
  return installRendering(&m_wide, buf);
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

// A new buffer holding the first `len` bytes of `text` and a terminator.
// @throws BQUtilException code 8 when it cannot be allocated.
char* copyPrefix(char const* text, std::size_t len) {
  char* buf = new (std::nothrow) char[len + 1];
  if (!buf)
    throw BQUtilException(8);
  if (len)
    std::memcpy(buf, text, len);
  buf[len] = '\0';
  return buf;
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
  char* buf = new (std::nothrow) char[p + lenSuffix + 2];
  if (!buf)
    throw BQUtilException(8);
  if (p)
    std::memcpy(buf, m_path, p);
  buf[p] = '.';
  std::memcpy(buf + p + 1, suffix, lenSuffix + 1);
  BQFileSpec result;
  result.m_path = buf;
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
