// The system calls the library makes, wrapped for the fault harness: the
// test executables are linked with -Wl,--wrap=NAME for every NAME listed
// below (tests/CMakeLists.txt reads the names from this list), so the
// library's call of NAME reaches __wrap_NAME, which fails on request and
// otherwise calls the real function (sanitizer interceptors included).
//
// A failure looks as the real one would: the error number is set, a stream
// whose read, write or flush fails carries its error flag, and close,
// fclose, closedir and freopen release what the real call releases even
// when it reports an error.
#include "support/alloc_fault.h"

#if BQTEST_WRAP
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>

// X(name, result, parameters, arguments, result of a failure);
// V(name): variadic, written out below.
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
  V(open, int) \
  V(openat, int) \
  X(opendir, DIR*, (char const* a), (a), nullptr) \
  X(pthread_create, int, (pthread_t * a, pthread_attr_t const* b, void* (*c)(void*), void* d), \
    (a, b, c, d), err) \
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
enum { BQ_FAULT_CALLS(BQ_ID, BQ_ID) };

// The flag that ferror() reads (glibc's FILE).
void streamError(FILE* f) { f->_flags |= _IO_ERR_SEEN; }
} // namespace

#define BQ_WRAP(name, result, params, args, failure)                           \
  extern "C" result __real_##name params;                                      \
  extern "C" result __wrap_##name params {                                     \
    int err = 0;                                                               \
    if (!bqtest::detail::injectCall(k_##name, #name, err))                     \
      return __real_##name args;                                               \
    errno = err;                                                               \
    return failure;                                                            \
  }
#define BQ_SKIP(name, result)
BQ_FAULT_CALLS(BQ_WRAP, BQ_SKIP)

// open and openat take the mode only with O_CREAT or O_TMPFILE; it is
// passed on whenever the caller gave one.
#define BQ_WRAP_OPEN(name, params, args)                                       \
  extern "C" int __real_##name(params, ...);                                   \
  extern "C" int __wrap_##name(params, ...) {                                  \
    va_list ap;                                                                \
    va_start(ap, flags);                                                       \
    mode_t mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(ap, mode_t) : 0;      \
    va_end(ap);                                                                \
    int err = 0;                                                               \
    if (!bqtest::detail::injectCall(k_##name, #name, err))                     \
      return __real_##name(args, mode);                                        \
    errno = err;                                                               \
    return -1;                                                                 \
  }
#define BQ_COMMA ,
BQ_WRAP_OPEN(open, char const* path BQ_COMMA int flags, path BQ_COMMA flags)
BQ_WRAP_OPEN(openat, int dir BQ_COMMA char const* path BQ_COMMA int flags,
             dir BQ_COMMA path BQ_COMMA flags)
#endif // BQTEST_WRAP

std::vector<std::string> bqtest::listedCalls() {
#if BQTEST_WRAP
#define BQ_NAME(name, ...) #name,
  return {BQ_FAULT_CALLS(BQ_NAME, BQ_NAME)};
#else
  return {};
#endif
}
