//===- fileutils/trees.cpp - Directory trees ------------------------------===//
//
// BQFileUtils operations on whole directory trees: listing one directory,
// collecting the regular files of a tree, deleting, copying and moving
// trees. They are built on the single-file operations of files.cpp.
//
//===----------------------------------------------------------------------===//
#include "brackwell/fileUtils.h"
#include "brackwell/utilTokenizer.h"
#include "filespec/separators.h"

#include <climits>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace Brackwell {

namespace {

// Owns a directory stream; closes it on every way out, exceptions included.
class DirStream {
public:
  explicit DirStream(char const* path)
      : m_dir(path != nullptr ? ::opendir(path) : nullptr) {}
  // Takes over an open directory descriptor (closed even when this fails).
  explicit DirStream(int fd) : m_dir(::fdopendir(fd)) {
    if (m_dir == nullptr)
      ::close(fd);
  }
  ~DirStream() {
    if (m_dir != nullptr)
      ::closedir(m_dir);
  }
  DirStream(DirStream const&) = delete;
  DirStream& operator=(DirStream const&) = delete;

  bool isOpen() const { return m_dir != nullptr; }
  int fd() const { return ::dirfd(m_dir); }
  // The next entry other than "." and "..", or null at the end.
  dirent* next() {
    while (dirent* e = ::readdir(m_dir)) {
      char const* n = e->d_name;
      if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))
        continue;
      return e;
    }
    return nullptr;
  }

private:
  DIR* m_dir;
};

// Identity of a directory: the walks refuse to enter one that is already on
// the current descent path, which ends symbolic-link cycles.
struct DirId {
  dev_t dev;
  ino_t ino;
};
using DirPath = std::vector<DirId>;

DirId idOf(struct stat const& st) { return DirId{st.st_dev, st.st_ino}; }

bool onPath(DirPath const& path, struct stat const& st) {
  for (DirId const& d : path)
    if (d.dev == st.st_dev && d.ino == st.st_ino)
      return true;
  return false;
}

bool statPath(BQFileSpec const& path, struct stat& st) {
  char const* p = path.utf8();
  return p != nullptr && ::stat(p, &st) == 0;
}

// The length of a directory's path as the join of an entry name keeps it:
// its trailing separators dropped (a path of separators only, or the empty
// path, keeps none; the join then starts with the inserted "/").
std::size_t joinPrefix(BQFileSpec const& directory) {
  char const* p = directory.utf8();
  return p != nullptr ? detail::trimmedLength(p, std::strlen(p)) : 0;
}

// Whether the joined path of an entry is too long for stat(), which fails
// with ENAMETOOLONG from PATH_MAX bytes on (the terminating zero counted);
// the listing rule then passes the entry over as one whose status cannot be
// read, although a descriptor-relative call could still reach it.
bool joinedTooLong(std::size_t prefix, char const* name) {
  return prefix + 1 + std::strlen(name) >= PATH_MAX;
}

// Status of an entry of an open directory, links followed, exactly where
// stat() of its joined path succeeds. fstatat relative to the stream's
// descriptor resolves only the last name, not the whole joined path again.
bool statEntry(DirStream const& d, std::size_t prefix, char const* name,
               struct stat& st) {
  return !joinedTooLong(prefix, name) && ::fstatat(d.fd(), name, &st, 0) == 0;
}

// Lists `directory` (already known to be one) into the two lists; with
// `ids`, the identity of each listed subdirectory is appended there too.
BQ_STATUS listDir(BQFileSpec const& directory, std::vector<BQFileSpec>& files,
                  std::vector<BQFileSpec>& directories, DirPath* ids) {
  DirStream d(directory.utf8());
  if (!d.isOpen())
    return BQ_STS_DirectoryNotFound;
  std::size_t const prefix = joinPrefix(directory);
  while (dirent* e = d.next()) {
    struct stat st;
    if (!statEntry(d, prefix, e->d_name, st))
      continue; // dangling link, or removed meanwhile
    if (S_ISDIR(st.st_mode)) {
      if (ids != nullptr)
        ids->push_back(idOf(st));
      directories.push_back(
          BQFileSpec(directory, e->d_name, BQFileSpec::ENCODING_UTF8));
    } else if (S_ISREG(st.st_mode)) {
      files.push_back(
          BQFileSpec(directory, e->d_name, BQFileSpec::ENCODING_UTF8));
    }
  }
  return BQ_STS_Success;
}

BQ_STATUS recurseFiles(BQFileSpec const& directory, DirId self,
                       std::vector<BQFileSpec>& files, DirPath& path) {
  std::vector<BQFileSpec> subdirs;
  DirPath subIds;
  BQ_STATUS st = listDir(directory, files, subdirs, &subIds);
  if (st != BQ_STS_Success)
    return st;
  path.push_back(self);
  for (std::size_t i = 0; i < subdirs.size(); ++i) {
    bool cycle = false;
    for (DirId const& a : path)
      cycle = cycle || (a.dev == subIds[i].dev && a.ino == subIds[i].ino);
    if (cycle)
      continue;
    st = recurseFiles(subdirs[i], subIds[i], files, path);
    if (st != BQ_STS_Success)
      break;
  }
  path.pop_back();
  return st;
}

// A name kept for unlinkat(); the buffer comes from the non-throwing new.
using Name = std::unique_ptr<char[]>;

Name copyName(char const* s) {
  std::size_t n = std::strlen(s) + 1;
  Name p(new (std::nothrow) char[n]);
  if (!p)
    throw BQUtilException(8);
  std::memcpy(p.get(), s, n);
  return p;
}

// Opens a directory for removal; `noFollow` refuses a symbolic link in the
// last component. -1 when it cannot be opened or is not `expected`.
int openForRemoval(char const* path, bool noFollow, DirId const& expected,
                   bool check) {
  if (path == nullptr)
    return -1;
  int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC |
                            (noFollow ? O_NOFOLLOW : 0));
  struct stat st;
  if (fd >= 0 && check &&
      (::fstat(fd, &st) != 0 || st.st_dev != expected.dev ||
       st.st_ino != expected.ino)) {
    ::close(fd);
    fd = -1;
  }
  return fd;
}

// Recursive deletion of a directory known to be one. Entries are judged by
// lstat: a symbolic link is never descended through; a link to a file or to
// a directory is removed itself, a dangling link is left like a FIFO.
//
// A directory of the tree may be replaced by a link while the walk runs. A
// subdirectory is therefore entered only when what its path opens (links
// refused) is the very directory that was listed (device and inode), and
// the files of a level are removed with unlinkat() relative to a descriptor
// checked the same way, so a swapped path never leads outside the tree.
// No descriptor is held while descending.
BQ_STATUS removeTree(BQFileSpec const& directory, DirId const* expected) {
  std::vector<Name> files;
  std::vector<BQFileSpec> subdirs;
  DirPath subIds;
  DirId self{};
  {
    int fd = openForRemoval(directory.utf8(), expected != nullptr,
                            expected ? *expected : self, expected != nullptr);
    if (fd < 0)
      return BQ_STS_DirectoryNotFound;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      ::close(fd);
      return BQ_STS_DirectoryNotFound;
    }
    self = idOf(st);
    DirStream d(fd); // owns fd from here on
    if (!d.isOpen())
      return BQ_STS_DirectoryNotFound;
    std::size_t const prefix = joinPrefix(directory);
    while (dirent* e = d.next()) {
      if (joinedTooLong(prefix, e->d_name) ||
          ::fstatat(d.fd(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        continue;
      if (S_ISLNK(st.st_mode)) {
        // Only links to files and directories count as entries to remove.
        struct stat target;
        if (!statEntry(d, prefix, e->d_name, target) ||
            !(S_ISDIR(target.st_mode) || S_ISREG(target.st_mode)))
          continue;
        files.push_back(copyName(e->d_name));
      } else if (S_ISDIR(st.st_mode)) {
        subIds.push_back(idOf(st));
        subdirs.push_back(
            BQFileSpec(directory, e->d_name, BQFileSpec::ENCODING_UTF8));
      } else if (S_ISREG(st.st_mode)) {
        files.push_back(copyName(e->d_name));
      }
    }
  } // no stream is held while descending
  for (std::size_t i = 0; i < subdirs.size(); ++i) {
    BQ_STATUS st = removeTree(subdirs[i], &subIds[i]);
    if (st != BQ_STS_Success)
      return st;
  }
  if (!files.empty()) {
    int fd = openForRemoval(directory.utf8(), expected != nullptr, self, true);
    if (fd < 0)
      return BQ_STS_FileDeleteFailed;
    for (Name const& f : files) {
      if (::unlinkat(fd, f.get(), 0) != 0) {
        ::close(fd);
        return BQ_STS_FileDeleteFailed;
      }
    }
    ::close(fd);
  }
  return ::rmdir(directory.utf8()) == 0 ? BQ_STS_Success
                                        : BQ_STS_FileDeleteFailed;
}

// What a copy created, in creation order. A directory made by the copy is
// removed with its whole tree (everything in it was made by the copy, so its
// contents are not recorded); a file is recorded only when it was created
// inside a directory that existed before.
struct Created {
  BQFileSpec path;
  bool isDir;
};

struct CopyState {
  // A deque, so that a recorded path can be used by reference while later
  // entries are recorded. Paths are moved in: a copy could come out null.
  std::deque<Created> created;
  BQFileSpec const* newRoot = nullptr; // the target, when the call made it
  DirPath path; // source and target directories on the descent path
};

// Removes what the copy created, last made first, so the deepest entries go
// before their parents. Never throws: a path that cannot be built for the
// removal leaves that entry.
void rollback(CopyState& cs) noexcept {
  for (std::size_t i = cs.created.size(); i-- > 0;) {
    Created const& c = cs.created[i];
    try {
      if (c.isDir)
        BQFileUtils::deleteDir(c.path, true);
      else
        BQFileUtils::deleteFile(c.path);
    } catch (...) {
    }
  }
  cs.created.clear();
  if (cs.newRoot != nullptr)
    BQFileUtils::deleteDir(*cs.newRoot, true);
}

// Copies the entries of the open stream `d` of `source` into `target`.
// `targetNew` tells that the copy made `target`, so nothing in it existed.
BQ_STATUS copyEntries(BQFileSpec const& source, DirStream& d,
                      BQFileSpec const& target, bool targetNew,
                      CopyState& cs) {
  std::size_t const prefix = joinPrefix(source);
  while (dirent* e = d.next()) {
    struct stat st;
    if (!statEntry(d, prefix, e->d_name, st))
      continue;
    bool isDir = S_ISDIR(st.st_mode);
    if (!isDir && !S_ISREG(st.st_mode))
      continue;
    if (isDir && onPath(cs.path, st))
      continue; // a link back to an ancestor, or into the copy itself
    BQFileSpec src(source, e->d_name, BQFileSpec::ENCODING_UTF8);
    BQFileSpec dst(target, e->d_name, BQFileSpec::ENCODING_UTF8);
    BQFileSpec const* to = &dst;
    if (!isDir) {
      if (!targetNew) {
        struct stat ts;
        if (::lstat(dst.utf8(), &ts) != 0) {
          cs.created.push_back(Created{std::move(dst), false});
          to = &cs.created.back().path;
        }
      }
      BQ_STATUS r = BQFileUtils::copyFile(src, *to);
      if (r != BQ_STS_Success)
        return r;
      continue;
    }
    struct stat ts;
    bool subNew = targetNew || !statPath(dst, ts) || !S_ISDIR(ts.st_mode);
    if (subNew) {
      if (!targetNew) {
        cs.created.push_back(Created{std::move(dst), true});
        to = &cs.created.back().path;
      }
      // In a new parent nothing can be in the way, so a bare mkdir will do.
      bool made = targetNew ? ::mkdir(to->utf8(), 0777) == 0
                            : BQFileUtils::createDirectory(*to, false) ==
                                  BQ_STS_Success;
      if (!made) {
        if (!targetNew)
          cs.created.pop_back(); // nothing was made, nothing to undo
        return BQ_STS_DirectoryCreateFailed;
      }
      if (!statPath(*to, ts))
        return BQ_STS_DirectoryCreateFailed;
    }
    DirStream sub(src.utf8());
    if (!sub.isOpen())
      return BQ_STS_DirectoryNotFound;
    cs.path.push_back(idOf(st));
    cs.path.push_back(idOf(ts));
    BQ_STATUS r = copyEntries(src, sub, *to, subNew, cs);
    cs.path.pop_back();
    cs.path.pop_back();
    if (r != BQ_STS_Success)
      return r;
  }
  return BQ_STS_Success;
}

// True when the directory `path` is `dir` or lies below it: climbs from it
// through ".." up to the root, comparing identities. O_PATH descriptors need
// no read permission on the directories passed.
bool isWithin(char const* path, struct stat const& dir) {
  if (path == nullptr)
    return false;
  int fd = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return false;
  bool inside = false;
  struct stat cur;
  while (::fstat(fd, &cur) == 0) {
    if (cur.st_dev == dir.st_dev && cur.st_ino == dir.st_ino) {
      inside = true;
      break;
    }
    int up = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (up < 0)
      break;
    struct stat ust;
    bool atRoot = ::fstat(up, &ust) != 0 ||
                  (ust.st_dev == cur.st_dev && ust.st_ino == cur.st_ino);
    ::close(fd);
    fd = up;
    if (atRoot)
      break;
  }
  ::close(fd);
  return inside;
}

// True when `target`, or its nearest existing ancestor, lies inside the
// directory `source`: a copy there followed by deleting the source would
// delete the copy too.
bool targetInside(BQFileSpec const& target, struct stat const& source) {
  BQFileSpec probe(target);
  if (probe.utf8() == nullptr)
    throw BQUtilException(8); // the copy is null only for lack of memory
  while (!BQFileUtils::isDirectory(probe)) {
    BQFileSpec up = probe.dirname();
    if (up.utf8() == nullptr || std::strcmp(up.utf8(), probe.utf8()) == 0)
      break;
    probe = std::move(up);
  }
  return isWithin(probe.utf8(), source);
}

} // namespace

BQ_STATUS BQFileUtils::getContents(BQFileSpec const& directory,
                                   std::vector<BQFileSpec>& files,
                                   std::vector<BQFileSpec>& directories) {
  if (!isDirectory(directory))
    return BQ_STS_DirectoryNotFound;
  return listDir(directory, files, directories, nullptr);
}

BQ_STATUS BQFileUtils::RecurseFiles(BQFileSpec const& directory,
                                    std::vector<BQFileSpec>& files) {
  struct stat st;
  if (!statPath(directory, st) || !S_ISDIR(st.st_mode))
    return BQ_STS_DirectoryNotFound;
  DirPath path;
  return recurseFiles(directory, idOf(st), files, path);
}

BQ_STATUS BQFileUtils::deleteDir(BQFileSpec const& directory, bool recursive) {
  if (!recursive) {
    char const* p = directory.utf8();
    return p != nullptr && ::rmdir(p) == 0 ? BQ_STS_Success
                                           : BQ_STS_FileDeleteFailed;
  }
  if (!isDirectory(directory))
    return BQ_STS_DirectoryNotFound;
  return removeTree(directory, nullptr);
}

BQ_STATUS BQFileUtils::copyDirectory(BQFileSpec const& source,
                                     BQFileSpec const& target) {
  struct stat ss;
  if (!statPath(source, ss) || !S_ISDIR(ss.st_mode))
    return BQ_STS_DirectoryNotFound;
  CopyState cs;
  struct stat ts;
  bool existed = statPath(target, ts) && S_ISDIR(ts.st_mode);
  if (!existed) {
    BQ_STATUS r = createDirectory(target, true);
    if (r != BQ_STS_Success)
      return r;
    if (!statPath(target, ts))
      ts = ss; // vanished meanwhile; the listing below will fail to copy
  }
  DirStream d(source.utf8());
  if (!d.isOpen())
    return BQ_STS_DirectoryNotFound; // the target made above stays
  cs.newRoot = existed ? nullptr : &target;
  BQ_STATUS r;
  try {
    cs.path.push_back(idOf(ss));
    cs.path.push_back(idOf(ts));
    r = copyEntries(source, d, target, !existed, cs);
  } catch (...) {
    rollback(cs);
    throw;
  }
  if (r != BQ_STS_Success)
    rollback(cs);
  return r;
}

BQ_STATUS BQFileUtils::moveDirectory(BQFileSpec const& source,
                                     BQFileSpec const& target) {
  struct stat ss;
  if (!statPath(source, ss) || !S_ISDIR(ss.st_mode))
    return BQ_STS_DirectoryNotFound;
  char const* t = target.utf8();
  if (t == nullptr)
    return BQ_STS_DirectoryMoveFailed;
  if (::rename(source.utf8(), t) == 0)
    return BQ_STS_Success;
  if (targetInside(target, ss))
    return BQ_STS_DirectoryMoveFailed; // nothing is copied

  if (copyDirectory(source, target) != BQ_STS_Success)
    return BQ_STS_DirectoryMoveFailed;
  deleteDir(source, true);
  return BQ_STS_Success;
}

} // namespace Brackwell
