// A program of the system started as its operator starts it: in a
// directory of its own, with the test's registry root and (unless asked)
// no display, its standard streams on the descriptors given.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

struct Spawn {
  std::string exe;       // the program's path
  std::string dir;       // its current directory
  std::string registry;  // its HALVORINE_REGISTRY
  std::vector<std::string> args = {"--headless", "--commands"};
  std::string clock = {};  // its HALVORINE_CLOCK, when not empty
  bool display = false;  // keeps DISPLAY and WAYLAND_DISPLAY
};

// Forks and runs the program with in, out and err as its standard input,
// output and error; the child closes those and close_fds. The child's
// pid, -1 when it could not be made. The child ends with 126 when it
// cannot enter dir, with 127 when the program cannot be run.
inline pid_t SpawnProgram(const Spawn& s, int in, int out, int err, std::initializer_list<int> close_fds = {}) {
  std::vector<char*> argv;
  std::string name = s.exe.substr(s.exe.rfind('/') + 1);
  argv.push_back(name.data());
  std::vector<std::string> args = s.args;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::setenv("HALVORINE_REGISTRY", s.registry.c_str(), 1);
  if (!s.clock.empty()) ::setenv("HALVORINE_CLOCK", s.clock.c_str(), 1);
  if (!s.display) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
  }
  if (::chdir(s.dir.c_str()) != 0) ::_exit(126);
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  for (int fd : {in, out, err})
    if (fd > 2) ::close(fd);
  for (int fd : close_fds)
    if (fd > 2) ::close(fd);
  ::execv(s.exe.c_str(), argv.data());
  ::_exit(127);
}

}  // namespace testsupport
