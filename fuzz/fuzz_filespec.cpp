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
//   - dirname() is never longer than the path, and copies compare equal.
#include "brackwell/ConvertUTF.h"
#include "brackwell/fileSpec.h"

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
  return 0;
}
