//===- fileutils/tempPaths.cpp - Temporary files and process paths --------===//
//
// BQFileUtils operations that find paths the caller does not name: the
// temporary directory, new temporary files, the working directory and the
// running program's executable.
//
//===----------------------------------------------------------------------===//
#include "brackwell/fileUtils.h"
#include "text/buffers.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace Brackwell {

namespace {

constexpr std::size_t kCwdBufferSize = 2048;
constexpr std::size_t kExeBufferSize = 8192;

} // namespace

BQFileSpec BQFileUtils::getTempDir() {
  char const* candidate = std::getenv("TMPDIR");
  if (candidate == nullptr)
    candidate = std::getenv("TEMP");
  if (candidate == nullptr)
    candidate = "/tmp";
  BQFileSpec dir(candidate, BQFileSpec::ENCODING_NATIVE);
  if (!dir.empty() && isDirectory(dir))
    return dir;
  return BQFileSpec(".", BQFileSpec::ENCODING_UTF8);
}

void BQFileUtils::setupTempDir(BQFileSpec& directory) {
  if (directory.empty())
    directory = getTempDir();
  else if (!isDirectory(directory))
    directory = BQFileSpec(".", BQFileSpec::ENCODING_UTF8);
}

BQ_STATUS BQFileUtils::createTempFile(BQFileSpec const& directory,
                                      char const* prefix, BQFileSpec& result) {
  BQFileSpec dir(directory);
  // A copy lost to exhausted memory would read as "no directory given" and
  // move the file to the temporary directory.
  if (dir.utf8() == nullptr && directory.utf8() != nullptr)
    return BQ_STS_OutOfMemory;
  setupTempDir(dir);
  if (prefix == nullptr)
    prefix = "bqx";
  std::size_t len = std::strlen(prefix);
  std::unique_ptr<char[]> name = detail::newArray<char>(len + 12);
  if (name == nullptr)
    return BQ_STS_OutOfMemory;
  std::memcpy(name.get(), prefix, len);
  std::memcpy(name.get() + len, "XXXXXX", 7);
  result = BQFileSpec(dir, name.get(), BQFileSpec::ENCODING_NATIVE);
  // mkstemp fills in the template inside the result's own buffer, so every
  // rendering made afterwards names the created file.
  char* path = const_cast<char*>(result.utf8());
  int fd = ::mkstemp(path);
  if (fd == -1)
    return BQ_STS_TempFileFailed;
  if (::close(fd) != 0)
    return BQ_STS_TempFileFailed;
  return BQ_STS_Success;
}

BQFileSpec BQFileUtils::cwd() {
  BQFileSpec result;
  char buffer[kCwdBufferSize];
  if (::getcwd(buffer, sizeof buffer) == nullptr)
    return result;
  return BQFileSpec(buffer, BQFileSpec::ENCODING_NATIVE);
}

BQ_STATUS BQFileUtils::getProcessFullPath(BQFileSpec& result,
                                          char const* programName) {
  // realpath writes at most PATH_MAX bytes; the buffer is larger still.
  static_assert(kExeBufferSize >= PATH_MAX, "realpath buffer too small");
  char exe[kExeBufferSize];
  if (::realpath("/proc/self/exe", exe) != nullptr) {
    result = BQFileSpec(exe, BQFileSpec::ENCODING_UTF8);
    return BQ_STS_Success;
  }
  if (programName == nullptr) {
    result = BQFileSpec();
    return BQ_STS_NullArgument;
  }

  char const* sep = std::strchr(programName, '/');
  if (sep == nullptr)
    sep = std::strchr(programName, '\\');
  if (sep != nullptr) {
    if (sep == programName) {
      result = BQFileSpec(programName, BQFileSpec::ENCODING_NATIVE);
    } else {
      BQFileSpec dir = cwd();
      // Without a working directory a relative name cannot be placed.
      if (dir.utf8() == nullptr) {
        result = BQFileSpec();
        return BQ_STS_Failure;
      }
      result = BQFileSpec(dir, programName, BQFileSpec::ENCODING_NATIVE);
    }
    if (fileExists(result))
      return BQ_STS_Success;
    result = BQFileSpec();
    return BQ_STS_Failure;
  }

  char const* pathVar = std::getenv("PATH");
  if (pathVar == nullptr) {
    result = BQFileSpec();
    return BQ_STS_Failure;
  }
  std::unique_ptr<char[]> copy =
      detail::newTextCopy(pathVar, std::strlen(pathVar));
  if (copy == nullptr)
    return BQ_STS_OutOfMemory;

  char* pos = copy.get();
  while (*pos == ':')
    ++pos;
  for (;;) {
    char* end = std::strchr(pos, ':');
    bool last = (end == nullptr);
    if (!last)
      *end = '\0';
    result = BQFileSpec(pos, programName, BQFileSpec::ENCODING_NATIVE);
    if (fileExists(result))
      return BQ_STS_Success;
    if (last)
      break;
    pos = end + 1;
    while (*pos == ':')
      ++pos;
  }
  result = BQFileSpec();
  return BQ_STS_Failure;
}

} // namespace Brackwell
