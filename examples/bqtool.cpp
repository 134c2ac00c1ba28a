//===- examples/bqtool.cpp - A command-line tour of the library -----------===//
//
// bqtool exercises the public interface of Brackwell from the command line:
// path decomposition, relative paths, directory listing, walking, copying,
// moving and deleting, temporary files, the program's own path, the
// tokenizer, the Unicode converters and BQThread.
//
//   bqtool demo /usr/include        paths, then a tree copied, counted, deleted
//   bqtool paths /usr/include/stdio.h
//   bqtool relative /data/maps /data/docs/readme     => ../docs/readme
//   bqtool copy /usr/share/doc /tmp/doc-copy
//   bqtool tokens ' ' 'alpha "two words" x'
//   bqtool convert utf8 E2 82 AC                      => UTF-16 20AC ...
//   bqtool count /usr/include /usr/share/doc
//
// Every failing operation prints its status code by name and makes the tool
// exit with 1; bad usage exits with 2.
//
//===----------------------------------------------------------------------===//

#include <brackwell/brackwell.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

using namespace Brackwell;

namespace {

/// The name of a status code, for messages: 3033 => "BQ_STS_DirectoryNotFound".
const char* statusName(BQ_STATUS st) {
  switch (st) {
  case BQ_STS_Success: return "BQ_STS_Success";
  case BQ_STS_Failure: return "BQ_STS_Failure";
  case BQ_STS_NullArgument: return "BQ_STS_NullArgument";
  case BQ_STS_OutOfMemory: return "BQ_STS_OutOfMemory";
  case BQ_STS_MutexLockFailed: return "BQ_STS_MutexLockFailed";
  case BQ_STS_MutexUnlockFailed: return "BQ_STS_MutexUnlockFailed";
  case BQ_STS_FileDeleteFailed: return "BQ_STS_FileDeleteFailed";
  case BQ_STS_DirectoryMoveFailed: return "BQ_STS_DirectoryMoveFailed";
  case BQ_STS_DirectoryCreateFailed: return "BQ_STS_DirectoryCreateFailed";
  case BQ_STS_DirectoryNotFound: return "BQ_STS_DirectoryNotFound";
  case BQ_STS_FileStatFailed: return "BQ_STS_FileStatFailed";
  case BQ_STS_TempFileFailed: return "BQ_STS_TempFileFailed";
  case BQ_STS_ThreadBusy: return "BQ_STS_ThreadBusy";
  default: return "unknown status";
  }
}

/// Reports a failed operation and turns its status into the exit code.
int check(BQ_STATUS st, const char* what) {
  if (st == BQ_STS_Success)
    return 0;
  std::fprintf(stderr, "bqtool: %s: %s (%d)\n", what, statusName(st),
               static_cast<int>(st));
  return 1;
}

/// Shows a text that may be null.
const char* show(const char* s) { return s ? s : "(null)"; }

/// A path from a command-line argument (native text).
BQFileSpec arg(const char* s) { return BQFileSpec(s, BQFileSpec::ENCODING_NATIVE); }

int usage() {
  std::fputs(
      "usage: bqtool COMMAND [ARGS]\n"
      "  demo DIR                 a tour: sample paths, then DIR copied to a\n"
      "                           temporary directory, counted, deleted\n"
      "  paths P...               decompose each path\n"
      "  relative FROM TO         relative path from FROM to TO\n"
      "  list DIR                 files and subdirectories of DIR\n"
      "  files DIR                every regular file below DIR\n"
      "  mkdir DIR                create DIR with its parents\n"
      "  copyfile SRC DST         copy one file\n"
      "  copy SRC DST             copy a directory tree\n"
      "  move SRC DST             move a directory tree\n"
      "  delete DIR               delete a directory tree\n"
      "  tempfile [DIR [PREFIX]]  create a new temporary file\n"
      "  self                     the path of this program\n"
      "  tokens DELIM TEXT        split TEXT at DELIM (quotes respected)\n"
      "  convert utf8|utf16|utf32 HEX...  convert code units\n"
      "  convert text TEXT        convert a UTF-8 argument\n"
      "  count DIR...             count files and bytes, one thread per tree\n",
      stderr);
  return 2;
}

// --- paths ----------------------------------------------------------------

int cmdPaths(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    BQFileSpec p = arg(argv[i]);
    const wchar_t* wide = p.w_str();
    std::printf("%s\n", show(p.utf8()));
    std::printf("  native         %s\n", show(p.n_str()));
    std::printf("  dirname        %s\n", show(p.dirname().utf8()));
    std::printf("  basename       %s\n", p.basename());
    std::printf("  suffix         %s\n", p.getSuffix());
    std::printf("  prefix length  %zu\n", p.getPrefixLength());
    std::printf("  absolute       %s\n", p.absolute() ? "yes" : "no");
    std::printf("  removeSuffix   %s\n", show(p.removeSuffix().utf8()));
    std::printf("  wide length    %zu\n", wide ? std::wcslen(wide) : 0);
  }
  return 0;
}

int cmdRelative(const char* from, const char* to) {
  BQFileSpec out;
  if (int rc = check(BQFileUtils::getRelativePathTo(out, arg(from), arg(to)),
                     "getRelativePathTo"))
    return rc;
  std::printf("%s\n", show(out.utf8()));
  return 0;
}

// --- directory trees ------------------------------------------------------

int cmdList(const char* dir) {
  std::vector<BQFileSpec> files, dirs;
  if (int rc = check(BQFileUtils::getContents(arg(dir), files, dirs),
                     "getContents"))
    return rc;
  for (BQFileSpec const& d : dirs)
    std::printf("dir   %s\n", d.utf8());
  for (BQFileSpec const& f : files)
    std::printf("file  %s\n", f.utf8());
  return 0;
}

int cmdFiles(const char* dir) {
  std::vector<BQFileSpec> files;
  if (int rc = check(BQFileUtils::RecurseFiles(arg(dir), files), "RecurseFiles"))
    return rc;
  for (BQFileSpec const& f : files)
    std::printf("%s\n", f.utf8());
  return 0;
}

// --- temporary files and the program's path --------------------------------

int cmdTempFile(int argc, char** argv) {
  // An empty directory makes createTempFile use getTempDir().
  BQFileSpec dir = arg(argc > 0 ? argv[0] : "");
  BQFileSpec result;
  if (int rc = check(BQFileUtils::createTempFile(dir, argc > 1 ? argv[1] : nullptr,
                                                 result),
                     "createTempFile"))
    return rc;
  std::printf("%s\n", result.utf8());
  return 0;
}

int cmdSelf(const char* argv0) {
  BQFileSpec self;
  if (int rc = check(BQFileUtils::getProcessFullPath(self, argv0),
                     "getProcessFullPath"))
    return rc;
  std::printf("%s\n", self.utf8());
  return 0;
}

// --- tokenizer ------------------------------------------------------------

int cmdTokens(const char* delim, const char* text) {
  BQUtilTokenizer<char> tok(text);
  bool single = std::strlen(delim) == 1;
  for (;;) {
    // One character and a string are different delimiter kinds; a
    // one-character string would split the same way.
    std::unique_ptr<char[]> t(single ? tok.nextNonEmpty(delim[0])
                                     : tok.nextNonEmpty(delim));
    if (!t)
      break;
    std::printf("[%s]\n", t.get());
  }
  return 0;
}

// --- Unicode conversion ---------------------------------------------------

const char* resultName(ConversionResult r) {
  switch (r) {
  case conversionOK: return "conversionOK";
  case sourceExhausted: return "sourceExhausted";
  case targetExhausted: return "targetExhausted";
  case sourceIllegal: return "sourceIllegal";
  }
  return "?";
}

/// Runs one strict converter over all of `src` into a buffer with room for
/// every character, then prints the units written, the result and, when
/// the conversion stopped early, the index of the unit it stopped at.
template <class From, class To>
void convertOne(const char* toName, std::vector<From> const& src,
                ConversionResult (*fn)(const From**, const From*, To**, To*,
                                       ConversionFlags)) {
  std::vector<To> dst(src.size() * 4 + 1); // four units per unit at most
  const From* s = src.data();
  To* d = dst.data();
  ConversionResult r = fn(&s, src.data() + src.size(), &d,
                          dst.data() + dst.size(), strictConversion);
  std::printf("  %-6s", toName);
  for (To* p = dst.data(); p != d; ++p)
    std::printf(" %0*X", static_cast<int>(2 * sizeof(To)),
                static_cast<unsigned>(*p));
  std::printf("  (%s", resultName(r));
  if (s != src.data() + src.size())
    std::printf(", stopped at unit %zu", static_cast<std::size_t>(s - src.data()));
  std::printf(")\n");
}

/// Parses hexadecimal units; false (with a message) for a bad one.
template <class T> bool parseUnits(int argc, char** argv, std::vector<T>& out) {
  for (int i = 0; i < argc; ++i) {
    char* end = nullptr;
    unsigned long v = std::strtoul(argv[i], &end, 16);
    if (*argv[i] == '\0' || *end != '\0' || v > static_cast<unsigned long>(static_cast<T>(-1))) {
      std::fprintf(stderr, "bqtool: bad code unit '%s'\n", argv[i]);
      return false;
    }
    out.push_back(static_cast<T>(v));
  }
  return true;
}

int cmdConvert(const char* form, int argc, char** argv) {
  if (!std::strcmp(form, "utf8") || !std::strcmp(form, "text")) {
    std::vector<UTF8> src;
    if (form[0] == 't') { // "text": the bytes of the arguments, space-joined
      for (int i = 0; i < argc; ++i) {
        if (i)
          src.push_back(' ');
        src.insert(src.end(), argv[i], argv[i] + std::strlen(argv[i]));
      }
    } else if (!parseUnits(argc, argv, src)) {
      return 2;
    }
    // Point at the first ill-formed sequence, as the converters would.
    for (std::size_t i = 0; i < src.size(); ++i)
      if (!isLegalUTF8Sequence(src.data() + i, src.data() + src.size())) {
        std::printf("  first ill-formed sequence at byte %zu\n", i);
        break;
      } else if (src[i] >= 0xC0) {
        i += (src[i] >= 0xF0) ? 3 : (src[i] >= 0xE0) ? 2 : 1;
      }
    convertOne<UTF8, UTF16>("UTF-16", src, ConvertUTF8toUTF16);
    convertOne<UTF8, UTF32>("UTF-32", src, ConvertUTF8toUTF32);
  } else if (!std::strcmp(form, "utf16")) {
    std::vector<UTF16> src;
    if (!parseUnits(argc, argv, src))
      return 2;
    convertOne<UTF16, UTF8>("UTF-8", src, ConvertUTF16toUTF8);
    convertOne<UTF16, UTF32>("UTF-32", src, ConvertUTF16toUTF32);
  } else if (!std::strcmp(form, "utf32")) {
    std::vector<UTF32> src;
    if (!parseUnits(argc, argv, src))
      return 2;
    convertOne<UTF32, UTF8>("UTF-8", src, ConvertUTF32toUTF8);
    convertOne<UTF32, UTF16>("UTF-16", src, ConvertUTF32toUTF16);
  } else {
    return usage();
  }
  return 0;
}

// --- counting in parallel -------------------------------------------------

/// Counts the regular files of one tree and their bytes in its own thread.
class TreeCounter : public BQThread {
public:
  explicit TreeCounter(const char* dir) : root(arg(dir)) {}
  // The task reads this object's members, so it must end before they go.
  ~TreeCounter() override { interrupt(); }

  BQFileSpec root;
  std::size_t files = 0;
  std::int64_t bytes = 0;

protected:
  std::int32_t task() override {
    std::vector<BQFileSpec> list;
    BQ_STATUS st = BQFileUtils::RecurseFiles(root, list);
    files = list.size();
    for (BQFileSpec const& f : list) {
      std::int64_t size = BQFileUtils::getFileSize(f);
      if (size > 0)
        bytes += size;
    }
    return st; // the task's result is the walk's status
  }
};

int cmdCount(int argc, char** argv) {
  std::vector<std::unique_ptr<TreeCounter>> counters;
  int rc = 0;
  for (int i = 0; i < argc; ++i) {
    counters.emplace_back(new TreeCounter(argv[i]));
    rc |= check(counters.back()->execute(), "execute");
  }
  std::size_t totalFiles = 0;
  std::int64_t totalBytes = 0;
  for (auto& c : counters) {
    c->interrupt(); // waits for the task to end
    if (check(c->getTaskReturnValue(), c->root.utf8())) {
      rc = 1;
      continue;
    }
    std::printf("%10zu files %14lld bytes  %s\n", c->files,
                static_cast<long long>(c->bytes), c->root.utf8());
    totalFiles += c->files;
    totalBytes += c->bytes;
  }
  if (counters.size() > 1)
    std::printf("%10zu files %14lld bytes  total\n", totalFiles,
                static_cast<long long>(totalBytes));
  return rc;
}

// --- the tour -------------------------------------------------------------

/// Decomposes a few sample paths, then copies `dir` into a new temporary
/// directory, counts the original and the copy in two threads, shows the
/// relative path between them and deletes the copy.
int cmdDemo(const char* dir) {
  std::printf("== paths\n");
  const char* samples[] = {"/usr/include/stdio.h", "dir/archive.tar.gz",
                           "X:\\dir\\file.txt", ".profile"};
  cmdPaths(4, const_cast<char**>(samples));

  // A private directory under the temporary directory, named after a
  // unique file from createTempFile, which is kept until the end so that
  // no other run picks the same name.
  BQFileSpec stamp;
  if (int rc = check(BQFileUtils::createTempFile(BQFileSpec(), "bqtool-demo",
                                                 stamp),
                     "createTempFile"))
    return rc;
  std::string const workName = std::string(stamp.utf8()) + ".d";
  BQFileSpec work(workName.c_str(), BQFileSpec::ENCODING_UTF8);
  BQFileSpec copy(work, BQFileSpec(BQFileSpec(dir, BQFileSpec::ENCODING_NATIVE)
                                       .basename(),
                                   BQFileSpec::ENCODING_UTF8));

  std::printf("== copy %s -> %s\n", dir, copy.utf8());
  if (int rc = check(BQFileUtils::copyDirectory(arg(dir), copy),
                     "copyDirectory")) {
    BQFileUtils::deleteFile(stamp);
    return rc;
  }
  BQFileSpec rel;
  if (BQFileUtils::getRelativePathTo(rel, copy, arg(dir)) == BQ_STS_Success)
    std::printf("   from the copy, the original is %s\n", rel.utf8());

  std::printf("== count, one thread per tree\n");
  const char* trees[] = {dir, copy.utf8()};
  int rc = cmdCount(2, const_cast<char**>(trees));

  std::printf("== delete %s\n", work.utf8());
  rc |= check(BQFileUtils::deleteDir(work, true), "deleteDir");
  rc |= check(BQFileUtils::deleteFile(stamp), "deleteFile");
  return rc;
}

int run(int argc, char** argv) {
  if (argc < 2)
    return usage();
  const char* cmd = argv[1];
  int n = argc - 2;   // arguments after the command
  char** a = argv + 2;
  auto is = [cmd](const char* name) { return std::strcmp(cmd, name) == 0; };

  if (is("demo") && n == 1)
    return cmdDemo(a[0]);
  if (is("paths") && n >= 1)
    return cmdPaths(n, a);
  if (is("relative") && n == 2)
    return cmdRelative(a[0], a[1]);
  if (is("list") && n == 1)
    return cmdList(a[0]);
  if (is("files") && n == 1)
    return cmdFiles(a[0]);
  if (is("mkdir") && n == 1)
    return check(BQFileUtils::createDirectory(arg(a[0]), true), "createDirectory");
  if (is("copyfile") && n == 2)
    return check(BQFileUtils::copyFile(arg(a[0]), arg(a[1])), "copyFile");
  if (is("copy") && n == 2)
    return check(BQFileUtils::copyDirectory(arg(a[0]), arg(a[1])), "copyDirectory");
  if (is("move") && n == 2)
    return check(BQFileUtils::moveDirectory(arg(a[0]), arg(a[1])), "moveDirectory");
  if (is("delete") && n == 1)
    return check(BQFileUtils::deleteDir(arg(a[0]), true), "deleteDir");
  if (is("tempfile") && n <= 2)
    return cmdTempFile(n, a);
  if (is("self") && n == 0)
    return cmdSelf(argv[0]);
  if (is("tokens") && n == 2)
    return cmdTokens(a[0], a[1]);
  if (is("convert") && n >= 1)
    return cmdConvert(a[0], n - 1, a + 1);
  if (is("count") && n >= 1)
    return cmdCount(n, a);
  return usage();
}

} // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (BQUtilException const& e) {
    // Only exhausted memory is thrown.
    std::fprintf(stderr, "bqtool: out of memory (BQUtilException %d)\n",
                 static_cast<int>(e.code));
    return 1;
  }
}
