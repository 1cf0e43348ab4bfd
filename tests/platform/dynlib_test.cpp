#include "platform/dynlib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "scratch_dir.h"

namespace platform {
namespace {

using testing::CurrentDirGuard;
using testing::ScratchDir;
using testing::WriteText;

using AnswerFn = int (*)();

void CopyFile(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

TEST(DynLib, LoadsByPathAndFindsExports) {
  LibraryHandle lib = LoadLibrary(HALV_TESTLIB_PATH);
  ASSERT_NE(lib, nullptr) << LastLoadError();
  auto answer = reinterpret_cast<AnswerFn>(GetProcAddress(lib, "TestLibAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  // A second load of the same file is the same library.
  LibraryHandle again = LoadLibrary(HALV_TESTLIB_PATH);
  EXPECT_EQ(again, lib);
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_TRUE(FreeLibrary(lib));
}

TEST(DynLib, MissingExportIsNullWithTheLoadersText) {
  LibraryHandle lib = LoadLibrary(HALV_TESTLIB_PATH);
  ASSERT_NE(lib, nullptr) << LastLoadError();
  EXPECT_EQ(GetProcAddress(lib, "MAKEPAGE"), nullptr);
  EXPECT_NE(LastLoadError().find("MAKEPAGE"), std::string::npos) << LastLoadError();
  EXPECT_EQ(GetProcAddress(nullptr, "TestLibAnswer"), nullptr);
  EXPECT_TRUE(FreeLibrary(lib));
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(DynLib, MissingLibraryFailsWithTheLoadersText) {
  ScratchDir dir;
  CurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDir(dir.path()));
  EXPECT_EQ(LoadLibrary("NOSUCHLIB-7f3a.DLL"), nullptr);
  std::string text = LastLoadError();
  EXPECT_NE(text.find("NOSUCHLIB-7f3a.DLL"), std::string::npos) << text;
  EXPECT_NE(text.find("No such file"), std::string::npos) << text;
  EXPECT_EQ(LoadLibrary(dir / "ABSENT.DLL"), nullptr);
  EXPECT_NE(LastLoadError().find("ABSENT.DLL"), std::string::npos) << LastLoadError();
}

TEST(DynLib, EmptyNameIsRefusedRatherThanTheMainProgram) {
  EXPECT_EQ(LoadLibrary(""), nullptr);
  EXPECT_FALSE(LastLoadError().empty());
}

TEST(DynLib, AFileThatIsNotALibraryFails) {
  ScratchDir dir;
  WriteText(dir / "BROKEN.DLL", "MZ this is not an ELF object");
  EXPECT_EQ(LoadLibrary(dir / "BROKEN.DLL"), nullptr);
  EXPECT_NE(LastLoadError().find("BROKEN.DLL"), std::string::npos) << LastLoadError();
}

TEST(DynLib, PlainNameIsFoundInTheCurrentDirectory) {
  ScratchDir dir;
  CopyFile(HALV_TESTLIB_PATH, dir / "TESTLIB.DLL");
  CurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDir(dir.path()));
  LibraryHandle lib = LoadLibrary("TESTLIB.DLL");
  ASSERT_NE(lib, nullptr) << LastLoadError();
  EXPECT_EQ(reinterpret_cast<AnswerFn>(GetProcAddress(lib, "TestLibAnswer"))(), 42);
  FreeLibrary(lib);
}

TEST(DynLib, RelativePathIsTakenFromTheCurrentDirectory) {
  ScratchDir dir;
  CopyFile(HALV_TESTLIB_PATH, dir / "TEST.DLL");
  CurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDir(dir.path()));
  LibraryHandle lib = LoadLibrary("./TEST.DLL");
  ASSERT_NE(lib, nullptr) << LastLoadError();
  FreeLibrary(lib);
}

// ---- Search order, seen from a program copied into a directory of its own ----

struct ProbeResult {
  int exit_code = -1;
  std::string out;
};

// Runs a copy of the probe program in `cwd` with LD_LIBRARY_PATH set to
// `library_path` (which must also reach the platform library).
ProbeResult RunProbe(const std::string& exe, const std::string& cwd, const std::string& library_path, const std::string& name) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::setenv("LD_LIBRARY_PATH", library_path.c_str(), 1);
    ::execl(exe.c_str(), exe.c_str(), name.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  ProbeResult r;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class SearchOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& d : {program, current, system}) ASSERT_TRUE(CreateDirectories(d));
    CopyFile(HALV_DYNLIB_PROBE, exe);
    ::chmod(exe.c_str(), 0755);
  }
  ProbeResult Run(const std::string& name) { return RunProbe(exe, current, system + ":" + HALV_PLATFORM_LIB_DIR, name); }

  ScratchDir dir;
  std::string program = dir / "program";
  std::string current = dir / "current";
  std::string system = dir / "system";
  std::string exe = program + "/probe";
};

TEST_F(SearchOrder, ProgramDirectoryIsTheCopysOwn) {
  ProbeResult r = Run("NONE.DLL");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "program " + program + "/");
}

TEST_F(SearchOrder, ProgramDirectoryComesBeforeTheCurrentDirectory) {
  for (const std::string& d : {program, current, system}) CopyFile(HALV_TESTLIB_PATH, d + "/TESTLIB.DLL");
  ProbeResult r = Run("TESTLIB.DLL");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("loaded " + program + "/TESTLIB.DLL 42\n"), std::string::npos) << r.out;
}

TEST_F(SearchOrder, CurrentDirectoryComesBeforeTheSystemSearch) {
  for (const std::string& d : {current, system}) CopyFile(HALV_TESTLIB_PATH, d + "/TESTLIB.DLL");
  ProbeResult r = Run("TESTLIB.DLL");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("loaded " + current + "/TESTLIB.DLL 42\n"), std::string::npos) << r.out;
}

TEST_F(SearchOrder, SystemSearchComesLast) {
  CopyFile(HALV_TESTLIB_PATH, system + "/TESTLIB.DLL");
  ProbeResult r = Run("TESTLIB.DLL");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("loaded " + system + "/TESTLIB.DLL 42\n"), std::string::npos) << r.out;
}

TEST_F(SearchOrder, ADirectoryOfThatNameIsNotALibrary) {
  ASSERT_TRUE(CreateDirectories(program + "/TESTLIB.DLL"));
  CopyFile(HALV_TESTLIB_PATH, current + "/TESTLIB.DLL");
  ProbeResult r = Run("TESTLIB.DLL");
  EXPECT_NE(r.out.find("loaded " + current + "/TESTLIB.DLL 42\n"), std::string::npos) << r.out;
}

TEST_F(SearchOrder, NotFoundAnywhere) {
  ProbeResult r = Run("TESTLIB.DLL");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("error TESTLIB.DLL: cannot open shared object file"), std::string::npos) << r.out;
}

TEST_F(SearchOrder, NamesAreCaseSensitive) {
  CopyFile(HALV_TESTLIB_PATH, program + "/testlib.dll");
  ProbeResult r = Run("TESTLIB.DLL");
  EXPECT_EQ(r.exit_code, 1) << r.out;
}

}  // namespace
}  // namespace platform
