#include "platform/files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/eventlog.h"
#include "scratch_dir.h"

namespace platform {
namespace {

using testing::CurrentDirGuard;
using testing::ReadText;
using testing::ScratchDir;
using testing::WriteText;

// ---- Paths ----

TEST(Paths, NormalizeTurnsBackslashesIntoSlashesAndCollapsesRuns) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"/", "/"},
      {"\\", "/"},
      {"a\\b\\c", "a/b/c"},
      {"//srv///www//", "/srv/www/"},
      {"\\\\docs\\/\\index.htm", "/docs/index.htm"},
      {"C:\\Data\\", "C:/Data/"},
      {"plain", "plain"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizePath(c.in), c.out) << "input \"" << c.in << "\"";
}

TEST(Paths, DirectoryAndFileNameParts) {
  EXPECT_EQ(DirectoryPart("/srv/www/index.htm"), "/srv/www/");
  EXPECT_EQ(DirectoryPart("/srv/www/"), "/srv/www/");
  EXPECT_EQ(DirectoryPart("/index.htm"), "/");
  EXPECT_EQ(DirectoryPart("index.htm"), "");
  EXPECT_EQ(DirectoryPart(""), "");
  EXPECT_EQ(FileNamePart("/srv/www/index.htm"), "index.htm");
  EXPECT_EQ(FileNamePart("/srv/www/"), "");
  EXPECT_EQ(FileNamePart("index.htm"), "index.htm");
}

TEST(Paths, TrailingSlashHelpers) {
  EXPECT_EQ(AddTrailingSlash("/srv/www"), "/srv/www/");
  EXPECT_EQ(AddTrailingSlash("/srv/www/"), "/srv/www/");
  EXPECT_EQ(AddTrailingSlash("/srv/www//"), "/srv/www//");
  EXPECT_EQ(AddTrailingSlash("/"), "/");
  EXPECT_EQ(AddTrailingSlash(""), "");
  EXPECT_EQ(WithOneTrailingSlash("/SRV/WWW"), "/SRV/WWW/");
  EXPECT_EQ(WithOneTrailingSlash("/SRV/WWW///"), "/SRV/WWW/");
  EXPECT_EQ(WithOneTrailingSlash("/"), "/");
  EXPECT_EQ(WithOneTrailingSlash("///"), "/");
  EXPECT_EQ(WithOneTrailingSlash(""), "");
}

// ---- Process ----

TEST(Process, ProgramDirectoryHoldsThisProgram) {
  std::string dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(FileExists(dir + "platform_tests")) << dir;
}

TEST(Process, CurrentDirectoryGetAndSet) {
  ScratchDir dir;
  CurrentDirGuard guard;
  std::string real = std::filesystem::canonical(dir.path()).string();
  ASSERT_TRUE(SetCurrentDir(dir.path()));
  EXPECT_EQ(GetCurrentDir(), real);
  EXPECT_FALSE(SetCurrentDir(dir / "missing"));
  EXPECT_FALSE(SetCurrentDir(""));
  EXPECT_EQ(GetCurrentDir(), real);
  ASSERT_TRUE(SetCurrentDir("/"));
  EXPECT_EQ(GetCurrentDir(), "/");
}

TEST(Process, SetHandleCountRaisesTheSoftLimitWithinTheHardLimit) {
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  // Start from a low soft limit so that raising it can be seen.
  rlimit low = before;
  low.rlim_cur = std::min<rlim_t>(before.rlim_max, 64);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);

  rlim_t expect = before.rlim_max == RLIM_INFINITY ? 512 : std::min<rlim_t>(before.rlim_max, 512);
  EXPECT_EQ(static_cast<rlim_t>(SetHandleCount(512)), expect);
  rlimit now{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
  EXPECT_EQ(now.rlim_cur, expect);
  // A smaller count never lowers the limit.
  EXPECT_EQ(static_cast<rlim_t>(SetHandleCount(10)), expect);
  // A count above the hard limit stops at the hard limit.
  if (before.rlim_max != RLIM_INFINITY && before.rlim_max < static_cast<rlim_t>(INT_MAX)) {
    EXPECT_EQ(static_cast<rlim_t>(SetHandleCount(INT_MAX)), before.rlim_max);
  }
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);
}

TEST(EventLog, HandlesAreNonzeroAndCloseOnce) {
  EventLogHandle a = OpenEventLog("Halv");
  EventLogHandle b = OpenEventLog("Halv");
  EXPECT_NE(a, 0u);
  EXPECT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(CloseEventLog(a));
  EXPECT_FALSE(CloseEventLog(a));
  EXPECT_FALSE(CloseEventLog(0));
  EXPECT_TRUE(CloseEventLog(b));
}

// ---- Files and directories ----

TEST(Files, FileExistsOnlyForNonDirectories) {
  ScratchDir dir;
  WriteText(dir / "STATS.DAT", "x");
  EXPECT_TRUE(FileExists(dir / "STATS.DAT"));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.path() + "/"));
  EXPECT_FALSE(FileExists(dir / "missing"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(FileExists("/dev/null"));
  // Case-sensitive on disk.
  EXPECT_FALSE(FileExists(dir / "stats.dat"));
  ASSERT_EQ(::symlink("STATS.DAT", (dir / "link").c_str()), 0);
  EXPECT_TRUE(FileExists(dir / "link"));
  ASSERT_EQ(::symlink(".", (dir / "dirlink").c_str()), 0);
  EXPECT_FALSE(FileExists(dir / "dirlink"));
}

TEST(Files, IsDirectory) {
  ScratchDir dir;
  WriteText(dir / "f", "x");
  EXPECT_TRUE(IsDirectory(dir.path()));
  EXPECT_TRUE(IsDirectory("/"));
  EXPECT_FALSE(IsDirectory(dir / "f"));
  EXPECT_FALSE(IsDirectory(dir / "missing"));
  EXPECT_FALSE(IsDirectory(""));
}

TEST(Files, FileSizeIs64BitAndZeroWhenMissing) {
  ScratchDir dir;
  WriteText(dir / "small", "hello");
  EXPECT_EQ(FileSize(dir / "small"), 5);
  EXPECT_EQ(FileSize(dir / "missing"), 0);
  EXPECT_EQ(FileSize(dir.path()), 0);
  // A sparse file beyond 4 GiB.
  int fd = ::open((dir / "big").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const int64_t big = (int64_t{5} << 30) + 3;
  bool made = ::ftruncate(fd, big) == 0;
  ::close(fd);
  if (!made) GTEST_SKIP() << "file system refuses a 5 GiB sparse file";
  EXPECT_EQ(FileSize(dir / "big"), big);
}

TEST(Files, CreateDirectoriesMakesEveryMissingLevel) {
  ScratchDir dir;
  EXPECT_TRUE(CreateDirectories(dir / "Logs/2026/01/"));
  EXPECT_TRUE(IsDirectory(dir / "Logs/2026/01"));
  EXPECT_TRUE(CreateDirectories(dir / "Logs/2026"));  // already there
  EXPECT_TRUE(CreateDirectories(dir / "a//b///"));
  EXPECT_TRUE(IsDirectory(dir / "a/b"));
  EXPECT_TRUE(CreateDirectories("/"));
  EXPECT_FALSE(CreateDirectories(""));
  // A level that is a file cannot become a directory; nothing is thrown.
  WriteText(dir / "file", "x");
  EXPECT_FALSE(CreateDirectories(dir / "file/sub"));
  EXPECT_FALSE(CreateDirectories(dir / "file"));
}

TEST(Files, CreateDirectoriesWithARelativePath) {
  ScratchDir dir;
  CurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDir(dir.path()));
  EXPECT_TRUE(CreateDirectories("Temp/Pages"));
  EXPECT_TRUE(IsDirectory(dir / "Temp/Pages"));
}

TEST(Files, DeleteFile) {
  ScratchDir dir;
  WriteText(dir / "RUN1.HTM", "x");
  EXPECT_TRUE(DeleteFile(dir / "RUN1.HTM"));
  EXPECT_FALSE(FileExists(dir / "RUN1.HTM"));
  EXPECT_FALSE(DeleteFile(dir / "RUN1.HTM"));
  EXPECT_FALSE(DeleteFile(dir.path()));
  EXPECT_TRUE(IsDirectory(dir.path()));
}

TEST(Files, RenameRefusesToReplaceAndReplaceDoes) {
  ScratchDir dir;
  WriteText(dir / "ACCESS.LOG", "new");
  WriteText(dir / "ACCESS-20260105.LOG", "old");
  EXPECT_FALSE(RenameFile(dir / "ACCESS.LOG", dir / "ACCESS-20260105.LOG"));
  EXPECT_EQ(ReadText(dir / "ACCESS-20260105.LOG"), "old");
  EXPECT_TRUE(RenameFile(dir / "ACCESS.LOG", dir / "ACCESS-20260105-1.LOG"));
  EXPECT_EQ(ReadText(dir / "ACCESS-20260105-1.LOG"), "new");
  EXPECT_FALSE(FileExists(dir / "ACCESS.LOG"));
  EXPECT_FALSE(RenameFile(dir / "missing", dir / "other"));
  EXPECT_TRUE(ReplaceFile(dir / "ACCESS-20260105-1.LOG", dir / "ACCESS-20260105.LOG"));
  EXPECT_EQ(ReadText(dir / "ACCESS-20260105.LOG"), "new");
}

TEST(Files, ReadWholeFile) {
  ScratchDir dir;
  std::string data("bin\0ary\r\n", 9);
  WriteText(dir / "f", data);
  EXPECT_EQ(ReadWholeFile(dir / "f").value_or("?"), data);
  WriteText(dir / "empty", "");
  EXPECT_EQ(ReadWholeFile(dir / "empty").value_or("?"), "");
  EXPECT_FALSE(ReadWholeFile(dir / "missing"));
  EXPECT_FALSE(ReadWholeFile(dir.path()));
}

TEST(Files, WriteFileAtomicReplacesAndKeepsPermissions) {
  ScratchDir dir;
  std::string path = dir / "STATS.DAT";
  ASSERT_TRUE(WriteFileAtomic(path, "first"));
  EXPECT_EQ(ReadText(path), "first");
  ::chmod(path.c_str(), 0600);
  struct stat before{};
  ::stat(path.c_str(), &before);
  ASSERT_TRUE(WriteFileAtomic(path, std::string(100000, 'z')));
  struct stat after{};
  ::stat(path.c_str(), &after);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  EXPECT_EQ(FileSize(path), 100000);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

TEST(Files, WriteFileAtomicFailsCleanly) {
  ScratchDir dir;
  EXPECT_FALSE(WriteFileAtomic(dir / "missing/f", "x"));
  EXPECT_FALSE(WriteFileAtomic(dir.path(), "x"));
  EXPECT_FALSE(WriteFileAtomic("", "x"));
  EXPECT_TRUE(IsDirectory(dir.path()));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 0);
}

// A process id that ran and has ended.
pid_t EndedProcess() {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return pid;
}

TEST(Files, LeftoversOfEndedProcessesAreRemovedAndNothingElse) {
  ScratchDir dir;
  const std::string ended = std::to_string(EndedProcess());
  const std::string running = std::to_string(::getpid());
  struct Case {
    std::string name;
    bool removed;
  };
  const Case cases[] = {
      {"STATS.DAT." + ended + ".tmp", true},
      {".KORRIDAN.INI.tmp-" + ended + "-0", true},
      {".KORRIDAN.INI.tmp-" + ended + "-17", true},
      {"STATS.DAT." + running + ".tmp", false},        // its process runs
      {".KORRIDAN.INI.tmp-" + running + "-3", false},  // its process runs
      {"STATS.DAT." + ended + ".tmp.1", false},
      {"STATS.DAT." + ended + ".TMP", false},
      {"STATS.DAT.0" + ended + ".tmp", false},
      {"STATS.DAT.-" + ended + ".tmp", false},
      {"STATS.DAT..tmp", false},
      {"STATS.DAT.99999999999999999999.tmp", false},
      {"XSTATS.DAT." + ended + ".tmp", false},
      {".KORRIDAN.INI.tmp-" + ended, false},
      {".KORRIDAN.INI.tmp-" + ended + "-", false},
      {".KORRIDAN.INI.tmp-" + ended + "-1x", false},
      {".MIME.INI.tmp-" + ended + "-1", false},
      {"STATS.DAT", false},
      {"KORRIDAN.INI", false},
  };
  for (const Case& k : cases) WriteText(dir / k.name, "x");
  ::mkdir((dir / ("STATS.DAT." + ended + "1.tmp")).c_str(), 0777);  // a directory is no leftover
  ASSERT_EQ(::symlink("STATS.DAT", (dir / ("STATS.DAT." + ended + "2.tmp")).c_str()), 0);

  EXPECT_EQ(RemoveFilesOfEndedProcesses(dir.path(), "STATS.DAT.", ".tmp"), 1);
  EXPECT_EQ(RemoveAtomicWriteLeftovers(dir / "KORRIDAN.INI"), 2);
  for (const Case& k : cases) EXPECT_EQ(FileExists(dir / k.name), !k.removed) << k.name;
  EXPECT_TRUE(IsDirectory(dir / ("STATS.DAT." + ended + "1.tmp")));
  struct stat st{};
  EXPECT_EQ(::lstat((dir / ("STATS.DAT." + ended + "2.tmp")).c_str(), &st), 0);
  // The current directory when dir is empty.
  WriteText(dir / ("STATS.DAT." + ended + ".tmp"), "x");
  {
    CurrentDirGuard cwd;
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(RemoveFilesOfEndedProcesses("", "STATS.DAT.", ".tmp"), 1);
  }
  EXPECT_FALSE(FileExists(dir / ("STATS.DAT." + ended + ".tmp")));
}

// A process that ends between writing its temporary file and the rename,
// as one killed there would.
TEST(Files, AnAtomicWriteCutShortIsRemovedOnceItsProcessHasEnded) {
  ScratchDir dir;
  const std::string path = dir / "KORRIDAN.INI";
  WriteText(path, "old");
  int ready[2], go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  pid_t writer = ::fork();
  if (writer == 0) {
    WriteFileAtomic(path, "new", [&] {
      (void)!::write(ready[1], "r", 1);
      char c;
      (void)!::read(go[0], &c, 1);
      ::_exit(0);
    });
    ::_exit(1);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  auto names = [&] {
    std::vector<std::string> list;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) list.push_back(e.path().filename());
    std::sort(list.begin(), list.end());
    return list;
  };
  ASSERT_EQ(names().size(), 2u);
  EXPECT_EQ(RemoveAtomicWriteLeftovers(path), 0) << "its process still runs";
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  int status = 0;
  ::waitpid(writer, &status, 0);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
  EXPECT_EQ(RemoveAtomicWriteLeftovers(path), 1);
  EXPECT_EQ(names(), std::vector<std::string>{"KORRIDAN.INI"});
  EXPECT_EQ(ReadText(path), "old");
}

TEST(Files, AtomicWriteLeftoversLieBesideTheFileALinkPointsTo) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir((dir / "real").c_str(), 0777), 0);
  WriteText(dir / "real/KORRIDAN.INI", "[General]\r\n");
  ASSERT_EQ(::symlink((dir / "real/KORRIDAN.INI").c_str(), (dir / "KORRIDAN.INI").c_str()), 0);
  const std::string leftover = ".KORRIDAN.INI.tmp-" + std::to_string(EndedProcess()) + "-0";
  WriteText(dir / ("real/" + leftover), "x");
  WriteText(dir / leftover, "x");
  EXPECT_EQ(RemoveAtomicWriteLeftovers(dir / "KORRIDAN.INI"), 1);
  EXPECT_FALSE(FileExists(dir / ("real/" + leftover)));
  EXPECT_TRUE(FileExists(dir / leftover)) << "not where the writes go";
}

}  // namespace
}  // namespace platform
