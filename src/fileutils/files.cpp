//===- fileutils/files.cpp - Single files and their status ----------------===//
//
// BQFileUtils operations on one path: existence, streams, deletion, status,
// directory creation, copying and moving of regular files.
//
//===----------------------------------------------------------------------===//
#include "brackwell/fileUtils.h"
#include "fileutils/fileCopy.h"
#include "fileutils/status.h"
#include "text/buffers.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace Brackwell {

using detail::statPath;

namespace {

// Size of the heap buffer that copyFile moves data through.
constexpr std::size_t kCopyBufferSize = 1024;

// Largest stdio buffer given to a stream of copyFile.
constexpr std::size_t kStreamBufferSize = 256 * 1024;

// The stdio buffer size for copying a file of `fileSize` bytes: the whole
// file (and the read that finds its end) when it is small, and
// kStreamBufferSize otherwise.
std::size_t streamBufferSize(off_t fileSize) {
  constexpr std::size_t kPage = 4096;
  if (fileSize < 0 || static_cast<std::uint64_t>(fileSize) >= kStreamBufferSize)
    return kStreamBufferSize;
  return (static_cast<std::size_t>(fileSize) / kPage + 1) * kPage;
}

} // namespace

namespace detail {

CopyBuffers::~CopyBuffers() { std::free(m_streams); }

void CopyBuffers::install(std::FILE* in, std::FILE* out, off_t fileSize) {
  // Large stdio buffers let each stream move data in few system calls while
  // the copy loop keeps its 1024-byte buffer. A buffer that has grown for
  // one file serves every smaller one after it.
  std::size_t const size = streamBufferSize(fileSize);
  if (size > m_streamSize) {
    std::free(m_streams);
    m_streams = static_cast<char*>(std::malloc(2 * size));
    m_streamSize = m_streams != nullptr ? size : 0;
  }
  if (m_streams == nullptr)
    return;
  std::setvbuf(in, m_streams, _IOFBF, m_streamSize);
  std::setvbuf(out, m_streams + m_streamSize, _IOFBF, m_streamSize);
}

char* CopyBuffers::chunk() {
  if (!m_chunk)
    m_chunk = newArray<char>(kCopyBufferSize);
  return m_chunk.get();
}

BQ_STATUS copyStreams(std::FILE* in, std::FILE* out, off_t fileSize,
                      CopyBuffers& buffers) {
  buffers.install(in, out, fileSize);
  char* buffer = buffers.chunk();
  if (buffer == nullptr) {
    std::fclose(in);
    std::fclose(out);
    return BQ_STS_OutOfMemory;
  }
  BQ_STATUS result = BQ_STS_Success;
  for (;;) {
    std::size_t got = std::fread(buffer, 1, kCopyBufferSize, in);
    std::size_t put = std::fwrite(buffer, 1, got, out);
    if (put != got) {
      result = BQ_STS_Failure;
      break;
    }
    // A read error (a directory as source, an I/O error) would otherwise
    // never reach end of file.
    if (std::ferror(in)) {
      result = BQ_STS_Failure;
      break;
    }
    if (std::feof(in))
      break;
  }
  // The target's stream holds up to a whole stdio buffer that no fwrite has
  // handed to the system yet; a write that fails there (a full disk, a file
  // size limit) is a failed write like any other, not a silent loss.
  if (result == BQ_STS_Success && std::fflush(out) != 0)
    result = BQ_STS_Failure;
  std::fclose(in);
  std::fclose(out);
  return result;
}

} // namespace detail

bool BQFileUtils::fileExists(BQFileSpec const& path) {
  struct stat st;
  return statPath(path, st);
}

bool BQFileUtils::fileExists(char const* path) {
  if (path == nullptr)
    return false;
  return fileExists(BQFileSpec(path, BQFileSpec::ENCODING_NATIVE));
}

std::FILE* BQFileUtils::open(BQFileSpec const& path, char const* mode) {
  if (mode == nullptr || path.utf8() == nullptr)
    return nullptr;
  return std::fopen(path.utf8(), mode);
}

BQ_STATUS BQFileUtils::touch(BQFileSpec const& path) {
  std::FILE* f = open(path, "a+b");
  if (f == nullptr)
    return BQ_STS_Failure;
  std::fclose(f);
  return BQ_STS_Success;
}

std::FILE* BQFileUtils::reopen(BQFileSpec const& path, char const* mode,
                               std::FILE* stream) {
  if (mode == nullptr)
    return nullptr;
  return std::freopen(path.utf8(), mode, stream);
}

bool BQFileUtils::isValidPath(BQFileSpec const& path) { return !path.empty(); }

BQ_STATUS BQFileUtils::deleteFile(BQFileSpec const& path) {
  char const* p = path.utf8();
  if (p == nullptr || ::unlink(p) != 0)
    return BQ_STS_FileDeleteFailed;
  return BQ_STS_Success;
}

BQ_STATUS BQFileUtils::deleteFile(char const* path) {
  if (path == nullptr)
    return BQ_STS_FileDeleteFailed;
  return deleteFile(BQFileSpec(path, BQFileSpec::ENCODING_NATIVE));
}

BQ_STATUS BQFileUtils::getStats(BQFileSpec const& path, BQFileStat& stat) {
  struct stat st;
  if (!statPath(path, st))
    return BQ_STS_FileStatFailed;
  stat.size = static_cast<std::int64_t>(st.st_size);
  stat.accessTime = static_cast<std::int64_t>(st.st_atime);
  stat.modificationTime = static_cast<std::int64_t>(st.st_mtime);
  stat.statusChangeTime = static_cast<std::int64_t>(st.st_ctime);
  stat.isDir = S_ISDIR(st.st_mode);
  return BQ_STS_Success;
}

std::int64_t BQFileUtils::getFileSize(BQFileSpec const& path) {
  BQFileStat st;
  if (getStats(path, st) != BQ_STS_Success)
    return -1;
  return st.size;
}

bool BQFileUtils::isDirectory(BQFileSpec const& path) {
  BQFileStat st;
  if (getStats(path, st) != BQ_STS_Success)
    return false;
  return st.isDir;
}

BQ_STATUS BQFileUtils::createDirectory(BQFileSpec const& path,
                                       bool makeParents) {
  if (!isValidPath(path))
    return BQ_STS_DirectoryCreateFailed;
  if (isDirectory(path))
    return BQ_STS_Success;
  if (makeParents) {
    BQFileSpec parent = path.dirname();
    // A parent equal to its child (a lone backslash) ends the climb; the
    // mkdir below is then the only attempt.
    if (parent.utf8() != nullptr &&
        std::strcmp(parent.utf8(), path.utf8()) != 0) {
      BQ_STATUS st = createDirectory(parent, true);
      if (st != BQ_STS_Success)
        return st;
    }
  }
  if (::mkdir(path.utf8(), 0777) == 0)
    return BQ_STS_Success;
  // Someone else may have made it between our test and our mkdir.
  return isDirectory(path) ? BQ_STS_Success : BQ_STS_DirectoryCreateFailed;
}

std::int64_t BQFileUtils::getAccessTime(BQFileSpec const& path) {
  BQFileStat st;
  if (getStats(path, st) != BQ_STS_Success)
    return 0;
  return st.accessTime;
}

BQ_STATUS BQFileUtils::copyFile(BQFileSpec const& source,
                                BQFileSpec const& target) {
  struct stat srcStat;
  if (!statPath(source, srcStat))
    return BQ_STS_Failure;
  // Opening the target for writing would empty it before it is read, so a
  // copy onto the same file (same name, or same device and inode) is refused
  // before anything is opened.
  if (target.utf8() != nullptr &&
      std::strcmp(source.utf8(), target.utf8()) == 0)
    return BQ_STS_Failure;
  struct stat dstStat;
  if (statPath(target, dstStat) && dstStat.st_dev == srcStat.st_dev &&
      dstStat.st_ino == srcStat.st_ino)
    return BQ_STS_Failure;

  std::FILE* in = open(source, "rb");
  if (in == nullptr)
    return BQ_STS_Failure;
  std::FILE* out = open(target, "wb");
  if (out == nullptr) {
    std::fclose(in);
    return BQ_STS_Failure;
  }
  detail::CopyBuffers buffers; // outlives the streams, closed by the copy
  return detail::copyStreams(in, out, srcStat.st_size, buffers);
}

BQ_STATUS BQFileUtils::moveFile(BQFileSpec const& source,
                                BQFileSpec const& target) {
  char const* s = source.utf8();
  char const* t = target.utf8();
  if (s != nullptr && t != nullptr && ::rename(s, t) == 0)
    return BQ_STS_Success;
  // A move onto the same file is a no-op; copying would refuse it and
  // deleting afterwards would lose it.
  if (s != nullptr && t != nullptr) {
    struct stat a, b;
    if (std::strcmp(s, t) == 0 && statPath(source, a))
      return BQ_STS_Success;
    if (statPath(source, a) && statPath(target, b) && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino)
      return BQ_STS_Success;
  }
  BQ_STATUS st = copyFile(source, target);
  if (st != BQ_STS_Success)
    return st;
  deleteFile(source);
  return BQ_STS_Success;
}

} // namespace Brackwell
