// Runs a function in a forked child: its result (true = 0) is the child's
// exit code. The child leaves with _exit, so nothing of the parent (open
// tables, test state) is touched on the way out.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <vector>

template <class F>
pid_t StartChild(F f) {
  pid_t pid = fork();
  if (pid == 0) {
    int rc = 2;
    try {
      rc = f() ? 0 : 1;
    } catch (...) {
      rc = 3;
    }
    _exit(rc);
  }
  return pid;
}

inline int WaitChild(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class F>
int RunInChild(F f) {
  return WaitChild(StartChild(f));
}
