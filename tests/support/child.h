// Runs a test body in a forked child, optionally as an unprivileged user.
//
//   int rc = bqtest::inChild([] { return setrlimit(...) == 0 ? 0 : 1; });
//   EXPECT_EQ(0, rc);
//
// The child's exit code is the body's return value; 100 means the user
// could not be changed, 101 that the child did not exit normally.
#ifndef BRACKWELL_TESTS_CHILD_H
#define BRACKWELL_TESTS_CHILD_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace bqtest {

constexpr int kNoUserChange = 100;

template <class F> int inChild(F body, bool asNobody = false) {
  std::fflush(nullptr);  // nothing buffered is written twice
  pid_t pid = ::fork();
  if (pid == 0) {
    if (asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(kNoUserChange);
    // exit, not _exit: coverage counters and leak checks run in the child.
    std::exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

// Whether this process can drop to another user for permission tests.
inline bool canDropUser() { return ::geteuid() == 0; }

} // namespace bqtest

#endif // BRACKWELL_TESTS_CHILD_H
