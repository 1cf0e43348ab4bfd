// The four programs take their operator's commands from whatever standard
// input is: a regular file, /dev/null, a pipe. Each runs headless in one
// program directory beside the others (the site of tests/korridan, with the
// sample BBS for the managers).
#include <gtest/gtest.h>

#include "tests/korridan/korridan_site.h"
#include "tests/support/sample_bbs.h"
#include "tests/support/spawn.h"

namespace korridan_test {
namespace {

enum class Input { File, DevNull, Pipe };

struct Case {
  const char* program;
  const char* exit_command;
  Input input;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.program << (c.input == Input::File ? " < file" : c.input == Input::DevNull ? " < /dev/null" : " | pipe");
}

class CommandInput : public KorridanSite, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    KorridanSite::SetUp();
    for (const char* exe : {SECMANAGER_PATH, LIBMANAGER_PATH, CONFMANAGER_PATH})
      fs::copy_file(exe, prog_ + fs::path(exe).filename().string(), fs::copy_options::overwrite_existing);
    fs::copy_file(QX_PATH, prog_ + "QX.DLL", fs::copy_options::overwrite_existing);
    ini_["QXBBS"]["CONFIG.QX2"] = bbs_.home;
    WriteIni();
  }

  // Starts the program headless with its commands on the input; its pid.
  pid_t Run(const Case& c, const std::string& commands) {
    const std::string file = root_ + "/commands.txt";
    WriteFile(file, commands);
    int in[2] = {-1, -1};
    if (c.input == Input::Pipe && ::pipe(in) != 0) return -1;
    if (c.input != Input::Pipe) in[0] = ::open(c.input == Input::DevNull ? "/dev/null" : file.c_str(), O_RDONLY);
    int out = ::open((root_ + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open((root_ + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = testsupport::SpawnProgram({prog_ + c.program, prog_, root_ + "/registry"}, in[0], out, err, {in[1]});
    for (int fd : {in[0], out, err}) ::close(fd);
    if (c.input == Input::Pipe) {
      EXPECT_EQ(::write(in[1], commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
      ::close(in[1]);
    }
    return pid;
  }

  // The exit status once the program ended; -1 when it did not end in time
  // (it is then killed) or ended by a signal.
  static int ExitStatus(pid_t pid, std::chrono::milliseconds wait) {
    auto until = std::chrono::steady_clock::now() + wait;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testsupport::SampleBbs bbs_;
};

// A file or a pipe holding the exit command alone ends the program with 0.
// An input that ends with nothing in it (/dev/null) ends nothing: the
// program runs on until it is told to end.
TEST_P(CommandInput, EachKindOfInputIsRead) {
  const Case& c = GetParam();
  pid_t pid = Run(c, std::string(c.exit_command) + "\n");
  ASSERT_GT(pid, 0);
  if (c.input == Input::DevNull) {
    auto until = std::chrono::steady_clock::now() + 30s;
    // Its first "@ " line: it is up and waits for its operator.
    while (ReadFile(root_ + "/out.txt").find("@ ") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(500ms);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "ended at the end of its input: " << ReadFile(root_ + "/err.txt");
    ::kill(pid, SIGTERM);
  }
  EXPECT_EQ(ExitStatus(pid, 30s), 0) << ReadFile(root_ + "/err.txt");
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const std::pair<const char*, const char*> programs[] = {
      {"korridan", "menu ExitMenu"}, {"secmanager", "menu Exit1"}, {"libmanager", "menu Exit1"},
      {"confmanager", "menu Exit1"}};
  for (const auto& [program, exit_command] : programs)
    for (Input input : {Input::File, Input::DevNull, Input::Pipe}) cases.push_back({program, exit_command, input});
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  static const char* const kinds[] = {"File", "DevNull", "Pipe"};
  return std::string(info.param.program) + kinds[static_cast<int>(info.param.input)];
}

INSTANTIATE_TEST_SUITE_P(Programs, CommandInput, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace korridan_test
