//===- brackwell/fileUtils.h - File-system operations -----------*- C++ -*-===//
//
// Declares BQFileStat and BQFileUtils, the library's static file-system
// operations on BQFileSpec paths: single files and their status, temporary
// files and process paths, whole directory trees, and relative paths.
// Every operation hands the path's utf8() text unchanged to the system call.
//
//   BQFileSpec src("/usr/share/doc", BQFileSpec::ENCODING_NATIVE);
//   BQFileSpec dst("/tmp/doc-copy", BQFileSpec::ENCODING_NATIVE);
//   BQ_STATUS st = BQFileUtils::copyDirectory(src, dst);  // => BQ_STS_Success
//   std::vector<BQFileSpec> files;
//   BQFileUtils::RecurseFiles(dst, files);  // every regular file, pre-order
//
// Failures are returned as BQ_STATUS values (or false, -1, 0, the null
// value) and never thrown; only exhausted memory while building a path
// throws BQUtilException (code 8), which passes through.
//
//===----------------------------------------------------------------------===//
#ifndef BRACKWELL_FILEUTILS_H
#define BRACKWELL_FILEUTILS_H

#include "bqStatus.h"
#include "fileSpec.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace Brackwell {

/// BQFileStat
///
/// The status record that BQFileUtils::getStats fills from one stat() call
/// (links followed). Times are whole seconds since the epoch.
struct BQFileStat {
  std::int64_t size;             ///< bytes, as the file system reports
  std::int64_t accessTime;       ///< last access
  std::int64_t modificationTime; ///< last change of the contents
  std::int64_t statusChangeTime; ///< last change of the inode
  bool isDir;                    ///< the entry is a directory
};

/// BQFileUtils
///
/// Static operations only; no instances and no state. Any thread may call
/// any of them at any time.
class BQFileUtils {
public:
  BQFileUtils() = delete;

  /// @name Files and their status
  /// @{

  /// True exactly when stat() on the path succeeds (any type of entry).
  static bool fileExists(BQFileSpec const& path);
  /// False for null without any file-system access; otherwise fileExists of
  /// the path built from `path` (ENCODING_NATIVE).
  static bool fileExists(char const* path);
  /// fopen() of the path with `mode`; null for a null mode (no call made).
  static std::FILE* open(BQFileSpec const& path, char const* mode);
  /// Creates the file when missing (mode "a+b"), never truncates.
  /// @returns 0, or BQ_STS_Failure when it cannot be opened.
  static BQ_STATUS touch(BQFileSpec const& path);
  /// freopen() of the path onto `stream`; null for a null mode, leaving the
  /// stream untouched.
  static std::FILE* reopen(BQFileSpec const& path, char const* mode,
                           std::FILE* stream);
  /// True when the path is neither the null nor the empty value.
  static bool isValidPath(BQFileSpec const& path);
  /// unlink() of the path. @returns 0, or BQ_STS_FileDeleteFailed.
  static BQ_STATUS deleteFile(BQFileSpec const& path);
  /// As above; a null pointer gives BQ_STS_FileDeleteFailed at once.
  static BQ_STATUS deleteFile(char const* path);
  /// Fills `stat` from one stat() call.
  /// @returns 0, or BQ_STS_FileStatFailed with `stat` left unchanged.
  static BQ_STATUS getStats(BQFileSpec const& path, BQFileStat& stat);
  /// The size from getStats, or -1 when it fails.
  static std::int64_t getFileSize(BQFileSpec const& path);
  /// The isDir flag from getStats, or false when it fails.
  static bool isDirectory(BQFileSpec const& path);
  /// Creates a directory (0777 less the umask), with its missing parents
  /// when `makeParents` is true, outermost first. An existing directory is
  /// success.
  /// @returns 0, or BQ_STS_DirectoryCreateFailed (also for an empty path).
  static BQ_STATUS createDirectory(BQFileSpec const& path, bool makeParents);
  /// The access time from getStats, or 0 when it fails.
  static std::int64_t getAccessTime(BQFileSpec const& path);
  /// Copies the contents of `source` to `target` (created or truncated).
  /// @returns 0; BQ_STS_Failure for a missing source, a stream that cannot
  /// be opened, a short write or a read error; BQ_STS_OutOfMemory when the
  /// copy buffer cannot be had.
  static BQ_STATUS copyFile(BQFileSpec const& source,
                            BQFileSpec const& target);
  /// rename(), or copy then delete when rename() fails.
  /// @returns 0, or the failing copy's status (the source stays).
  static BQ_STATUS moveFile(BQFileSpec const& source,
                            BQFileSpec const& target);

  /// @}
  /// @name Temporary files and process paths
  /// @{

  /// The directory for temporary files: "TMPDIR" if set, else "TEMP" if
  /// set, else "/tmp"; "." when that candidate is empty or no directory.
  static BQFileSpec getTempDir();
  /// Replaces an empty directory by getTempDir() and one that is no
  /// directory by "."; leaves an existing directory unchanged.
  static void setupTempDir(BQFileSpec& directory);
  /// Creates a new, empty file (0600) named `prefix` ("bqx" when null) plus
  /// six generated characters in `directory` (set up as by setupTempDir),
  /// closes it and stores its path in `result`.
  /// @returns 0; BQ_STS_OutOfMemory (result unchanged); BQ_STS_TempFileFailed.
  static BQ_STATUS createTempFile(BQFileSpec const& directory,
                                  char const* prefix, BQFileSpec& result);
  /// The working directory, or the null value when it cannot be read.
  static BQFileSpec cwd();
  /// The running program's path: "/proc/self/exe" resolved, otherwise
  /// found from `programName` (argv[0]) and "PATH".
  /// @returns 0; BQ_STS_Failure or BQ_STS_NullArgument (result null);
  /// BQ_STS_OutOfMemory (result unchanged).
  static BQ_STATUS getProcessFullPath(BQFileSpec& result,
                                      char const* programName);

  /// @}
  /// @name Directory trees
  /// @{

  /// Appends the regular files and the subdirectories of `directory` (links
  /// followed, "." and ".." skipped, in readdir order) to the two lists.
  /// @returns 0, or BQ_STS_DirectoryNotFound.
  static BQ_STATUS getContents(BQFileSpec const& directory,
                               std::vector<BQFileSpec>& files,
                               std::vector<BQFileSpec>& directories);
  /// Appends every regular file of the tree, in pre-order.
  /// @returns 0, or the first listing failure (BQ_STS_DirectoryNotFound).
  static BQ_STATUS RecurseFiles(BQFileSpec const& directory,
                                std::vector<BQFileSpec>& files);
  /// rmdir() of the directory; with `recursive`, its whole tree first.
  /// @returns 0, BQ_STS_FileDeleteFailed or BQ_STS_DirectoryNotFound.
  static BQ_STATUS deleteDir(BQFileSpec const& directory, bool recursive);
  /// Copies the tree of directories and regular files below `source` into
  /// `target`, creating it with its parents; rolls back on failure.
  /// @returns 0, BQ_STS_DirectoryNotFound, BQ_STS_DirectoryCreateFailed or
  /// the first failing copyFile status.
  static BQ_STATUS copyDirectory(BQFileSpec const& source,
                                 BQFileSpec const& target);
  /// rename(), or copy then delete the source.
  /// @returns 0, BQ_STS_DirectoryNotFound or BQ_STS_DirectoryMoveFailed.
  static BQ_STATUS moveDirectory(BQFileSpec const& source,
                                 BQFileSpec const& target);

  /// @}
  /// @name Relative paths
  /// @{

  /// The relative path from `from` (a directory, or a file whose directory
  /// is used) to `to`.
  ///
  /// @code
  ///   /data/maps          /data/maps/n/tile.img  => n/tile.img
  ///   /data/maps          /data/docs/readme      => ../docs/readme
  ///   /data/maps/n/m      /data                  => ../../..
  ///   /data               /..                    => BQ_STS_DirectoryNotFound
  /// @endcode
  /// @returns 0 with the result in `out`, or BQ_STS_DirectoryNotFound (out
  /// unchanged) when a ".." climbs above the root of an absolute path.
  static BQ_STATUS getRelativePathTo(BQFileSpec& out, BQFileSpec const& from,
                                     BQFileSpec const& to);

  /// @}
};

} // namespace Brackwell

#endif // BRACKWELL_FILEUTILS_H
