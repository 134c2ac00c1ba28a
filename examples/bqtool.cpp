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
// One table of commands (kCommands) gives both the usage text and the
// dispatch. `bqtool --help` prints the usage and exits 0; a wrong number of
// arguments names what is missing, shows that command's usage line and
// exits 2; a failing operation names its paths and the cause, and exits 1:
//
//   bqtool: cannot copy '/x' to '/y': not a directory, or cannot be listed
//
//===----------------------------------------------------------------------===//

#include <brackwell/brackwell.h>

#include <cstdarg>
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

/// What a status code means, in words for a message after the paths.
const char* describe(BQ_STATUS st) {
  switch (st) {
  case BQ_STS_Success: return "no error";
  case BQ_STS_Failure: return "failed (missing, or cannot be opened, read or written)";
  case BQ_STS_NullArgument: return "a required argument is missing";
  case BQ_STS_OutOfMemory: return "out of memory";
  case BQ_STS_MutexLockFailed: return "a mutex could not be locked";
  case BQ_STS_MutexUnlockFailed: return "a mutex could not be unlocked";
  case BQ_STS_FileDeleteFailed: return "could not be removed";
  case BQ_STS_DirectoryMoveFailed: return "could neither be renamed nor copied";
  case BQ_STS_DirectoryCreateFailed: return "a directory could not be created";
  case BQ_STS_DirectoryNotFound: return "not a directory, or cannot be listed";
  case BQ_STS_FileStatFailed: return "its status could not be read";
  case BQ_STS_TempFileFailed: return "no temporary file could be created";
  case BQ_STS_ThreadBusy: return "the thread is busy";
  default: return "unknown status";
  }
}

/// Reports a failed operation as "bqtool: cannot <what>: <cause>" and turns
/// its status into the exit code (0 for success, else 1). `what` is a
/// printf format for the action and its paths.
__attribute__((format(printf, 2, 3))) int check(BQ_STATUS st, const char* what, ...) {
  if (st == BQ_STS_Success)
    return 0;
  std::fputs("bqtool: cannot ", stderr);
  va_list ap;
  va_start(ap, what);
  std::vfprintf(stderr, what, ap);
  va_end(ap);
  std::fprintf(stderr, ": %s\n", describe(st));
  return 1;
}

/// Shows a text that may be null.
const char* show(const char* s) { return s ? s : "(null)"; }

/// A path from a command-line argument (native text).
BQFileSpec arg(const char* s) { return BQFileSpec(s, BQFileSpec::ENCODING_NATIVE); }

// --- the command table ------------------------------------------------------

struct Command;

/// One call of a command: its table entry and the arguments after its name.
struct Call {
  Command const& cmd;
  int n;
  char** a;
  const char* argv0;
};

/// A row of the command table: the name, the argument words shown in the
/// usage (optional ones in brackets, repeatable ones with "..."), the lines
/// of help, the number of arguments accepted (max -1: no limit) and the
/// function that runs it.
struct Command {
  const char* name;
  const char* args;
  const char* help;
  int min, max;
  int (*run)(Call const&);
};

extern const std::vector<Command> kCommands;

/// Prints "  NAME ARGS" padded to the help column, then the help (continued
/// on indented lines where it holds a newline).
void printUsageLine(Command const& c, std::FILE* out) {
  std::string left = std::string(c.name) + (*c.args ? " " : "") + c.args;
  std::fprintf(out, "  %-24s ", left.c_str());
  for (const char* h = c.help; *h; ++h) {
    std::fputc(*h, out);
    if (*h == '\n')
      std::fprintf(out, "  %-24s ", "");
  }
  std::fputc('\n', out);
}

void printUsage(std::FILE* out) {
  std::fputs("usage: bqtool COMMAND [ARGS]\n"
             "       bqtool --help | -h | --version\n"
             "commands:\n",
             out);
  for (Command const& c : kCommands)
    printUsageLine(c, out);
}

/// A usage error in one command: "bqtool: NAME: message", then the
/// command's usage line; exit status 2.
__attribute__((format(printf, 2, 3))) int usageError(Command const& c, const char* fmt, ...) {
  std::fprintf(stderr, "bqtool: %s: ", c.name);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputs("\nusage: bqtool", stderr);
  std::fprintf(stderr, " %s%s%s\n", c.name, *c.args ? " " : "", c.args);
  return 2;
}

/// The words of a command's argument list that a call with `given`
/// arguments lacks: for "SRC DST" and 1, "DST"; for "FORM UNIT..." (one
/// argument required) and 0, "FORM".
std::string missingWords(Command const& c, int given) {
  std::string out;
  int index = 0;
  for (const char* p = c.args; *p && index < c.min;) {
    while (*p == ' ' || *p == '[' || *p == ']')
      ++p;
    const char* end = p;
    while (*end && *end != ' ' && *end != '[' && *end != ']' && *end != '.')
      ++end;
    if (end != p && index++ >= given)
      out += (out.empty() ? "" : " and ") + std::string(p, end);
    for (p = end; *p == '.';)
      ++p;
  }
  return out;
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

int cmdRelative(Call const& c) {
  BQFileSpec out;
  if (int rc = check(BQFileUtils::getRelativePathTo(out, arg(c.a[0]), arg(c.a[1])),
                     "find the relative path from '%s' to '%s'", c.a[0], c.a[1]))
    return rc;
  std::printf("%s\n", show(out.utf8()));
  return 0;
}

// --- directory trees ------------------------------------------------------

int cmdList(Call const& c) {
  std::vector<BQFileSpec> files, dirs;
  if (int rc = check(BQFileUtils::getContents(arg(c.a[0]), files, dirs),
                     "list '%s'", c.a[0]))
    return rc;
  for (BQFileSpec const& d : dirs)
    std::printf("dir   %s\n", d.utf8());
  for (BQFileSpec const& f : files)
    std::printf("file  %s\n", f.utf8());
  return 0;
}

int cmdFiles(Call const& c) {
  std::vector<BQFileSpec> files;
  if (int rc = check(BQFileUtils::RecurseFiles(arg(c.a[0]), files), "walk '%s'",
                     c.a[0]))
    return rc;
  for (BQFileSpec const& f : files)
    std::printf("%s\n", f.utf8());
  return 0;
}

// --- temporary files and the program's path --------------------------------

int cmdTempFile(Call const& c) {
  // An empty directory makes createTempFile use getTempDir().
  const char* dir = c.n > 0 ? c.a[0] : "";
  BQFileSpec result;
  if (int rc = check(BQFileUtils::createTempFile(arg(dir), c.n > 1 ? c.a[1] : nullptr,
                                                 result),
                     "create a temporary file in '%s'",
                     *dir ? dir : show(BQFileUtils::getTempDir().utf8())))
    return rc;
  std::printf("%s\n", result.utf8());
  return 0;
}

int cmdSelf(Call const& c) {
  BQFileSpec self;
  if (int rc = check(BQFileUtils::getProcessFullPath(self, c.argv0),
                     "find this program from '%s'", c.argv0))
    return rc;
  std::printf("%s\n", self.utf8());
  return 0;
}

// --- tokenizer ------------------------------------------------------------

int cmdTokens(Call const& c) {
  const char* delim = c.a[0];
  BQUtilTokenizer<char> tok(c.a[1]);
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

/// Parses the hexadecimal units of a call; the first bad one, or null.
template <class T> const char* parseUnits(Call const& c, std::vector<T>& out) {
  for (int i = 1; i < c.n; ++i) {
    char* end = nullptr;
    unsigned long v = std::strtoul(c.a[i], &end, 16);
    if (*c.a[i] == '\0' || *end != '\0' ||
        v > static_cast<unsigned long>(static_cast<T>(-1)))
      return c.a[i];
    out.push_back(static_cast<T>(v));
  }
  return nullptr;
}

int cmdConvert(Call const& c) {
  const char* form = c.a[0];
  const char* bad = nullptr;
  if (!std::strcmp(form, "utf8") || !std::strcmp(form, "text")) {
    std::vector<UTF8> src;
    if (form[0] == 't') { // "text": the bytes of the arguments, space-joined
      for (int i = 1; i < c.n; ++i) {
        if (i > 1)
          src.push_back(' ');
        src.insert(src.end(), c.a[i], c.a[i] + std::strlen(c.a[i]));
      }
    } else if ((bad = parseUnits(c, src))) {
      return usageError(c.cmd, "bad UTF-8 code unit '%s'", bad);
    }
    // Point at the first ill-formed (or cut) sequence: where a converter
    // with room for every character stops.
    std::vector<UTF32> wide(src.size());
    const UTF8* s = src.data();
    UTF32* w = wide.data();
    if (ConvertUTF8toUTF32(&s, src.data() + src.size(), &w, w + wide.size(),
                           strictConversion) != conversionOK)
      std::printf("  first ill-formed sequence at byte %zu\n",
                  static_cast<std::size_t>(s - src.data()));
    convertOne<UTF8, UTF16>("UTF-16", src, ConvertUTF8toUTF16);
    convertOne<UTF8, UTF32>("UTF-32", src, ConvertUTF8toUTF32);
  } else if (!std::strcmp(form, "utf16")) {
    std::vector<UTF16> src;
    if ((bad = parseUnits(c, src)))
      return usageError(c.cmd, "bad UTF-16 code unit '%s'", bad);
    convertOne<UTF16, UTF8>("UTF-8", src, ConvertUTF16toUTF8);
    convertOne<UTF16, UTF32>("UTF-32", src, ConvertUTF16toUTF32);
  } else if (!std::strcmp(form, "utf32")) {
    std::vector<UTF32> src;
    if ((bad = parseUnits(c, src)))
      return usageError(c.cmd, "bad UTF-32 code unit '%s'", bad);
    convertOne<UTF32, UTF8>("UTF-8", src, ConvertUTF32toUTF8);
    convertOne<UTF32, UTF16>("UTF-16", src, ConvertUTF32toUTF16);
  } else {
    return usageError(c.cmd, "unknown FORM '%s' (utf8, utf16, utf32 or text)", form);
  }
  return 0;
}

// --- counting in parallel -------------------------------------------------

/// Counts the regular files of one tree and their bytes in its own thread.
class TreeCounter : public BQThread {
public:
  explicit TreeCounter(const char* dir) : name(dir), root(arg(dir)) {}
  // The task reads this object's members, so it must end before they go.
  ~TreeCounter() override { interrupt(); }

  const char* name;
  BQFileSpec root;
  BQ_STATUS started = BQ_STS_Failure;
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

/// Counts each tree in a thread of its own; a tree whose thread could not
/// start, or whose walk failed, is reported on stderr instead of as 0 files,
/// and left out of the total.
int countTrees(int argc, const char* const* dirs) {
  std::vector<std::unique_ptr<TreeCounter>> counters;
  for (int i = 0; i < argc; ++i) {
    counters.emplace_back(new TreeCounter(dirs[i]));
    counters.back()->started = counters.back()->execute();
  }
  int rc = 0, counted = 0;
  std::size_t totalFiles = 0;
  std::int64_t totalBytes = 0;
  for (auto& c : counters) {
    c->interrupt(); // waits for the task to end
    if (c->started == BQ_STS_Failure) {
      std::fprintf(stderr, "bqtool: cannot count '%s': no thread could be started\n",
                   c->name);
      rc = 1;
      continue;
    }
    if (check(c->started, "count '%s'", c->name) ||
        check(c->getTaskReturnValue(), "count '%s'", c->name)) {
      rc = 1;
      continue;
    }
    std::printf("%10zu files %14lld bytes  %s\n", c->files,
                static_cast<long long>(c->bytes), c->name);
    totalFiles += c->files;
    totalBytes += c->bytes;
    ++counted;
  }
  if (counted > 1)
    std::printf("%10zu files %14lld bytes  total\n", totalFiles,
                static_cast<long long>(totalBytes));
  return rc;
}

// --- the tour -------------------------------------------------------------

/// Decomposes a few sample paths, then copies `dir` into a new temporary
/// directory, counts the original and the copy in two threads, shows the
/// relative path between them and deletes the copy.
int cmdDemo(Call const& c) {
  const char* dir = c.a[0];
  std::printf("== paths\n");
  const char* samples[] = {"/usr/include/stdio.h", "dir/archive.tar.gz",
                           "X:\\dir\\file.txt", ".profile"};
  cmdPaths(4, const_cast<char**>(samples));

  // A private directory under the temporary directory, named after a
  // unique file from createTempFile, which is kept until the end so that
  // no other run picks the same name.
  BQFileSpec stamp;
  if (int rc = check(BQFileUtils::createTempFile(BQFileSpec(), "bqtool-demo", stamp),
                     "create a temporary file in '%s'",
                     show(BQFileUtils::getTempDir().utf8())))
    return rc;
  std::string const workName = std::string(stamp.utf8()) + ".d";
  BQFileSpec work(workName.c_str(), BQFileSpec::ENCODING_UTF8);
  BQFileSpec copy(work, BQFileSpec(arg(dir).basename(), BQFileSpec::ENCODING_UTF8));

  std::printf("== copy %s -> %s\n", dir, copy.utf8());
  if (int rc = check(BQFileUtils::copyDirectory(arg(dir), copy),
                     "copy '%s' to '%s'", dir, copy.utf8())) {
    BQFileUtils::deleteFile(stamp);
    return rc;
  }
  BQFileSpec rel;
  if (BQFileUtils::getRelativePathTo(rel, copy, arg(dir)) == BQ_STS_Success)
    std::printf("   from the copy, the original is %s\n", rel.utf8());

  std::printf("== count, one thread per tree\n");
  const char* trees[] = {dir, copy.utf8()};
  int rc = countTrees(2, trees);

  std::printf("== delete %s\n", work.utf8());
  rc |= check(BQFileUtils::deleteDir(work, true), "delete '%s'", work.utf8());
  rc |= check(BQFileUtils::deleteFile(stamp), "delete '%s'", stamp.utf8());
  return rc;
}

const std::vector<Command> kCommands = {
    {"demo", "DIR", "a tour: sample paths, then DIR copied to a\n"
                    "temporary directory, counted, deleted",
     1, 1, cmdDemo},
    {"paths", "P...", "decompose each path", 1, -1,
     [](Call const& c) { return cmdPaths(c.n, c.a); }},
    {"relative", "FROM TO", "relative path from FROM to TO", 2, 2, cmdRelative},
    {"list", "DIR", "files and subdirectories of DIR", 1, 1, cmdList},
    {"files", "DIR", "every regular file below DIR", 1, 1, cmdFiles},
    {"mkdir", "DIR", "create DIR with its parents", 1, 1,
     [](Call const& c) {
       return check(BQFileUtils::createDirectory(arg(c.a[0]), true),
                    "create directory '%s'", c.a[0]);
     }},
    {"copyfile", "SRC DST", "copy one file", 2, 2,
     [](Call const& c) {
       return check(BQFileUtils::copyFile(arg(c.a[0]), arg(c.a[1])),
                    "copy file '%s' to '%s'", c.a[0], c.a[1]);
     }},
    {"copy", "SRC DST", "copy a directory tree", 2, 2,
     [](Call const& c) {
       return check(BQFileUtils::copyDirectory(arg(c.a[0]), arg(c.a[1])),
                    "copy '%s' to '%s'", c.a[0], c.a[1]);
     }},
    {"move", "SRC DST", "move a directory tree", 2, 2,
     [](Call const& c) {
       return check(BQFileUtils::moveDirectory(arg(c.a[0]), arg(c.a[1])),
                    "move '%s' to '%s'", c.a[0], c.a[1]);
     }},
    {"delete", "DIR", "delete a directory tree", 1, 1,
     [](Call const& c) {
       return check(BQFileUtils::deleteDir(arg(c.a[0]), true), "delete '%s'", c.a[0]);
     }},
    {"tempfile", "[DIR [PREFIX]]", "create a new temporary file", 0, 2, cmdTempFile},
    {"self", "", "the path of this program", 0, 0, cmdSelf},
    {"tokens", "DELIM TEXT", "split TEXT at DELIM (quotes respected)", 2, 2, cmdTokens},
    {"convert", "FORM UNIT...", "convert code units; FORM is utf8, utf16 or\n"
                                "utf32 with hexadecimal UNITs, or text with\n"
                                "UTF-8 words",
     1, -1, cmdConvert},
    {"count", "DIR...", "count files and bytes, one thread per tree", 1, -1,
     [](Call const& c) { return countTrees(c.n, c.a); }},
};

int run(int argc, char** argv) {
  if (argc < 2) {
    printUsage(stderr);
    return 2;
  }
  const char* name = argv[1];
  if (!std::strcmp(name, "--help") || !std::strcmp(name, "-h")) {
    printUsage(stdout);
    return 0;
  }
  if (!std::strcmp(name, "--version")) {
    std::printf("bqtool (Brackwell) %s\n", BRACKWELL_VERSION_STRING);
    return 0;
  }
  for (Command const& c : kCommands) {
    if (std::strcmp(name, c.name) != 0)
      continue;
    int n = argc - 2;
    if (n < c.min)
      return usageError(c, "missing %s", missingWords(c, n).c_str());
    if (c.max >= 0 && n > c.max)
      return usageError(c, "too many arguments (from '%s' on)", argv[2 + c.max]);
    return c.run(Call{c, n, argv + 2, argv[0]});
  }
  std::fprintf(stderr, "bqtool: unknown command '%s'\n", name);
  printUsage(stderr);
  return 2;
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
