// Fuzz target for BQFileSpec.
//
// Input: three components separated by zero bytes (UTF-8 text, also read as
// UTF-16 and wide units). Properties checked:
//   - joining two narrow components gives exactly the plain rule written
//     here: the trailing "/" and "\" of the first are trimmed, "/" stands
//     for nothing left, else one "/" is appended, and the second follows
//     exactly as given;
//   - utf8() and n_str() hold the same text; w_str() converts back to it
//     when the text is well-formed UTF-8;
//   - the six comparisons form one consistent order;
//   - dirname() is never longer than the path, and copies compare equal;
//   - the suffix laws: removeSuffix() is the first getPrefixLength() bytes
//     (null when there are none), replaceSuffix() with the path's own suffix
//     gives the path back when its last component holds the dot, and
//     removeSuffix() leaves no suffix when the path holds one dot only;
//   - the first component read as UTF-16 units and as wide characters
//     builds the path that a one-value-at-a-time strict conversion written
//     here gives (an unpaired surrogate or a surrogate value ends the text,
//     a wide value above 0x10FFFF becomes U+FFFD).
#include "brackwell/ConvertUTF.h"
#include "brackwell/fileSpec.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using Brackwell::BQFileSpec;

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_filespec: property violated: %s\n", what);
  std::abort();
}

std::string plainJoin(std::string a, std::string const& b) {
  while (!a.empty() && (a.back() == '/' || a.back() == '\\'))
    a.pop_back();
  a += '/';
  return a + b;
}

void appendUTF8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 units up to the terminating zero, strictly: an unpaired surrogate
// ends the text.
std::string plainFromUTF16(std::vector<unsigned short> const& u) {
  std::string out;
  for (std::size_t i = 0; u[i] != 0; ++i) {
    std::uint32_t c = u[i];
    if (c >= 0xD800 && c <= 0xDBFF && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      break;
    appendUTF8(out, c);
  }
  return out;
}

std::string plainFromWide(std::vector<wchar_t> const& w) {
  std::string out;
  for (std::size_t i = 0; w[i] != 0; ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(w[i]);
    if (c >= 0xD800 && c <= 0xDFFF)
      break;
    appendUTF8(out, c > 0x10FFFF ? 0xFFFD : c);
  }
  return out;
}

void checkSuffixLaws(BQFileSpec const& p) {
  std::string const path = p.utf8();
  std::size_t const n = p.getPrefixLength();
  if (n > path.size())
    fail("prefix longer than the path");
  BQFileSpec const removed = p.removeSuffix();
  if (n == 0 ? removed.utf8() != nullptr
             : (removed.utf8() == nullptr || path.substr(0, n) != removed.utf8()))
    fail("removeSuffix is not the prefix");
  if (n < path.size()) {
    BQFileSpec const same = p.replaceSuffix(p.getSuffix());
    if (!(same == p))
      fail("replaceSuffix with the own suffix changed the path");
    if (n > 0 && std::count(path.begin(), path.end(), '.') == 1 &&
        *removed.getSuffix() != '\0')
      fail("removeSuffix left a suffix");
  }
  BQFileSpec const bak = p.replaceSuffix("bak");
  if (std::strcmp(bak.getSuffix(), "bak") != 0)
    fail("replaceSuffix(bak) does not end in the suffix bak");
}

void checkOrder(BQFileSpec const& x, BQFileSpec const& y) {
  const int n = (x < y) + (y < x) + (x == y);
  if (n != 1 || (x != y) == (x == y) || (x <= y) != !(y < x) ||
      (x >= y) != !(x < y) || (x > y) != (y < x))
    fail("comparisons are not one consistent order");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (int k = 0; k < 2; ++k) {
    std::size_t z = text.find('\0', start);
    if (z == std::string::npos)
      break;
    parts.push_back(text.substr(start, z - start));
    start = z + 1;
  }
  parts.push_back(text.substr(start));
  parts.back() = parts.back().c_str();
  while (parts.size() < 3)
    parts.push_back("x");

  const BQFileSpec a(parts[0].c_str(), BQFileSpec::ENCODING_UTF8);
  const BQFileSpec b(parts[1].c_str(), BQFileSpec::ENCODING_UTF8);
  const BQFileSpec joined(parts[0].c_str(), parts[1].c_str(),
                          BQFileSpec::ENCODING_UTF8);
  if (joined.utf8() == nullptr || plainJoin(parts[0], parts[1]) != joined.utf8())
    fail("join differs from the plain rule");
  const BQFileSpec joined2(a, b);
  if (!(joined2 == joined))
    fail("joining values differs from joining texts");

  for (BQFileSpec const* p : {&a, &b, &joined}) {
    if (std::strcmp(p->utf8(), p->n_str()) != 0)
      fail("n_str differs from utf8");
    if (!p->empty()) {
      BQFileSpec const d = p->dirname();
      if (d.utf8() == nullptr || std::strlen(d.utf8()) > std::strlen(p->utf8()))
        fail("dirname longer than the path");
    }
    checkSuffixLaws(*p);
    BQFileSpec const copy(*p);
    if (!(copy == *p))
      fail("a copy differs");
  }
  checkOrder(a, b);
  checkOrder(a, joined);
  checkOrder(b, joined);

  // Wide text of well-formed UTF-8 converts back to the same bytes.
  std::vector<UTF32> scratch(parts[0].size() + 1);
  const UTF8* src = reinterpret_cast<const UTF8*>(parts[0].data());
  UTF32* dst = scratch.data();
  const bool wellFormed =
      ConvertUTF8toUTF32(&src, src + parts[0].size(), &dst,
                         dst + scratch.size(), strictConversion) == conversionOK;
  const wchar_t* w = a.w_str();
  if (wellFormed && !parts[0].empty()) {
    if (w == nullptr)
      fail("w_str of well-formed text is null");
    BQFileSpec const back(w);
    if (back.utf8() == nullptr || parts[0] != back.utf8())
      fail("w_str does not convert back to the same text");
  }

  // The first component's bytes read as UTF-16 units and as wide values.
  std::string const& raw = parts[0];
  std::vector<unsigned short> u16(raw.size() / 2 + 2, 0);
  std::memcpy(u16.data(), raw.data(), raw.size() / 2 * 2);
  BQFileSpec const from16(u16.data());
  if (from16.utf8() == nullptr || plainFromUTF16(u16) != from16.utf8())
    fail("UTF-16 constructor differs from the plain conversion");
  std::vector<wchar_t> w32(raw.size() / 4 + 2, 0);
  std::memcpy(w32.data(), raw.data(), raw.size() / 4 * 4);
  BQFileSpec const from32(w32.data());
  if (from32.utf8() == nullptr || plainFromWide(w32) != from32.utf8())
    fail("wide constructor differs from the plain conversion");
  BQFileSpec const joined16(a, u16.data());
  if (joined16.utf8() == nullptr ||
      plainJoin(parts[0], plainFromUTF16(u16)) != joined16.utf8())
    fail("joining a UTF-16 component differs from the plain rule");
  return 0;
}
