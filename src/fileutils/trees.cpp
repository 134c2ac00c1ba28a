//===- fileutils/trees.cpp - Directory trees ------------------------------===//
//
// BQFileUtils operations on whole directory trees: listing one directory,
// collecting the regular files of a tree, deleting, copying and moving
// trees. They are built on the single-file operations of files.cpp.
//
// Entries are classified by the type that the directory reports wherever
// that cannot differ from what stat() of the joined path would say (see
// EntryTypes), so that a listing of regular files costs no status call per
// file.
//
//===----------------------------------------------------------------------===//
#include "brackwell/fileUtils.h"
#include "brackwell/utilTokenizer.h"
#include "filespec/separators.h"
#include "fileutils/fileCopy.h"
#include "fileutils/status.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace Brackwell {

namespace {

using detail::statPath;

constexpr BQFileSpec::EncodingType kUtf8 = BQFileSpec::ENCODING_UTF8;

// Identity of a directory: the walks refuse to enter one that is already on
// the current descent path, which ends symbolic-link cycles, and deletion
// enters a directory only when it is still the one that was listed.
struct DirId {
  dev_t dev;
  ino_t ino;
};
using DirPath = std::vector<DirId>;

DirId idOf(struct stat const& st) { return DirId{st.st_dev, st.st_ino}; }

bool sameId(DirId const& id, struct stat const& st) {
  return id.dev == st.st_dev && id.ino == st.st_ino;
}

bool onPath(DirPath const& path, DirId const& id) {
  for (DirId const& d : path)
    if (d.dev == id.dev && d.ino == id.ino)
      return true;
  return false;
}

// How the join of an entry name treats a directory's path: `prefix` is the
// length that it keeps (trailing separators dropped; a path of separators
// only, or the empty path, keeps none, and the join then starts with the
// inserted "/"). `byPath` is set when the dropped tail holds a backslash:
// "d\" is a directory whose entries the join names "d/name", which is
// another path, so such a directory's entries are reached through their
// joined paths and not relative to its descriptor.
struct JoinInfo {
  std::size_t prefix = 0;
  bool byPath = false;
};

JoinInfo joinInfo(BQFileSpec const& directory) {
  JoinInfo j;
  char const* p = directory.utf8() != nullptr ? directory.utf8() : "";
  std::size_t const n = std::strlen(p);
  j.prefix = detail::trimmedLength(p, n);
  j.byPath = std::memchr(p + j.prefix, '\\', n - j.prefix) != nullptr;
  return j;
}

// Whether the joined path of an entry is too long for stat(), which fails
// with ENAMETOOLONG from PATH_MAX bytes on (the terminating zero counted);
// the listing rule then passes the entry over as one whose status cannot be
// read, although a descriptor-relative call could still reach it.
bool joinedTooLong(std::size_t prefix, char const* name) {
  return prefix + 1 + std::strlen(name) >= PATH_MAX;
}

// Owns one descriptor; closes it on every way out, exceptions included (a
// path that cannot be built throws while files are open).
class Fd {
public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { reset(); }
  Fd(Fd const&) = delete;
  Fd& operator=(Fd const&) = delete;

  int get() const { return m_fd; }
  // Hands the descriptor over to a new owner (a stream, a directory stream).
  int release() {
    int const fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (m_fd >= 0)
      ::close(m_fd);
    m_fd = fd;
  }

private:
  int m_fd;
};

// Owns a stdio stream until it is handed to the copy loop, which closes it.
struct StreamCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

// Owns one directory stream at a time; closes it on every way out,
// exceptions included, and can be reopened on another directory.
class DirReader {
public:
  DirReader() = default;
  ~DirReader() { close(); }
  DirReader(DirReader const&) = delete;
  DirReader& operator=(DirReader const&) = delete;

  // Opens the directory `path` with opendir(); with `noFollow`, a link as
  // its last component is refused.
  bool open(char const* path, bool noFollow = false) {
    close();
    if (path == nullptr)
      return false;
    if (!noFollow) {
      m_dir = ::opendir(path);
      return m_dir != nullptr;
    }
    Fd fd(::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
      return false;
    m_dir = ::fdopendir(fd.get());
    if (m_dir != nullptr)
      fd.release(); // the stream owns it now
    return m_dir != nullptr;
  }
  void close() {
    if (m_dir != nullptr)
      ::closedir(m_dir);
    m_dir = nullptr;
  }
  int fd() const { return ::dirfd(m_dir); }

  // The next entry other than "." and "..", or null at the end.
  struct dirent const* next() {
    while (struct dirent const* e = ::readdir(m_dir)) {
      char const* n = e->d_name;
      if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))
        continue;
      return e;
    }
    return nullptr;
  }

private:
  DIR* m_dir = nullptr;
};

// Where an entry is reached: relative to the open directory by its name, or,
// for a directory whose joined paths name other paths (JoinInfo::byPath),
// through its joined path.
struct EntryRef {
  int at;
  char const* name;
};

enum class Kind { None, File, Dir };

// The listing rule's classification of the entries of one open directory:
// by stat() of the joined path, links followed, except where the type that
// the directory reports already gives the answer.
//
// DT_REG is trusted, with no status call, once the directory is known to
// grant search permission. Such an entry is a regular file itself, not a
// link, so stat() of its joined path resolves nothing beyond the name and
// reads the entry's own inode; it could disagree only
//  - when the joined path is PATH_MAX bytes or more: stat() fails, and the
//    entry is passed over before its type is looked at;
//  - when the directory does not grant search permission: every lookup of
//    a name inside it fails, so stat() fails for all its entries and the
//    rule passes them all over. The lookup of any name needs that
//    permission, so one status call on a name of this directory that
//    succeeds shows it. Until one has succeeded every entry gets its own
//    status call (a failed one proves nothing: a dangling link fails in a
//    searchable directory too), so in a directory without search
//    permission every entry is passed over exactly as the rule says;
//  - when something else is mounted over the name: stat() reads the
//    mounted root while the directory reports the file below it. Such an
//    entry is listed as a file, as find lists it; a tree copy checks the
//    opened stream before it writes anything (copyFileEntry), and deletion
//    fails on it as it would on the mount;
//  - when the entry is replaced between readdir and now: a listing may see
//    a concurrent change either way.
// Every other type keeps its status call: DT_DIR (directories are few, and
// their status gives the identity that the cycle and deletion guards need;
// a mount over a directory can make its status unreadable), DT_LNK (links
// are followed), DT_UNKNOWN (some file systems report nothing else), FIFOs,
// sockets and devices. A directory whose joined paths name other paths is
// never trusted: each entry's joined path is read.
class EntryTypes {
public:
  EntryTypes(int fd, JoinInfo const& join) : m_fd(fd), m_join(join) {}

  // `st` is filled whenever a status was read, so always for Kind::Dir.
  Kind of(struct dirent const* e, EntryRef const& ref, struct stat& st) {
    if (joinedTooLong(m_join.prefix, e->d_name))
      return Kind::None;
    if (e->d_type == DT_REG && m_searchable)
      return Kind::File;
    if (::fstatat(ref.at, ref.name, &st, 0) != 0)
      return Kind::None; // dangling link, or removed meanwhile
    m_searchable = !m_join.byPath;
    if (S_ISDIR(st.st_mode))
      return Kind::Dir;
    return S_ISREG(st.st_mode) ? Kind::File : Kind::None;
  }

  // The place of entry `e`; `joined` receives its joined path when the
  // directory is reached by path.
  EntryRef ref(struct dirent const* e, BQFileSpec const& directory,
               BQFileSpec& joined) const {
    if (!m_join.byPath)
      return EntryRef{m_fd, e->d_name};
    joined = BQFileSpec(directory, e->d_name, kUtf8);
    return EntryRef{AT_FDCWD, joined.utf8() != nullptr ? joined.utf8() : ""};
  }

private:
  int m_fd;
  JoinInfo m_join;
  bool m_searchable = false;
};

// Walks the open directory `d` of `directory` by the listing rule: file
// entries' joined paths are appended to `files`, directory entries go to
// onDir(joined path, identity).
template <class OnDir>
void listEntries(BQFileSpec const& directory, DirReader& d,
                 std::vector<BQFileSpec>& files, OnDir onDir) {
  EntryTypes types(d.fd(), joinInfo(directory));
  BQFileSpec joined;
  while (struct dirent const* e = d.next()) {
    struct stat st;
    Kind const k = types.of(e, types.ref(e, directory, joined), st);
    if (k == Kind::None)
      continue;
    if (joined.utf8() != nullptr) { // built for the status read already
      if (k == Kind::File)
        files.push_back(std::move(joined));
      else
        onDir(std::move(joined), idOf(st));
      joined = BQFileSpec();
    } else if (k == Kind::File) {
      files.emplace_back(directory, e->d_name, kUtf8);
    } else {
      onDir(BQFileSpec(directory, e->d_name, kUtf8), idOf(st));
    }
  }
}

//===----------------------------------------------------------------------===//
// Recursive deletion
//===----------------------------------------------------------------------===//

// Removes trees while holding at most one descriptor at any moment, so it
// works with a single free descriptor (the rollback of a copy that ran out
// of them relies on that). Entries are judged without following links: a
// symbolic link is never descended through; a link to a file or to a
// directory is removed itself, a dangling link is left like a FIFO.
//
// A directory of the tree may be replaced by a link while the walk runs. A
// subdirectory is therefore entered only when what its path opens (links
// refused) is the very directory that was listed (device and inode), and
// the files of a level are removed with unlinkat() relative to a descriptor
// checked the same way, so a swapped path never leads outside the tree.
class Remover {
public:
  BQ_STATUS remove(BQFileSpec const& directory, DirId const* expected);

private:
  struct Sub {
    BQFileSpec path;
    DirId id;
  };

  bool openChecked(BQFileSpec const& directory, bool noFollow,
                   DirId const* expected, DirId& self);
  BQ_STATUS unlinkNames(std::size_t from, int at, bool byPath,
                        BQFileSpec const& directory);

  DirReader m_reader;  // one stream at a time, reopened level after level
  std::string m_names; // names to unlink, NUL-terminated, level after level
};

// Opens `directory` (a link as its last component refused with `noFollow`)
// and checks that it is the directory `expected`, when one is given.
bool Remover::openChecked(BQFileSpec const& directory, bool noFollow,
                          DirId const* expected, DirId& self) {
  if (!m_reader.open(directory.utf8(), noFollow))
    return false;
  struct stat st;
  if (::fstat(m_reader.fd(), &st) != 0 ||
      (expected != nullptr && !sameId(*expected, st))) {
    m_reader.close();
    return false;
  }
  self = idOf(st);
  return true;
}

// Unlinks the names kept from m_names[from] on, relative to `at` (or by
// their joined paths); stops at the first failure.
BQ_STATUS Remover::unlinkNames(std::size_t from, int at, bool byPath,
                               BQFileSpec const& directory) {
  for (std::size_t i = from; i < m_names.size();) {
    char const* name = m_names.c_str() + i;
    i += std::strlen(name) + 1;
    int r = byPath ? ::unlink(BQFileSpec(directory, name, kUtf8).utf8())
                   : ::unlinkat(at, name, 0);
    if (r != 0)
      return BQ_STS_FileDeleteFailed;
  }
  return BQ_STS_Success;
}

BQ_STATUS Remover::remove(BQFileSpec const& directory, DirId const* expected) {
  bool const nested = expected != nullptr;
  DirId self{};
  if (!openChecked(directory, nested, expected, self))
    return BQ_STS_DirectoryNotFound;
  JoinInfo const join = joinInfo(directory);
  std::size_t const base = m_names.size();
  struct Truncate {
    std::string& s;
    std::size_t n;
    ~Truncate() { s.resize(n); }
  } truncate{m_names, base};
  std::vector<Sub> subdirs;
  {
    int const fd = m_reader.fd();
    BQFileSpec joined;
    while (struct dirent const* e = m_reader.next()) {
      char const* name = e->d_name;
      if (joinedTooLong(join.prefix, name))
        continue;
      EntryRef ref{fd, name};
      if (join.byPath) {
        joined = BQFileSpec(directory, name, kUtf8);
        ref = EntryRef{AT_FDCWD, joined.utf8() != nullptr ? joined.utf8() : ""};
      }
      // A DT_REG entry is removed without a status call: unlinkat() needs
      // the same search permission that the status read would, so where
      // that read would fail (and the listing pass the entry over, leaving
      // the directory to fail its rmdir) the unlink fails with the same
      // status instead.
      bool link = e->d_type == DT_LNK;
      if (e->d_type != DT_REG || join.byPath) {
        struct stat st;
        if (!link) {
          if (::fstatat(ref.at, ref.name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
          if (S_ISDIR(st.st_mode)) {
            subdirs.push_back(Sub{joined.utf8() != nullptr
                                      ? std::move(joined)
                                      : BQFileSpec(directory, name, kUtf8),
                                  idOf(st)});
            joined = BQFileSpec();
            continue;
          }
          link = S_ISLNK(st.st_mode);
          if (!link && !S_ISREG(st.st_mode))
            continue; // FIFO, socket, device: left
        }
        // Only links to files and directories count as entries to remove.
        if (link && (::fstatat(ref.at, ref.name, &st, 0) != 0 ||
                     !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))))
          continue;
      }
      m_names.append(name, std::strlen(name) + 1);
    }
  }
  if (subdirs.empty()) {
    // Nothing to descend into: the level's files go through the descriptor
    // that listed them.
    BQ_STATUS st = unlinkNames(base, m_reader.fd(), join.byPath, directory);
    m_reader.close();
    if (st != BQ_STS_Success)
      return st;
  } else {
    m_reader.close(); // no descriptor is held while descending
    for (Sub const& s : subdirs) {
      BQ_STATUS st = remove(s.path, &s.id);
      if (st != BQ_STS_Success)
        return st;
    }
    if (m_names.size() > base) {
      DirId again{};
      if (!openChecked(directory, nested, &self, again))
        return BQ_STS_FileDeleteFailed;
      BQ_STATUS st = unlinkNames(base, m_reader.fd(), join.byPath, directory);
      m_reader.close();
      if (st != BQ_STS_Success)
        return st;
    }
  }
  return ::rmdir(directory.utf8()) == 0 ? BQ_STS_Success
                                        : BQ_STS_FileDeleteFailed;
}

//===----------------------------------------------------------------------===//
// Copying
//===----------------------------------------------------------------------===//

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
  detail::CopyBuffers buffers; // shared by every file of the tree
};

// Removes what the copy created, last made first, so the deepest entries go
// before their parents. Runs after every stream of the copy is closed and
// needs one free descriptor at a time. Never throws: a path that cannot be
// built for the removal leaves that entry.
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
  if (cs.newRoot != nullptr) {
    try {
      BQFileUtils::deleteDir(*cs.newRoot, true);
    } catch (...) {
    }
  }
}

// The target directory of one level of a copy, for creating its files with
// a one-name lookup instead of resolving each target's whole path again.
// Opened (O_PATH) at its first file and closed before the copy descends, so
// at most one such descriptor is held, and given up for the level when a
// file cannot be created through it (too few descriptors, for one): the
// joined path is used then, as it is for a directory whose joined paths
// name another directory (JoinInfo::byPath).
class TargetDir {
public:
  TargetDir(BQFileSpec const& path)
      : m_path(path), m_usable(!joinInfo(path).byPath) {}
  TargetDir(TargetDir const&) = delete;
  TargetDir& operator=(TargetDir const&) = delete;

  BQFileSpec const& path() const { return m_path; }
  // The descriptor, or -1 when the joined path is to be used.
  int fd() {
    if (m_fd.get() < 0 && m_usable) {
      m_fd.reset(::open(m_path.utf8(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      m_usable = m_fd.get() >= 0;
    }
    return m_fd.get();
  }
  void close() { m_fd.reset(); }
  void giveUp() {
    close();
    m_usable = false;
  }

private:
  BQFileSpec const& m_path;
  Fd m_fd;
  bool m_usable;
};

// Copies the regular file at `ref` to `name` in `target` as copyFile would,
// from the stream it opens itself: the source is opened first (without
// blocking, so that a FIFO mounted over a file's name cannot stall the
// copy) and checked with fstat(); an entry that turns out to be no regular
// file is passed over before anything is created for it.
BQ_STATUS copyFileEntry(EntryRef const& ref, TargetDir& target,
                        char const* name, bool targetNew, CopyState& cs) {
  // Every descriptor and stream is owned until the copy loop takes both: a
  // path built below can throw, and nothing may stay open then.
  Fd in(::openat(ref.at, ref.name,
                 O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (in.get() < 0)
    return BQ_STS_Failure;
  struct stat src;
  if (::fstat(in.get(), &src) != 0)
    return BQ_STS_Failure;
  if (!S_ISREG(src.st_mode))
    return BQ_STS_Success; // passed over, as the listing rule would
  // The target's joined path is built only where it is needed: for a
  // record of the rollback, or when the target directory is not used.
  BQFileSpec dst;
  auto const where = [&]() -> EntryRef {
    int at = target.fd();
    if (at >= 0)
      return EntryRef{at, name};
    if (dst.utf8() == nullptr)
      dst = BQFileSpec(target.path(), name, kUtf8);
    return EntryRef{AT_FDCWD, dst.utf8()};
  };
  auto const create = [&](int flags) {
    EntryRef w = where();
    int out = ::openat(w.at, w.name, O_WRONLY | O_CREAT | O_CLOEXEC | flags,
                       0666);
    if (out < 0 && w.at != AT_FDCWD) {
      target.giveUp(); // and try the joined path once
      w = where();
      out = ::openat(w.at, w.name, O_WRONLY | O_CREAT | O_CLOEXEC | flags,
                     0666);
    }
    return out;
  };
  struct stat ts;
  Fd out;
  // A target in a directory that the copy made cannot exist yet; in one
  // that existed, a missing target is recorded for the rollback. Either is
  // created exclusively, so a record never names a file made by others: a
  // target whose status cannot be read is tried as a new one, and when the
  // exclusive create finds it there, it is taken as existing.
  EntryRef w = where();
  bool const fresh =
      targetNew || ::fstatat(w.at, w.name, &ts, AT_SYMLINK_NOFOLLOW) != 0;
  if (fresh) {
    if (!targetNew) {
      if (dst.utf8() == nullptr)
        dst = BQFileSpec(target.path(), name, kUtf8);
      cs.created.push_back(Created{std::move(dst), false});
    }
    out.reset(create(O_EXCL));
    if (out.get() < 0) {
      if (!targetNew) {
        dst = std::move(cs.created.back().path);
        cs.created.pop_back();
      }
      w = where();
      if (::fstatat(w.at, w.name, &ts, AT_SYMLINK_NOFOLLOW) != 0)
        return BQ_STS_Failure;
    }
  }
  if (out.get() < 0) {
    // copyFile's guard: opening the target would empty it, so a target that
    // is the source itself (a link to it, another name of it) is refused.
    if (::fstatat(w.at, w.name, &ts, 0) == 0 && ts.st_dev == src.st_dev &&
        ts.st_ino == src.st_ino)
      return BQ_STS_Failure;
    out.reset(create(O_TRUNC));
    if (out.get() < 0)
      return BQ_STS_Failure;
  }
  Stream from(::fdopen(in.get(), "rb"));
  if (!from)
    return BQ_STS_Failure;
  in.release();
  Stream to(::fdopen(out.get(), "wb"));
  if (!to)
    return BQ_STS_Failure;
  out.release();
  // The copy loop closes both streams on every path.
  return detail::copyStreams(from.release(), to.release(), src.st_size,
                             cs.buffers);
}

// Copies the entries of the open stream `d` of `source` into `target`.
// `targetNew` tells that the copy made `target`, so nothing in it existed.
BQ_STATUS copyEntries(BQFileSpec const& source, DirReader& d,
                      BQFileSpec const& target, bool targetNew,
                      CopyState& cs) {
  EntryTypes types(d.fd(), joinInfo(source));
  TargetDir targetDir(target);
  BQFileSpec joined;
  while (struct dirent const* e = d.next()) {
    char const* name = e->d_name;
    struct stat st;
    EntryRef const ref = types.ref(e, source, joined);
    Kind const k = types.of(e, ref, st);
    if (k == Kind::None)
      continue;
    if (k == Kind::File) {
      BQ_STATUS r = copyFileEntry(ref, targetDir, name, targetNew, cs);
      if (r != BQ_STS_Success)
        return r;
      continue;
    }
    if (onPath(cs.path, idOf(st)))
      continue; // a link back to an ancestor, or into the copy itself
    BQFileSpec dst(target, name, kUtf8);
    BQFileSpec const* to = &dst;
    struct stat ts;
    bool subNew = targetNew || !statPath(dst, ts) || !S_ISDIR(ts.st_mode);
    if (subNew) {
      if (!targetNew) {
        cs.created.push_back(Created{std::move(dst), true});
        to = &cs.created.back().path;
      }
      // A directory that this mkdir did not make is not the copy's: one
      // that appeared meanwhile is merged into, never recorded.
      if (::mkdir(to->utf8(), 0777) != 0) {
        bool const appeared = !targetNew && statPath(*to, ts) &&
                              S_ISDIR(ts.st_mode);
        if (!targetNew) {
          dst = std::move(cs.created.back().path);
          cs.created.pop_back();
          to = &dst;
        }
        if (!appeared)
          return BQ_STS_DirectoryCreateFailed;
        subNew = false;
      }
      if (!statPath(*to, ts))
        return BQ_STS_DirectoryCreateFailed;
    }
    if (joined.utf8() == nullptr)
      joined = BQFileSpec(source, name, kUtf8);
    targetDir.close(); // no target descriptor is held while descending
    DirReader sub;
    if (!sub.open(joined.utf8()))
      return BQ_STS_DirectoryNotFound;
    cs.path.push_back(idOf(st));
    cs.path.push_back(idOf(ts));
    BQ_STATUS r = copyEntries(joined, sub, *to, subNew, cs);
    cs.path.pop_back();
    cs.path.pop_back();
    if (r != BQ_STS_Success)
      return r;
    joined = BQFileSpec();
  }
  return BQ_STS_Success;
}

//===----------------------------------------------------------------------===//
// Moving
//===----------------------------------------------------------------------===//

enum class Inside { No, Yes, Unknown };

// Whether the directory `path` is `dir` or lies below it: climbs from it
// through "..", appended to the path text so that no descriptor is needed,
// comparing identities up to the root. A climb that cannot go on (a
// status that cannot be read, a path grown too long) cannot decide.
Inside within(char const* path, struct stat const& dir) {
  char buf[PATH_MAX];
  std::size_t n = std::strlen(path);
  if (n + 1 > sizeof buf)
    return Inside::Unknown;
  std::memcpy(buf, path, n + 1);
  struct stat cur;
  if (::stat(buf, &cur) != 0)
    return Inside::Unknown;
  for (;;) {
    if (cur.st_dev == dir.st_dev && cur.st_ino == dir.st_ino)
      return Inside::Yes;
    if (n + 4 > sizeof buf)
      return Inside::Unknown;
    std::memcpy(buf + n, "/..", 4);
    n += 3;
    struct stat up;
    if (::stat(buf, &up) != 0)
      return Inside::Unknown;
    if (up.st_dev == cur.st_dev && up.st_ino == cur.st_ino)
      return Inside::No; // the root is its own parent
    cur = up;
  }
}

// Whether `target`, or the directory in which it would be created (its
// nearest existing ancestor, found by the system's rule: only "/"
// separates), lies inside the directory `source`: a copy there followed by
// deleting the source would delete the copy too.
Inside targetInside(char const* target, struct stat const& source) {
  char buf[PATH_MAX];
  std::size_t n = std::strlen(target);
  if (n + 1 > sizeof buf)
    return Inside::Unknown; // no such path can be created either
  std::memcpy(buf, target, n + 1);
  for (;;) {
    struct stat st;
    if (n > 0 && ::stat(buf, &st) == 0 && S_ISDIR(st.st_mode))
      return within(buf, source);
    bool const absolute = buf[0] == '/';
    while (n > 0 && buf[n - 1] == '/')
      --n;
    while (n > 0 && buf[n - 1] != '/')
      --n;
    while (n > 0 && buf[n - 1] == '/')
      --n;
    if (n == 0)
      return within(absolute ? "/" : ".", source);
    buf[n] = '\0';
  }
}

} // namespace

BQ_STATUS BQFileUtils::getContents(BQFileSpec const& directory,
                                   std::vector<BQFileSpec>& files,
                                   std::vector<BQFileSpec>& directories) {
  // Opening with O_DIRECTORY fails for anything that is not a directory
  // (links followed), just as the isDirectory() test would.
  DirReader d;
  if (!d.open(directory.utf8()))
    return BQ_STS_DirectoryNotFound;
  listEntries(directory, d, files, [&](BQFileSpec&& path, DirId) {
    directories.push_back(std::move(path));
  });
  return BQ_STS_Success;
}

BQ_STATUS BQFileUtils::RecurseFiles(BQFileSpec const& directory,
                                    std::vector<BQFileSpec>& files) {
  // Depth-first with one stack of pending subdirectories for the whole
  // walk: each level pushes its subdirectories in reverse listing order, so
  // they come off in listing order, each with its whole subtree before the
  // next (pre-order). One reader, reopened for each directory, holds the
  // only descriptor, and none while descending.
  struct Pending {
    BQFileSpec path;
    DirId id;
    std::size_t depth;
  };
  DirReader d;
  struct stat st;
  if (!d.open(directory.utf8()) || ::fstat(d.fd(), &st) != 0)
    return BQ_STS_DirectoryNotFound;
  DirPath ancestors{idOf(st)};
  std::vector<Pending> pending;
  BQFileSpec const* current = &directory;
  Pending here{BQFileSpec(), idOf(st), 0};
  for (;;) {
    std::size_t const base = pending.size();
    std::size_t const depth = here.depth + 1;
    listEntries(*current, d, files, [&](BQFileSpec&& path, DirId id) {
      pending.push_back(Pending{std::move(path), id, depth});
    });
    d.close();
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(base),
                 pending.end());
    for (;;) {
      if (pending.empty())
        return BQ_STS_Success;
      here = std::move(pending.back());
      pending.pop_back();
      ancestors.resize(here.depth);
      if (!onPath(ancestors, here.id))
        break;
    }
    if (!d.open(here.path.utf8()))
      return BQ_STS_DirectoryNotFound;
    ancestors.push_back(here.id);
    current = &here.path;
  }
}

BQ_STATUS BQFileUtils::deleteDir(BQFileSpec const& directory, bool recursive) {
  if (!recursive) {
    char const* p = directory.utf8();
    return p != nullptr && ::rmdir(p) == 0 ? BQ_STS_Success
                                           : BQ_STS_FileDeleteFailed;
  }
  Remover r;
  return r.remove(directory, nullptr);
}

BQ_STATUS BQFileUtils::copyDirectory(BQFileSpec const& source,
                                     BQFileSpec const& target) {
  struct stat ss;
  if (!statPath(source, ss) || !S_ISDIR(ss.st_mode))
    return BQ_STS_DirectoryNotFound;
  CopyState cs;
  // Whether the target existed decides what a rollback may remove: all of
  // it, or only what this call records as made. Only a status read that
  // finds nothing there (or no directory on the way to it) shows it absent;
  // one that fails otherwise cannot tell, and the target is taken as one
  // that existed, so a rollback never removes what it may have held.
  struct stat ts;
  bool const known = statPath(target, ts);
  bool const existed =
      known ? S_ISDIR(ts.st_mode)
            : target.utf8() != nullptr && errno != ENOENT && errno != ENOTDIR;
  if (!existed || !known) {
    BQ_STATUS r = createDirectory(target, true);
    if (r != BQ_STS_Success)
      return r;
    // The identity of the target keeps the copy out of itself; without it
    // that guard cannot work, and the copy does not start. What
    // createDirectory made stays, as when the source cannot be opened.
    if (!statPath(target, ts))
      return BQ_STS_DirectoryCreateFailed;
  }
  DirReader d;
  if (!d.open(source.utf8()))
    return BQ_STS_DirectoryNotFound; // the target made above stays
  cs.newRoot = existed ? nullptr : &target;
  BQ_STATUS r;
  try {
    cs.path.push_back(idOf(ss));
    cs.path.push_back(idOf(ts));
    r = copyEntries(source, d, target, !existed, cs);
  } catch (...) {
    d.close();
    rollback(cs);
    throw;
  }
  d.close();
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
  // Copying into the source and then deleting the source would delete the
  // copy; a target that cannot be placed for certain is refused as well.
  if (targetInside(t, ss) != Inside::No)
    return BQ_STS_DirectoryMoveFailed; // nothing is copied
  if (copyDirectory(source, target) != BQ_STS_Success)
    return BQ_STS_DirectoryMoveFailed;
  deleteDir(source, true);
  return BQ_STS_Success;
}

} // namespace Brackwell
