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
/// @file
/// BQFileUtils and BQFileStat: file-system operations on paths.
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
  ///
  /// Every path is handed to the system call as its utf8() text; stat()
  /// follows symbolic links (on 64-bit Linux struct stat is the 64-bit one).
  /// The null and the empty value count as paths that do not exist.
  /// @{

  /// True exactly when stat() on the path succeeds: a directory, device or
  /// FIFO exists; a dangling link, a missing entry or an unsearchable parent
  /// does not.
  ///
  ///   /etc/passwd => true;  "" => false;  link to a missing file => false
  static bool fileExists(BQFileSpec const& path);
  /// False for null without any file-system access; otherwise fileExists of
  /// the path built from `path` (ENCODING_NATIVE).
  static bool fileExists(char const* path);
  /// fopen() of the path with `mode`, passed through unchanged; null for a
  /// null mode (no call made) and for the null value. The caller closes the
  /// stream.
  static std::FILE* open(BQFileSpec const& path, char const* mode);
  /// Creates the file when missing (mode "a+b") and closes it at once; an
  /// existing file keeps its contents and time stamps.
  /// @returns 0, or BQ_STS_Failure when it cannot be opened.
  static BQ_STATUS touch(BQFileSpec const& path);
  /// freopen() of the path onto `stream`; null for a null mode, leaving the
  /// stream open and untouched.
  static std::FILE* reopen(BQFileSpec const& path, char const* mode,
                           std::FILE* stream);
  /// True when the path is neither the null nor the empty value; no
  /// file-system access.
  static bool isValidPath(BQFileSpec const& path);
  /// unlink() of the path (a link is removed itself, never its target).
  /// @returns 0, or BQ_STS_FileDeleteFailed (a directory, a missing entry,
  /// an empty path).
  static BQ_STATUS deleteFile(BQFileSpec const& path);
  /// As above; a null pointer gives BQ_STS_FileDeleteFailed at once.
  static BQ_STATUS deleteFile(char const* path);
  /// Fills `stat` from one stat() call: size, the three times in whole
  /// seconds (fractions dropped) and whether the entry is a directory.
  /// @returns 0, or BQ_STS_FileStatFailed with `stat` left unchanged.
  static BQ_STATUS getStats(BQFileSpec const& path, BQFileStat& stat);
  /// The size from getStats (for a directory, what the file system reports),
  /// or -1 when it fails.
  static std::int64_t getFileSize(BQFileSpec const& path);
  /// The isDir flag from getStats, or false when it fails.
  static bool isDirectory(BQFileSpec const& path);
  /// Creates a directory (0777 less the umask). With `makeParents` every
  /// missing ancestor (each dirname() in turn) is made first, outermost
  /// first; a path that is its own dirname(), such as a lone "\" (a
  /// relative name here), gets a single mkdir() attempt. An existing
  /// directory is success without any mkdir(), and so is one that appears
  /// while mkdir() fails.
  ///
  ///   a/b/c, none existing, makeParents  => 0 (a, a/b, a/b/c made)
  ///   a/b/c, none existing, !makeParents => BQ_STS_DirectoryCreateFailed
  /// @returns 0, or BQ_STS_DirectoryCreateFailed (also for an empty path and
  /// for an existing entry that is no directory).
  static BQ_STATUS createDirectory(BQFileSpec const& path, bool makeParents);
  /// The access time from getStats, or 0 when it fails.
  static std::int64_t getAccessTime(BQFileSpec const& path);
  /// Copies the contents of `source` to `target` (created 0666 less the
  /// umask, or truncated) through stdio streams. Permissions and times are
  /// not copied.
  ///
  /// A copy onto the same file (the same path, or another name with the
  /// same device and inode, hard or symbolic link) is refused before
  /// anything is opened, so the contents are never lost. A read error (a
  /// directory as source, an I/O error) ends the copy at once. A partly
  /// written target is left in place. Everything written is flushed before
  /// the target is closed, and a failing flush counts as a short write, so
  /// a full disk is never reported as success; the closes themselves are
  /// not checked.
  /// @returns 0; BQ_STS_Failure for a missing source, a copy onto itself, a
  /// stream that cannot be opened, a short write (or failed flush) or a read
  /// error; BQ_STS_OutOfMemory when the copy buffer cannot be had (the
  /// target has then already been created or truncated).
  static BQ_STATUS copyFile(BQFileSpec const& source,
                            BQFileSpec const& target);
  /// rename(), or copyFile then deleteFile of the source when rename()
  /// fails; a source that cannot be deleted after the copy is left and the
  /// call still succeeds. A move onto the same file (the same path, or
  /// another name with the same device and inode, such as a hard link)
  /// returns 0 and leaves the file as it was; it is never copied onto
  /// itself. A symbolic link to the source as target is replaced by the
  /// file, as rename() does.
  /// @returns 0, or the failing copy's status (the source stays).
  static BQ_STATUS moveFile(BQFileSpec const& source,
                            BQFileSpec const& target);

  /// @}
  /// @name Temporary files and process paths
  ///
  /// The environment ("TMPDIR", "TEMP", "PATH"), the working directory and
  /// "/proc/self/exe" are read afresh at every call; nothing is cached.
  /// @{

  /// The directory for temporary files: "TMPDIR" if set (even when empty),
  /// else "TEMP" if set, else "/tmp", used unchanged; "." when that one
  /// candidate is empty or no directory (the next source is not tried).
  ///
  ///   TMPDIR=/var/tmp/  => /var/tmp/
  ///   TMPDIR= TEMP=/tmp => .
  static BQFileSpec getTempDir();
  /// Replaces an empty directory by getTempDir() and one that is no
  /// directory by "."; leaves an existing directory unchanged.
  /// @throws BQUtilException code 8 when the new path cannot be built.
  static void setupTempDir(BQFileSpec& directory);
  /// Creates a new, empty file (0600) named `prefix` ("bqx" when null) plus
  /// six characters chosen by mkstemp() in a copy of `directory` set up as
  /// by setupTempDir (the caller's value is not changed), closes it and
  /// stores its path in `result`. The file stays on disk for the caller.
  ///
  ///   (empty, null) with TMPDIR=/tmp => /tmp/bqxAb3dE9
  ///   (/no/such, "log")              => ./logQ81xZa
  /// @returns 0; BQ_STS_OutOfMemory when the name buffer or the local copy
  /// of `directory` cannot be had (result unchanged); BQ_STS_TempFileFailed
  /// when mkstemp() or the close fails (after a failed mkstemp() the result
  /// holds the composed path, which names no file made by this call).
  /// @throws BQUtilException code 8 when the path cannot be built
  /// in `result`; no file is then made.
  static BQ_STATUS createTempFile(BQFileSpec const& directory,
                                  char const* prefix, BQFileSpec& result);
  /// The working directory from getcwd(), or the null value when it cannot
  /// be read (removed, or a path of 2048 bytes or more).
  static BQFileSpec cwd();
  /// The running program's path: "/proc/self/exe" resolved with realpath()
  /// (the name is then not looked at). Otherwise from `programName`
  /// (argv[0]): a name whose first "/" (or, lacking any "/", whose first
  /// "\\") is its first character is used as is (so "\\a/b" is relative);
  /// any other name holding a separator is joined to cwd() without
  /// normalising; a bare name is searched in the non-empty elements of
  /// "PATH", left to right (an empty last element, as after a trailing ":",
  /// tries "/name"). Any existing entry is a hit. When cwd() gives the null
  /// value a relative name cannot be placed: the result is the null value
  /// and the status BQ_STS_Failure.
  ///
  ///   no /proc, ./prog in /home/u => /home/u/./prog
  ///   no /proc, prog, PATH=:/usr/bin::/bin => /usr/bin/prog, then /bin/prog
  /// @returns 0; BQ_STS_Failure or BQ_STS_NullArgument (result null);
  /// BQ_STS_OutOfMemory when the copy of "PATH" cannot be had (result
  /// unchanged).
  /// @throws BQUtilException code 8 when a path cannot be built
  /// in `result`.
  static BQ_STATUS getProcessFullPath(BQFileSpec& result,
                                      char const* programName);

  /// @}
  /// @name Directory trees
  /// @{

  /// Appends the regular files and the subdirectories of `directory` to the
  /// two lists, in readdir() order, never sorted. "." and ".." are skipped,
  /// other names beginning with '.' are listed. Each entry is joined to the
  /// directory's path (ENCODING_UTF8, so relative stays relative) and
  /// classified by stat(), links followed: a link to a directory is listed
  /// as a directory, a link to a file as a file; FIFOs, sockets, devices,
  /// dangling links and entries whose joined path is too long for stat()
  /// (PATH_MAX bytes or more) are in neither list, and so is every entry of
  /// a directory that may be read but not searched. The trees below list
  /// entries by the same rule.
  ///
  ///   dir holding f, .h, sub/, fifo => files += dir/f, dir/.h;
  ///                                    directories += dir/sub
  ///
  /// An entry that the directory reports as a regular file is taken as one
  /// without a status read once a status read inside that directory has
  /// shown it searchable, which gives what stat() would give with one
  /// exception: something other than a regular file mounted over a regular
  /// file's name is listed as a file (as find lists it). copyDirectory
  /// checks the stream it opens and passes such an entry over; deleteDir
  /// fails on it (BQ_STS_FileDeleteFailed).
  /// The lists are only appended to. A path that cannot be built throws
  /// BQUtilException (code 8); what was appended before stays.
  /// @returns 0, or BQ_STS_DirectoryNotFound (no directory, or it cannot be
  /// opened) with nothing appended.
  static BQ_STATUS getContents(BQFileSpec const& directory,
                               std::vector<BQFileSpec>& files,
                               std::vector<BQFileSpec>& directories);
  /// Appends every regular file of the tree, in pre-order: a directory's
  /// own files in listing order, then each subdirectory's result in turn.
  /// Directories themselves are not listed. Links are followed, except into
  /// a directory that is already on the current descent path (same device
  /// and inode), so a link back to an ancestor ends the walk there instead
  /// of repeating it. Only the subdirectory lists of the levels being
  /// descended are held, and no directory stream while descending.
  ///
  ///   root/{f1, f2, d1/g1, d2/h1} => root/f1, root/f2, root/d1/g1, root/d2/h1
  /// @returns 0, or the first listing failure (BQ_STS_DirectoryNotFound);
  /// what was appended before it stays, as after a BQUtilException.
  static BQ_STATUS RecurseFiles(BQFileSpec const& directory,
                                std::vector<BQFileSpec>& files);
  /// rmdir() of the directory; with `recursive`, its whole tree first:
  /// every subdirectory is emptied and removed, then the directory's files,
  /// then the directory itself. Symbolic links are never descended through:
  /// a link to a directory or to a file is removed itself (unlink), so
  /// nothing outside the tree is touched, even when a directory of the tree
  /// is swapped for a link while the walk runs (a subdirectory is entered
  /// only when it is still the directory that was listed, and files are
  /// removed relative to a checked descriptor). FIFOs, sockets, devices and
  /// dangling links are left, and the directory holding one then fails to
  /// go (BQ_STS_FileDeleteFailed). At most one descriptor is open at any
  /// moment, so a deletion (and a copy's rollback) works with a single free
  /// one. What was deleted before a failure, or before a BQUtilException
  /// (code 8, a path that cannot be built), stays deleted.
  /// @returns 0; BQ_STS_FileDeleteFailed when an entry or a directory
  /// cannot be removed (not recursive: also a non-empty or missing one);
  /// BQ_STS_DirectoryNotFound (recursive only) when a directory cannot be
  /// listed, before anything in it is deleted.
  static BQ_STATUS deleteDir(BQFileSpec const& directory, bool recursive);
  /// Copies the directories and regular files below `source` into `target`,
  /// which is created with its missing ancestors (0777 less the umask) when
  /// absent and merged into when it exists. Files go through copyFile
  /// (permissions, times and owners are not carried over); links are
  /// followed; other entries are passed over. A directory already on the
  /// current descent path, on the source or the target side, is not entered
  /// again, so a link cycle or a target inside the source cannot make the
  /// copy grow without bound. One directory stream is held per level, plus
  /// the two files being copied, so a tree deeper than the descriptor limit
  /// fails with the failing step's status (and is rolled back).
  ///
  /// Rollback, after a failing entry or a BQUtilException (rethrown): only
  /// what the call created is removed, deepest first. A target that did not
  /// exist is removed with its tree (the ancestors made for it stay); in an
  /// existing target only the files and directories it created go, and
  /// entries that were there before stay. A target whose status cannot be
  /// read for any reason other than its absence (nothing at the path, or no
  /// directory on the way to it) counts as existing, so the rollback removes
  /// only what the call made in it. Files that the copy overwrote are
  /// not restored. When the source cannot be opened at all, a target made
  /// for it stays.
  /// @returns 0; BQ_STS_DirectoryNotFound (the source is no directory, or a
  /// directory cannot be opened); BQ_STS_DirectoryCreateFailed; or the first
  /// failing copyFile status (BQ_STS_Failure, BQ_STS_OutOfMemory).
  static BQ_STATUS copyDirectory(BQFileSpec const& source,
                                 BQFileSpec const& target);
  /// rename(); when that fails (another file system, a non-empty target),
  /// copyDirectory then a recursive deleteDir of the source, whose failure
  /// is ignored (what could not be deleted stays). A target inside the
  /// source (or below an existing ancestor inside it) is refused before
  /// anything is copied, since deleting the source would delete the copy;
  /// so is a target whose place cannot be established (the climb from its
  /// nearest existing ancestor through ".." to the root fails).
  /// When the copy fails the source is untouched and the copy rolled back.
  ///
  ///   /t/a -> /t/b            => 0, renamed
  ///   /t/a -> /dev/shm/b      => 0, copied, /t/a deleted
  ///   /t/a -> /t/a/sub        => BQ_STS_DirectoryMoveFailed, nothing done
  /// @returns 0, BQ_STS_DirectoryNotFound (the source is no directory) or
  /// BQ_STS_DirectoryMoveFailed (refused, or the copy failed).
  static BQ_STATUS moveDirectory(BQFileSpec const& source,
                                 BQFileSpec const& target);

  /// @}
  /// @name Relative paths
  /// @{

  /// The relative path from `from` (a directory, or an existing file whose
  /// directory is used) to `to` (file or directory, existing or not).
  ///
  /// Both paths lose their trailing separators, are split at "/" and "\\"
  /// and cleaned ("." and empty components dropped, ".." cancelling the
  /// component before it); the result climbs with ".." out of what `from`
  /// does not share with `to` and then descends into the rest of `to`.
  /// Components compare byte-wise, so a doubled separator keeps one on the
  /// component before it ("data/" differs from "data"). Only when `from`
  /// can be examined and `to` exists are relative arguments first placed
  /// under the working directory; otherwise they are compared as written.
  ///
  /// @code
  ///   /data/maps          /data/maps/n/tile.img  => n/tile.img
  ///   /data/maps          /data/docs/readme      => ../docs/readme
  ///   /data/maps/a.img    /data/docs             => ../docs (a.img a file)
  ///   /data/maps          /data/maps/            => .
  ///   /data/maps/n/m      /data                  => ../../..
  ///   /data/maps          /data/Maps             => ../Maps
  ///   /data//maps         /data/maps/n           => ../../data/maps/n
  ///   /data               /..                    => BQ_STS_DirectoryNotFound
  ///   maps/n (missing)    maps/o/p (missing)     => ../o/p
  ///   a (missing)         ../b (missing)         => ../../b
  ///   "" or null          anything               => BQ_STS_DirectoryNotFound
  /// @endcode
  ///
  /// Choices: an empty or null `from` or `to` names no location (rather
  /// than the root), and a relative argument that has to be placed under a
  /// working directory that cannot be read (removed, or not searchable)
  /// fails instead of staying relative; absolute arguments never read it.
  ///
  /// @returns 0 with the result in `out`, or BQ_STS_DirectoryNotFound (out
  /// unchanged) when a ".." climbs above the root of an absolute path, an
  /// argument is empty or the working directory is needed and unreadable.
  /// @throws BQUtilException code 8 when memory is exhausted; `out` is then
  /// unchanged.
  static BQ_STATUS getRelativePathTo(BQFileSpec& out, BQFileSpec const& from,
                                     BQFileSpec const& to);

  /// @}
};

} // namespace Brackwell

#endif // BRACKWELL_FILEUTILS_H
