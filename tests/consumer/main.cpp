// Built against an installed Brackwell: a path and its directory's status, a
// class derived from BQThread and a caught BQUtilException (both need type
// information that a shared library must export), and brackwell/version.h,
// which must agree with the version the package was found with.
#include <brackwell/brackwell.h>

#include <cstdio>
#include <cstring>

using namespace Brackwell;

struct Answer : BQThread { std::int32_t task() override { return 42; } };

int main() {
  auto const dir = BQFileSpec("/usr/include/", "stdio.h", BQFileSpec::ENCODING_UTF8).dirname();
  Answer a;
  bool ok = std::strcmp(dir.utf8(), "/usr/include") == 0 && BQFileUtils::isDirectory(dir) &&
            a.execute() == BQ_STS_Success && a.interrupt() == BQ_STS_Success &&
            a.getTaskReturnValue() == 42 && std::strcmp(BRACKWELL_VERSION_STRING, EXPECTED_VERSION) == 0;
  try {
    throw BQUtilException(BQ_STS_OutOfMemory);
  } catch (BQUtilException const& e) {
    ok = ok && e.code == BQ_STS_OutOfMemory;
  }
  std::printf("consumer %s (Brackwell %s)\n", ok ? "ok" : "FAILED", BRACKWELL_VERSION_STRING);
  return ok ? 0 : 1;
}
