// Runs a test body in a forked child and brings back its verdict: the empty
// text when every check held, otherwise what failed.
//
//   EXPECT_EQ("", bqtest::inChild([&]() -> std::string {
//     CHILD_CHECK(::setrlimit(RLIMIT_NOFILE, &lim) == 0);
//     CHILD_CHECK(BQFileUtils::copyDirectory(src, dst) == 1);
//     return "";
//   }));
//
// With asNobody the child first drops to uid/gid 65534 (needs root).
// The child ends with exit(), not _exit(), so that coverage counters and a
// sanitizer's leak check run in it too; a leak or a crash there is reported
// as "child died".
#ifndef BRACKWELL_TESTS_CHILD_H
#define BRACKWELL_TESTS_CHILD_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

namespace bqtest {

template <class F> std::string inChild(F body, bool asNobody = false) {
  static_assert(std::is_same<decltype(body()), std::string>::value,
                "a child's body returns its verdict as text");
  int fds[2];
  if (::pipe(fds) != 0)
    return "pipe failed";
  std::fflush(nullptr); // nothing buffered is written twice
  pid_t const pid = ::fork();
  if (pid == 0) {
    std::string msg = "cannot become user 65534";
    if (!asNobody || (::setgid(65534) == 0 && ::setuid(65534) == 0)) {
      try {
        msg = body();
      } catch (...) {
        msg = "exception";
      }
    }
    std::exit(::write(fds[1], msg.data(), msg.size()) == ssize_t(msg.size()) ? 0 : 2);
  }
  ::close(fds[1]);
  std::string msg;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    msg.append(buf, std::size_t(n));
  ::close(fds[0]);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || status != 0)
    return "child died (status " + std::to_string(status) + ") " + msg;
  return msg;
}

} // namespace bqtest

#define CHILD_CHECK(cond)                                                      \
  do {                                                                         \
    if (!(cond))                                                               \
      return std::string("line ") + std::to_string(__LINE__) + ": " #cond;     \
  } while (0)

#endif // BRACKWELL_TESTS_CHILD_H
