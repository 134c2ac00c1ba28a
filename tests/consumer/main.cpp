// Uses one entity of each subsystem of an installed Brackwell, derives from
// BQThread and catches BQUtilException (both need the type information that
// a shared library must export), and checks that brackwell/version.h agrees
// with the version the package was found with. Exits 0 when all behave as
// documented.
#include <brackwell/brackwell.h>

#include <cstdio>
#include <cstring>
#include <memory>

using namespace Brackwell;

namespace {

class Answer : public BQThread {
protected:
  std::int32_t task() override { return 42; }
};

} // namespace

int main() {
  BQFileSpec p("/usr/include/", "stdio.h", BQFileSpec::ENCODING_UTF8);
  if (std::strcmp(p.dirname().utf8(), "/usr/include") != 0)
    return 1;
  const UTF8 src[] = {0xE2, 0x82, 0xAC};
  const UTF8* s = src;
  UTF16 out[2];
  UTF16* t = out;
  if (ConvertUTF8toUTF16(&s, src + 3, &t, out + 2, strictConversion) !=
          conversionOK ||
      out[0] != 0x20AC)
    return 3;
  if (!BQFileUtils::isDirectory(BQFileSpec("/", BQFileSpec::ENCODING_UTF8)))
    return 4;
  Answer a;
  if (a.execute() != BQ_STS_Success || a.interrupt() != BQ_STS_Success ||
      a.getTaskReturnValue() != 42)
    return 6;
  BQUtilTokenizer<char> tok("x \"y z\"");
  std::unique_ptr<char[]> first(tok.nextNonEmpty(' '));
  std::unique_ptr<char[]> second(tok.nextNonEmpty(' '));
  if (!first || !second || std::strcmp(second.get(), "y z") != 0)
    return 7;
  try {
    throw BQUtilException(BQ_STS_OutOfMemory);
  } catch (BQUtilException const& e) {
    if (e.code != 8)
      return 8;
  }
  if (std::strcmp(BRACKWELL_VERSION_STRING, EXPECTED_VERSION) != 0)
    return 9;
  std::printf("consumer ok (Brackwell %s)\n", BRACKWELL_VERSION_STRING);
  return 0;
}
