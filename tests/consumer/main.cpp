// Uses one entity of each subsystem of an installed Brackwell; exits 0 when
// they behave as documented.
#include <brackwell/brackwell.h>

#include <cstdio>
#include <cstring>

using namespace Brackwell;

int main() {
  BQFileSpec p("/usr/include/", "stdio.h", BQFileSpec::ENCODING_UTF8);
  if (std::strcmp(p.utf8(), "/usr/include/stdio.h") != 0)
    return 1;
  if (std::strcmp(p.dirname().utf8(), "/usr/include") != 0)
    return 2;
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
  BQUtilMutex m;
  if (m.lock() != BQ_STS_Success || m.unlock() != BQ_STS_Success)
    return 5;
  std::puts("consumer ok");
  return 0;
}
