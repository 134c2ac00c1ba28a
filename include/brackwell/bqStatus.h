//===- brackwell/bqStatus.h - Status codes of the library -------*- C++ -*-===//
//
// Declares BQ_STATUS, the 32-bit status code that most operations of the
// library return, and every BQ_STS_ code. 0 is success; each operation's
// documentation says which of the other codes it returns and when.
//
//   Brackwell::BQ_STATUS st = Brackwell::BQFileUtils::touch(path);
//   if (st != Brackwell::BQ_STS_Success) { ... }
//
// The codes live in namespace Brackwell and are also declared at global scope,
// so both `Brackwell::BQ_STS_Failure` and a bare `BQ_STS_Failure` work.
//
//===----------------------------------------------------------------------===//
/// @file
/// BQ_STATUS and the BQ_STS_ status codes.
#ifndef BRACKWELL_BQSTATUS_H
#define BRACKWELL_BQSTATUS_H

#include <cstdint>

namespace Brackwell {

/// BQ_STATUS
///
/// A 32-bit signed status code; 0 means success.
typedef std::int32_t BQ_STATUS;

/// The operation succeeded.
constexpr BQ_STATUS BQ_STS_Success = 0;
/// Generic failure: a stream could not be opened, a copy wrote less than it
/// read, a source file is missing, the running program was not found, a
/// thread could not be created or joined.
constexpr BQ_STATUS BQ_STS_Failure = 1;
/// A required argument is missing (a null program name where one is needed).
constexpr BQ_STATUS BQ_STS_NullArgument = 3;
/// A working buffer could not be allocated (the code of BQUtilException too).
constexpr BQ_STATUS BQ_STS_OutOfMemory = 8;
/// A mutex could not be locked, or tryLock did not get it.
constexpr BQ_STATUS BQ_STS_MutexLockFailed = 3021;
/// A mutex could not be unlocked.
constexpr BQ_STATUS BQ_STS_MutexUnlockFailed = 3022;
/// A file or a directory could not be removed, or no file name was given.
constexpr BQ_STATUS BQ_STS_FileDeleteFailed = 3030;
/// A directory could neither be renamed nor copied to its new place.
constexpr BQ_STATUS BQ_STS_DirectoryMoveFailed = 3031;
/// A directory could not be created, or its path is empty.
constexpr BQ_STATUS BQ_STS_DirectoryCreateFailed = 3032;
/// A path that must be an existing directory is not one, a directory cannot
/// be opened for listing, or a ".." climbs above the root of an absolute path.
constexpr BQ_STATUS BQ_STS_DirectoryNotFound = 3033;
/// The status of a path could not be read.
constexpr BQ_STATUS BQ_STS_FileStatFailed = 3035;
/// No temporary file could be created, or its descriptor could not be closed.
constexpr BQ_STATUS BQ_STS_TempFileFailed = 3037;
/// A thread object is already running a task, or still holds a thread handle.
constexpr BQ_STATUS BQ_STS_ThreadBusy = 3110;

} // namespace Brackwell

using Brackwell::BQ_STATUS;
using Brackwell::BQ_STS_Success;
using Brackwell::BQ_STS_Failure;
using Brackwell::BQ_STS_NullArgument;
using Brackwell::BQ_STS_OutOfMemory;
using Brackwell::BQ_STS_MutexLockFailed;
using Brackwell::BQ_STS_MutexUnlockFailed;
using Brackwell::BQ_STS_FileDeleteFailed;
using Brackwell::BQ_STS_DirectoryMoveFailed;
using Brackwell::BQ_STS_DirectoryCreateFailed;
using Brackwell::BQ_STS_DirectoryNotFound;
using Brackwell::BQ_STS_FileStatFailed;
using Brackwell::BQ_STS_TempFileFailed;
using Brackwell::BQ_STS_ThreadBusy;

#endif // BRACKWELL_BQSTATUS_H
