// Fuzz target for BQUtilTokenizer<char>.
//
// Input: byte 0 picks the delimiter form (one character, or a string of
// 1-3 characters taken from the next bytes); the rest is the text, cut at
// its first zero byte. Properties checked:
//   - no token is longer than the text, and none is empty;
//   - where the text holds no double quote, the tokens are exactly the
//     non-empty pieces of a plain split at every whole delimiter match
//     (scanning on after the match), written here independently.
#include "brackwell/utilTokenizer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using Brackwell::BQUtilTokenizer;

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_tokenizer: property violated: %s\n", what);
  std::abort();
}

std::vector<std::string> plainSplit(std::string const& text,
                                    std::string const& delim) {
  std::vector<std::string> out;
  std::string piece;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, delim.size(), delim) == 0) {
      if (!piece.empty())
        out.push_back(piece);
      piece.clear();
      i += delim.size();
    } else {
      piece += text[i++];
    }
  }
  if (!piece.empty())
    out.push_back(piece);
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  const bool single = (data[0] & 3) == 0;
  std::size_t dlen = single ? 1 : 1 + data[0] % 3;
  if (size < 1 + dlen)
    return 0;
  std::string delim(reinterpret_cast<const char*>(data + 1), dlen);
  if (delim.find('\0') != std::string::npos)
    return 0;
  std::string text(reinterpret_cast<const char*>(data + 1 + dlen),
                   size - 1 - dlen);
  text = text.c_str(); // the tokenizer reads up to the first zero byte

  BQUtilTokenizer<char> tok(text.c_str());
  std::vector<std::string> tokens;
  for (;;) {
    std::unique_ptr<char[]> t(single ? tok.nextNonEmpty(delim[0])
                                     : tok.nextNonEmpty(delim.c_str()));
    if (!t)
      break;
    const std::size_t n = std::strlen(t.get());
    if (n == 0 || n > text.size())
      fail("empty token, or a token longer than the text");
    tokens.emplace_back(t.get());
    if (tokens.size() > text.size())
      fail("more tokens than characters");
  }
  if (text.find('"') == std::string::npos && tokens != plainSplit(text, delim))
    fail("tokens differ from a plain split of quote-free text");
  return 0;
}
