// The shared test support (see bqtest.h): the fault-injection harness's
// state, the scratch trees, then the wrappers of the system calls the
// library makes and the replacement of the global allocation functions. The
// test executables are linked with -Wl,--wrap=NAME for every NAME in the
// list below (tests/CMakeLists.txt reads the names from it), so the
// library's call of NAME reaches __wrap_NAME, which fails on request and
// otherwise calls the real function (sanitizer interceptors included). A
// failure looks as the real one would: the error number is set, a stream
// whose read, write or flush fails carries its error flag, and close,
// fclose, closedir and freopen release what the real call releases even
// when it reports an error.
//
// The calls are wrapped, and the allocation functions replaced, only where
// BQTEST_WRAP is set: a static library, and no ThreadSanitizer, whose
// runtime supplies the whole allocation family itself and cannot be
// overridden piecemeal. Elsewhere the harness counts and injects nothing.
#include "support/bqtest.h"

#include <ftw.h>
#include <pthread.h>

#include <cstdarg>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>

// X(name, result, parameters, arguments, result of a failure);
// V(name, parameters, arguments): open and openat, which are variadic (see
// BQ_WRAP_OPEN; the arguments pass on `mode`).
#define BQ_FAULT_CALLS(X, V) \
  X(close, int, (int a), (a), (__real_close(a), -1)) \
  X(closedir, int, (DIR * a), (a), (__real_closedir(a), -1)) \
  X(fclose, int, (FILE * a), (a), (__real_fclose(a), EOF)) \
  X(fdopen, FILE*, (int a, char const* b), (a, b), nullptr) \
  X(fdopendir, DIR*, (int a), (a), nullptr) \
  X(fflush, int, (FILE * a), (a), (streamError(a), EOF)) \
  X(fopen, FILE*, (char const* a, char const* b), (a, b), nullptr) \
  X(fread, size_t, (void* a, size_t b, size_t c, FILE* d), (a, b, c, d), (streamError(d), 0)) \
  X(freopen, FILE*, (char const* a, char const* b, FILE* c), (a, b, c), (__real_fclose(c), nullptr)) \
  X(fstat, int, (int a, struct stat* b), (a, b), -1) \
  X(fstatat, int, (int a, char const* b, struct stat* c, int d), (a, b, c, d), -1) \
  X(fwrite, size_t, (void const* a, size_t b, size_t c, FILE* d), (a, b, c, d), (streamError(d), 0)) \
  X(getcwd, char*, (char* a, size_t b), (a, b), nullptr) \
  X(malloc, void*, (size_t a), (a), nullptr) \
  X(mkdir, int, (char const* a, mode_t b), (a, b), -1) \
  X(mkstemp, int, (char* a), (a), -1) \
  V(open, (char const* a, int flags, ...), (a, flags, mode)) \
  V(openat, (int a, char const* b, int flags, ...), (a, b, flags, mode)) \
  X(opendir, DIR*, (char const* a), (a), nullptr) \
  X(pthread_create, int, (pthread_t * a, pthread_attr_t const* b, void* (*c)(void*), void* d), (a, b, c, d), err) \
  X(pthread_join, int, (pthread_t a, void** b), (a, b), (__real_pthread_join(a, b), err)) \
  X(readdir, dirent*, (DIR * a), (a), nullptr) \
  X(realpath, char*, (char const* a, char* b), (a, b), nullptr) \
  X(rename, int, (char const* a, char const* b), (a, b), -1) \
  X(rmdir, int, (char const* a), (a), -1) \
  X(setvbuf, int, (FILE * a, char* b, int c, size_t d), (a, b, c, d), 1) \
  X(stat, int, (char const* a, struct stat* b), (a, b), -1) \
  X(unlink, int, (char const* a), (a), -1) \
  X(unlinkat, int, (int a, char const* b, int c), (a, b, c), -1)

namespace {
#define BQ_ID(name, ...) k_##name,
enum { BQ_FAULT_CALLS(BQ_ID, BQ_ID) kAlloc }; // an allocation's id is the last

std::atomic<long> g_live{0};
// What this thread is armed with: the call that fails is the one that takes
// the countdown to 0, and every call named `always` fails; both with `err`.
struct Armed { long countdown; int err; char const* always; };
thread_local Armed t_armed{};
thread_local bool t_paused = false;
thread_local int t_failedNth = 0;
thread_local char const* t_failed = nullptr;
thread_local int t_seen[kAlloc + 1]; // calls per id since the arm
} // namespace

namespace bqtest {
void armPoint(long n, int err, char const* always) {
  t_armed = {n > 0 ? n : 0, err, always};
  t_failed = nullptr;
  std::memset(t_seen, 0, sizeof t_seen);
}
void disarm() { t_armed = {}; }
void pause(bool on) { t_paused = on; }
std::string failedPoint() { return t_failed ? t_failed + ("#" + std::to_string(t_failedNth)) : ""; }
long liveBlocks() { return g_live.load(); }
std::set<std::string> listedCalls() {
#define BQ_NAME(name, ...) #name,
  return {BQ_FAULT_CALLS(BQ_NAME, BQ_NAME)};
}

void removeTree(std::string const& path) {
  // An entry that cannot go stays, and the walk goes on.
  auto const remove = [](char const* p, struct stat const*, int, FTW*) { ::remove(p); return 0; };
  ::nftw(path.c_str(), remove, 64, FTW_DEPTH | FTW_PHYS);
}

TempTree::TempTree() {
  const char* base = std::getenv("TMPDIR");
  m_root = std::string(base && *base ? base : "/tmp") + "/bqtest.XXXXXX";
  if (!::mkdtemp(&m_root[0]))
    throw std::runtime_error("mkdtemp failed: " + m_root);
}

TempTree::~TempTree() {
  ::chmod(m_root.c_str(), 0700); // a test may have taken it away
  removeTree(m_root);
}

void TempTree::mkdir(std::string const& rel) const {
  for (std::size_t end = 0; end != std::string::npos;)
    ::mkdir(path(rel.substr(0, end = rel.find('/', end + 1))).c_str(), 0777);
}

void TempTree::write(std::string const& rel, std::string const& bytes) const {
  mkdir(rel.substr(0, rel.rfind('/') + 1)); // the parents: "" when there are none (npos + 1 is 0)
  std::ofstream(path(rel), std::ios::binary | std::ios::trunc) << bytes;
}

std::string TempTree::read(std::string const& absPath) {
  std::ifstream in(absPath, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}
} // namespace bqtest

#if BQTEST_WRAP
// Counts a fallible call; the error number to fail it with, 0 for none.
static int fails(int id, char const* name) {
  if (t_paused)
    return 0;
  if (t_armed.always != nullptr && std::strcmp(t_armed.always, name) == 0)
    return t_armed.err;
  int nth = ++t_seen[id];
  if (t_armed.countdown <= 0 || --t_armed.countdown > 0)
    return 0;
  t_failed = name;
  t_failedNth = nth;
  return t_armed.err;
}

// The flag that ferror() reads (glibc's FILE).
static void streamError(FILE* f) { f->_flags |= _IO_ERR_SEEN; }

#define BQ_WRAP(name, result, params, args, failure)                           \
  extern "C" result __real_##name params;                                      \
  extern "C" result __wrap_##name params {                                     \
    int err = fails(k_##name, #name);                                          \
    return err ? (errno = err, failure) : __real_##name args;                  \
  }

// open and openat take the mode only with O_CREAT or O_TMPFILE; it is
// passed on whenever the caller gave one.
#define BQ_WRAP_OPEN(name, params, args)                                       \
  extern "C" int __real_##name params;                                         \
  extern "C" int __wrap_##name params {                                        \
    va_list ap;                                                                \
    va_start(ap, flags);                                                       \
    mode_t mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(ap, mode_t) : 0;      \
    va_end(ap);                                                                \
    int err = fails(k_##name, #name);                                          \
    return err ? (errno = err, -1) : __real_##name args;                       \
  }
BQ_FAULT_CALLS(BQ_WRAP, BQ_WRAP_OPEN)

// Every form of the family is defined, the over-aligned ones included, so
// that no sanitizer runtime has to supply part of it (its definitions would
// clash with these). Blocks come from posix_memalign, which is not wrapped,
// so the harness's own are no points; a block that cannot be had is a null
// result for the nothrow forms and std::bad_alloc for the others.
static void* allocate(size_t n, size_t align = 0, bool nothrow = false) {
  void* p = nullptr;
  if (posix_memalign(&p, std::max(align, alignof(std::max_align_t)), n ? n : 1) != 0)
    return nothrow ? nullptr : throw std::bad_alloc();
  ++g_live;
  return p;
}
static void release(void* p) noexcept {
  g_live -= p != nullptr;
  std::free(p);
}

using Al = std::align_val_t;
using Nt = std::nothrow_t const&;
void* operator new(size_t n) { return allocate(n); }
void* operator new[](size_t n) { return allocate(n); }
void* operator new(size_t n, Al a) { return allocate(n, size_t(a)); }
void* operator new[](size_t n, Al a) { return allocate(n, size_t(a)); }
void* operator new(size_t n, Nt) noexcept { return allocate(n, 0, true); }
// The one form that is a point: the library's buffers.
void* operator new[](size_t n, Nt) noexcept { return fails(kAlloc, "new[]") ? nullptr : allocate(n, 0, true); }
void* operator new(size_t n, Al a, Nt) noexcept { return allocate(n, size_t(a), true); }
void* operator new[](size_t n, Al a, Nt) noexcept { return allocate(n, size_t(a), true); }
// Each delete form, plain and array, with the parameters given.
#define BQ_DELETE(params)                                                      \
  void operator delete params noexcept { release(p); }                         \
  void operator delete[] params noexcept { release(p); }
BQ_DELETE((void* p)) BQ_DELETE((void* p, size_t)) BQ_DELETE((void* p, Nt))
BQ_DELETE((void* p, Al)) BQ_DELETE((void* p, size_t, Al)) BQ_DELETE((void* p, Al, Nt))
#endif // BQTEST_WRAP
