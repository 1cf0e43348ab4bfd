// The sample BBS, made afresh for one test in a scratch directory of its
// own by the same maker and BBS library as the build's sample, so that
// nothing done to the build's copy reaches a test.
#pragma once

#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>
#include <string>

#include "tests/platform/scratch_dir.h"

extern char** environ;

namespace testsupport {

struct SampleBbs {
  platform::testing::ScratchDir dir;
  std::string home = dir / "bbs";
  SampleBbs() {
    std::string maker = QX_SAMPLE_MAKER, library = QX_PATH;
    char* argv[] = {maker.data(), library.data(), home.data(), nullptr};
    pid_t pid = 0;
    int status = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0 || ::waitpid(pid, &status, 0) != pid ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      throw std::runtime_error("the sample BBS could not be made in " + home);
  }
  std::string Subboards() const { return home + "/SUBBOARD.DAT"; }
  std::string Directories() const { return home + "/FILEDIR.DAT"; }
};

}  // namespace testsupport
