//===- fileutils/fileCopy.h - The copy loop of copyFile ---------*- C++ -*-===//
//
// Internal to the library, not part of the API: nothing outside src/ may
// include this header, and its names may change at any time.
//
// The data-moving half of copyFile, shared by copyFile itself and by the
// tree copy, which opens its sources relative to the listed directory and
// copies many files with one set of buffers:
//
//   CopyBuffers buffers;                    // one per copy, or per tree
//   copyStreams(in, out, size, buffers)     // => 0, 1 or 8; both closed
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_SRC_FILEUTILS_FILECOPY_H
#define BRACKWELL_SRC_FILEUTILS_FILECOPY_H

#include "brackwell/bqStatus.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <sys/types.h>

namespace Brackwell {
namespace detail {

/// The buffers of a copy: the 1024-byte buffer that the copy loop moves
/// data through and the stdio buffers of its two streams. Made on first
/// use and kept, so that a tree of small files does not take and release
/// them for every file.
class CopyBuffers {
public:
  CopyBuffers() = default;
  ~CopyBuffers();
  CopyBuffers(CopyBuffers const&) = delete;
  CopyBuffers& operator=(CopyBuffers const&) = delete;

  /// Gives both streams (opened, not yet read or written) a stdio buffer
  /// fit for a file of `fileSize` bytes; a stream whose buffer cannot be
  /// had keeps its own.
  void install(std::FILE* in, std::FILE* out, off_t fileSize);
  /// The 1024-byte copy buffer, from the non-throwing array new; null when
  /// it cannot be had.
  char* chunk();

private:
  std::unique_ptr<char[]> m_chunk;
  char* m_streams = nullptr; // both stdio buffers, one block
  std::size_t m_streamSize = 0;
};

/// Copies `in` to `out` through the buffers' 1024-byte buffer until `in`
/// reports end of file, flushes `out` and closes both streams, on every
/// path. 0; BQ_STS_Failure for a short write, a failed flush or a read
/// error; BQ_STS_OutOfMemory when the copy buffer cannot be had.
BQ_STATUS copyStreams(std::FILE* in, std::FILE* out, off_t fileSize,
                      CopyBuffers& buffers);

} // namespace detail
} // namespace Brackwell

#endif // BRACKWELL_SRC_FILEUTILS_FILECOPY_H
