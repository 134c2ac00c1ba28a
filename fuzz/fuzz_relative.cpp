// Fuzz target for BQFileUtils::getRelativePathTo over a small real tree.
//
// At start-up a tree is made under a fresh temporary directory and becomes
// the working directory:
//
//   a/  a/b/  a/b/c/  a/f.txt  d/  d/e/  d/e/g.txt
//   link -> a/b   (a directory link)   dangling -> missing
//
// Input: byte 0 holds flags (bit 0: `from` absolute, bit 1: `to` absolute,
// that is placed under the tree's root); the rest is `from` and `to`
// separated by a zero byte. Bytes below 16 stand for whole path words
// ("a", "b", "..", "link", "/", "\\", ...); the others are taken as they
// are. Properties checked:
//   - a failing call leaves `out` unchanged, a successful one gives a path
//     (a component of separators only, as in "////x", stays a component,
//     so the result is not always relative);
//   - where both ends exist and neither is reached through a symbolic link
//     or written with a backslash or a "." or ".." before a doubled
//     separator (the cleaning keeps "../" of "..//" as an ordinary
//     component, the kernel does not), the directory of `from` joined with the
//     result is the same file as `to` (device and inode).
#include "brackwell/fileSpec.h"
#include "brackwell/fileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

using Brackwell::BQFileSpec;
using Brackwell::BQFileUtils;
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, std::string const& from,
                       std::string const& to, const char* result) {
  std::fprintf(stderr,
               "fuzz_relative: property violated: %s\n  from=\"%s\"\n  "
               "to=\"%s\"\n  result=\"%s\"\n",
               what, from.c_str(), to.c_str(), result ? result : "(null)");
  std::abort();
}

std::string g_root;

void removeTree() {
  std::error_code ec;
  fs::remove_all(g_root, ec);
}

void makeTree() {
  char templ[] = "/tmp/bqfuzzrel.XXXXXX";
  if (!mkdtemp(templ))
    std::abort();
  g_root = templ;
  fs::create_directories(g_root + "/a/b/c");
  fs::create_directories(g_root + "/d/e");
  for (const char* f : {"/a/f.txt", "/d/e/g.txt"})
    if (FILE* fp = std::fopen((g_root + f).c_str(), "w"))
      std::fclose(fp);
  fs::create_directory_symlink("a/b", g_root + "/link");
  fs::create_symlink("missing", g_root + "/dangling");
  if (chdir(g_root.c_str()) != 0)
    std::abort();
  std::atexit(removeTree);
}

const char* const kWords[16] = {"a",    "b",        "c",  "d",      "e",
                                "f.txt", "g.txt",   "..", ".",      "/",
                                "\\",   "link",     "dangling", "missing",
                                "//",   "a/b/c"};

std::string decode(const uint8_t* p, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i)
    out += p[i] < 16 ? kWords[p[i]] : std::string(1, static_cast<char>(p[i]));
  return out;
}

// The path with the working directory in front when relative, and with no
// symbolic link or backslash on the way: then the kernel's reading of ".."
// is the lexical one the function assumes.
bool plainExisting(std::string const& path, struct stat& st) {
  if (path.empty() || path.find('\\') != std::string::npos ||
      path.find(".//") != std::string::npos ||
      stat(path.c_str(), &st) != 0)
    return false;
  char real[PATH_MAX];
  if (!realpath(path.c_str(), real))
    return false;
  fs::path lexical = fs::path(path).is_absolute() ? fs::path(path)
                                                   : fs::path(g_root) / path;
  std::string norm = lexical.lexically_normal().string();
  while (norm.size() > 1 && norm.back() == '/')
    norm.pop_back();
  return norm == real;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  makeTree();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > 64)
    return 0;
  const uint8_t flags = data[0];
  const uint8_t* rest = data + 1;
  const std::size_t n = size - 1;
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(rest, 0, n));
  const std::size_t fromLen = zero ? static_cast<std::size_t>(zero - rest) : n;
  std::string from = decode(rest, fromLen);
  std::string to = zero ? decode(zero + 1, n - fromLen - 1) : std::string();
  if (flags & 1)
    from = g_root + "/" + from;
  if (flags & 2)
    to = g_root + "/" + to;
  // The decoder maps bytes below 16 to words, so a zero inside either text
  // cannot occur; the C strings are the whole texts.

  const BQFileSpec fromSpec(from.c_str(), BQFileSpec::ENCODING_UTF8);
  const BQFileSpec toSpec(to.c_str(), BQFileSpec::ENCODING_UTF8);
  BQFileSpec out("unchanged", BQFileSpec::ENCODING_UTF8);
  const BQ_STATUS status = BQFileUtils::getRelativePathTo(out, fromSpec, toSpec);
  if (status != 0) {
    if (std::strcmp(out.utf8(), "unchanged") != 0)
      fail("a failing call changed out", from, to, out.utf8());
    return 0;
  }
  const char* result = out.utf8();
  if (result == nullptr || *result == '\0')
    fail("the result is null or empty", from, to, result);

  struct stat fromSt, toSt, reached;
  if (!plainExisting(from, fromSt) || !plainExisting(to, toSt))
    return 0;
  std::string base = from;
  if (!S_ISDIR(fromSt.st_mode)) {
    base = fs::path(from).parent_path().string();
    if (base.empty())
      base = ".";
  }
  const std::string joined = base + "/" + result;
  if (stat(joined.c_str(), &reached) != 0 || reached.st_dev != toSt.st_dev ||
      reached.st_ino != toSt.st_ino)
    fail("from joined with the result does not lead to to", from, to, result);
  return 0;
}
