//===- fileutils/relativePath.cpp - Relative paths ------------------------===//
//
// BQFileUtils::getRelativePathTo: the path that leads from a base directory
// to a target, found by splitting both paths into cleaned component lists,
// skipping their shared leading components and climbing out of the rest of
// the base with "..".
//
//===----------------------------------------------------------------------===//
#include "brackwell/fileUtils.h"
#include "filespec/separators.h"
#include "text/buffers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace Brackwell {

namespace {

using detail::trimmedLength;

// Drops the trailing separators of a path ("/data/maps//" => "/data/maps",
// "//" and "\\" => "/") and keeps those inside it ("/data//maps" stays):
// what joining a placeholder name and taking the dirname again would give,
// with one allocation where the path has no trailing separator and two at
// most. The empty text would become "/"; the caller never passes it.
// @throws BQUtilException code 8 when a path cannot be allocated.
BQFileSpec trimTrailingSeparators(BQFileSpec const& path) {
  char const* text = path.utf8();
  std::size_t const n = std::strlen(text);
  std::size_t const m = trimmedLength(text, n);
  if (m == 0)
    return BQFileSpec("/", BQFileSpec::ENCODING_UTF8);
  if (m == n) {
    BQFileSpec copy(path); // the copy gives the null value when memory is out
    if (copy.utf8() == nullptr)
      throw BQUtilException(BQ_STS_OutOfMemory);
    return copy;
  }
  return BQFileSpec(detail::newTextCopyOrThrow(text, m).get(),
                    BQFileSpec::ENCODING_UTF8);
}

// Splits `path` into its components, root first, and cleans them: "." and
// empty components go, a ".." removes the ordinary component before it, and
// the ".." of a relative path that have nothing left to remove stay at its
// front. An absolute path's root "/" counts as one ordinary component, so a
// ".." that would remove it fails. An empty result becomes ".".
//
//   /data/./maps/../docs  => "/", "data", "docs"
//   a/../../b             => "..", "b"
//   /data//maps           => "/", "data/", "maps"
//   a/..                  => "."
//   /..                   => BQ_STS_DirectoryNotFound
//
// `components` is cleared first. Returns 0, or BQ_STS_DirectoryNotFound
// when a ".." climbs above the root of an absolute path (the vector then
// holds a partial list).
// @throws BQUtilException code 8 when a component cannot be allocated.
BQ_STATUS splitFileSpecClean(BQFileSpec const& path,
                             std::vector<BQFileSpec>& components) {
  static BQFileSpec const dot(".", BQFileSpec::ENCODING_UTF8);
  static BQFileSpec const dotdot("..", BQFileSpec::ENCODING_UTF8);

  components.clear();

  // The raw components, gathered last first into `components` itself: each
  // basename in turn, then the root that dirname() reaches ("/" or ".").
  BQFileSpec rest;
  BQFileSpec const* current = &path;
  for (;;) {
    BQFileSpec parent = current->dirname();
    if (parent == *current) {
      components.push_back(std::move(parent)); // the root
      break;
    }
    components.emplace_back(current->basename(), BQFileSpec::ENCODING_UTF8);
    rest = std::move(parent);
    current = &rest;
  }
  std::reverse(components.begin(), components.end());

  // Cleaned in place: the output (the first `kept` entries) never grows
  // past the component being read.
  std::size_t kept = 0;
  bool isAbsolute = false;
  std::int32_t ordinary = 0;
  for (std::size_t k = 0; k < components.size(); ++k) {
    BQFileSpec& c = components[k];
    if (c == dot || c.empty())
      continue;
    if (c == dotdot) {
      if (ordinary == 0) {
        components[kept++] = std::move(c);
      } else {
        --kept;
        --ordinary;
        if (kept == 0 && isAbsolute)
          return BQ_STS_DirectoryNotFound;
      }
      continue;
    }
    if (kept == 0 && c.absolute())
      isAbsolute = true;
    if (kept != k)
      components[kept] = std::move(c);
    ++kept;
    ++ordinary;
  }
  if (kept == 0) {
    components[0] = dot; // there is always the root to reuse
    if (components[0].utf8() == nullptr)
      throw BQUtilException(BQ_STS_OutOfMemory); // the copy failed
    kept = 1;
  }
  components.erase(components.begin() + static_cast<std::ptrdiff_t>(kept),
                   components.end());
  return BQ_STS_Success;
}

} // namespace

BQ_STATUS BQFileUtils::getRelativePathTo(BQFileSpec& out,
                                         BQFileSpec const& from,
                                         BQFileSpec const& to) {
  static BQFileSpec const dot(".", BQFileSpec::ENCODING_UTF8);
  static BQFileSpec const dotdot("..", BQFileSpec::ENCODING_UTF8);

  // No path, or the empty text, names no location at all.
  if (from.empty() || to.empty())
    return BQ_STS_DirectoryNotFound;

  BQFileSpec base = trimTrailingSeparators(from);
  BQFileSpec target = trimTrailingSeparators(to);

  // The base of a file is its directory; a path whose status cannot be read
  // is taken as a directory.
  BQFileStat st;
  bool const baseKnown = getStats(base, st) == BQ_STS_Success;
  if (baseKnown && !st.isDir)
    base = base.dirname();

  // Only when both exist are relative paths placed under the working
  // directory, read afresh for each of them. When it cannot be read a
  // relative path cannot be placed, and the call fails.
  if (baseKnown && fileExists(target)) {
    if (!base.absolute()) {
      BQFileSpec const here = cwd();
      if (here.utf8() == nullptr)
        return BQ_STS_DirectoryNotFound;
      base = BQFileSpec(here, base);
    }
    if (!target.absolute()) {
      BQFileSpec const here = cwd();
      if (here.utf8() == nullptr)
        return BQ_STS_DirectoryNotFound;
      target = BQFileSpec(here, target);
    }
  }

  std::vector<BQFileSpec> fromList;
  if (splitFileSpecClean(base, fromList) != BQ_STS_Success)
    return BQ_STS_DirectoryNotFound;
  std::vector<BQFileSpec> toList;
  if (splitFileSpecClean(target, toList) != BQ_STS_Success)
    return BQ_STS_DirectoryNotFound;

  std::size_t i = 0;
  std::size_t j = 0;
  while (i < fromList.size() && j < toList.size() &&
         fromList[i] == toList[j]) {
    ++i;
    ++j;
  }

  // The result is (fromList.size() - i) times ".." followed by toList[j..],
  // joined as the joining constructor joins: the trailing separators of the
  // text so far are dropped and one "/" goes before each further component.
  // It is built in one pass, on the stack when it is short.
  std::size_t const climbs = fromList.size() - i;
  std::size_t size = 2 + climbs * 3; // the lone "." fits as well
  for (std::size_t k = j; k < toList.size(); ++k)
    size += std::strlen(toList[k].utf8()) + 1;

  char local[512];
  std::unique_ptr<char[]> heap;
  char* text = local;
  if (size > sizeof local) {
    heap = detail::newArrayOrThrow<char>(size);
    text = heap.get();
  }

  std::size_t len = 0;
  auto append = [&](char const* part) {
    if (len != 0) {
      len = trimmedLength(text, len);
      text[len++] = '/';
    }
    std::size_t const n = std::strlen(part);
    std::memcpy(text + len, part, n);
    len += n;
  };
  for (std::size_t k = 0; k < climbs; ++k)
    append(dotdot.utf8());
  for (std::size_t k = j; k < toList.size(); ++k)
    append(toList[k].utf8());
  if (climbs == 0 && j == toList.size())
    append(dot.utf8());
  text[len] = '\0';

  out = BQFileSpec(text, BQFileSpec::ENCODING_UTF8);
  return BQ_STS_Success;
}

} // namespace Brackwell
