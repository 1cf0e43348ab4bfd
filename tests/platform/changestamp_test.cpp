#include "platform/changestamp.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "platform/msgloop.h"
#include "tests/platform/scratch_dir.h"

namespace platform {
namespace {

using testing::ScratchDir;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A directory whose changes the kernel tells: a temporary one, or one in
// /dev/shm where the temporary directory lies on a file system without
// notices (a network or user-space one).
std::unique_ptr<ScratchDir> WatchedDir() {
  auto dir = std::make_unique<ScratchDir>();
  Write(*dir / "probe", "");
  if (ChangeStamp(*dir / "probe") != 0) return dir;
  return std::make_unique<ScratchDir>("/dev/shm");
}

TEST(ChangeStamp, MovesForEveryKindOfChangeToTheFileOrItsCompanions) {
  auto watched = WatchedDir();
  const ScratchDir& dir = *watched;
  const std::string file = dir / "TABLE.db";
  Write(file, "one");
  Write(dir / "OTHER.INI", "x");
  struct Case {
    const char* what;
    std::function<void()> change;
    bool moves;
  };
  const Case cases[] = {
      {"nothing", [] {}, false},
      {"another file written", [&] { Write(dir / "OTHER.INI", "y"); }, false},
      {"written in place", [&] { Write(file, "two"); }, true},
      {"same bytes again", [&] { Write(file, "two"); }, true},
      {"mode changed", [&] { ::chmod(file.c_str(), 0600); }, true},
      {"companion created", [&] { Write(file + "-wal", "w"); }, true},
      {"companion written", [&] { Write(file + "-wal", "ww"); }, true},
      {"replaced by a rename", [&] {
         Write(dir / "new.tmp", "three");
         std::rename((dir / "new.tmp").c_str(), file.c_str());
       }, true},
      {"the new file written", [&] { Write(file, "four"); }, true},
      {"written through a second name elsewhere", [&] {
         ScratchDir other;
         ASSERT_EQ(::link(file.c_str(), (other / "alias").c_str()), 0);
         std::ofstream(other / "alias", std::ios::binary | std::ios::app) << "!";
       }, true},
      {"removed", [&] { ::unlink(file.c_str()); }, true},
      {"created again", [&] { Write(file, "five"); }, true},
  };
  uint64_t stamp = ChangeStamp(file);
  ASSERT_NE(stamp, 0u) << "no change notices on this machine";
  for (const Case& c : cases) {
    c.change();
    const uint64_t now = ChangeStamp(file);
    EXPECT_NE(now, 0u) << c.what;
    EXPECT_EQ(now != stamp, c.moves) << c.what;
    EXPECT_EQ(ChangeStamp(file), now) << c.what << ": asked again";
    stamp = now;
  }
}

TEST(ChangeStamp, AHandlerSeesOneStateAndAHandlerAfterTheLoopCollectedTheChange) {
  auto watched = WatchedDir();
  const ScratchDir& dir = *watched;
  const std::string file = dir / "KORRIDAN.INI";
  Write(file, "a");
  ASSERT_NE(ChangeStamp(file), 0u);
  uint64_t first = 0, second = 0, next = 0;
  HWND h = CreateWindowHandle([&](const MSG& m) {
    if (m.message == WM_USER + 1) {
      first = ChangeStamp(file);
      Write(file, "b");
      second = ChangeStamp(file);
    } else {
      next = ChangeStamp(file);
    }
  });
  DispatchMessage(MSG{h, WM_USER + 1, 0, 0});
  MSG m;
  PeekMessage(m, 0, 0, 0, PM_NOREMOVE);  // the loop collects: it reads the notices
  DispatchMessage(MSG{h, WM_USER + 2, 0, 0});
  EXPECT_EQ(first, second);
  EXPECT_NE(next, first);
  DestroyWindowHandle(h);
}

TEST(ChangeStamp, AForkedChildLeavesItsParentsNoticesAlone) {
  auto watched = WatchedDir();
  const ScratchDir& dir = *watched;
  const std::string file = dir / "KORRIDAN.INI";
  Write(file, "a");
  const uint64_t before = ChangeStamp(file);
  ASSERT_NE(before, 0u);
  Write(file, "b");
  const pid_t child = ::fork();
  if (child == 0) {
    ChangeStamp(file);
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_NE(ChangeStamp(file), before);
}

// The first handler to ask hands the notices to the loop, and still sees a
// change made before it. (In a child: there the loop has no watch yet.)
TEST(ChangeStamp, TheFirstHandlerSeesAChangeMadeBeforeIt) {
  auto watched = WatchedDir();
  const std::string file = *watched / "KORRIDAN.INI";
  Write(file, "a");
  const pid_t child = ::fork();
  if (child == 0) {
    const uint64_t before = ChangeStamp(file);
    Write(file, "b");
    uint64_t inside = before;
    HWND h = CreateWindowHandle([&](const MSG&) { inside = ChangeStamp(file); });
    DispatchMessage(MSG{h, WM_USER, 0, 0});
    ::_exit(before != 0 && inside != before ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ChangeStamp, NoStampWhereNoticesCannotBeHad) {
  auto watched = WatchedDir();
  const ScratchDir& dir = *watched;
  for (const std::string& path : {std::string("relative/KORRIDAN.INI"), std::string(""), dir / "missing-dir/x.ini",
                                   dir.path() + "/"})
    EXPECT_EQ(ChangeStamp(path), 0u) << path;
  // A file not there yet is watched through its directory.
  const std::string later = dir / "later.ini";
  const uint64_t before = ChangeStamp(later);
  ASSERT_NE(before, 0u);
  Write(later, "x");
  EXPECT_NE(ChangeStamp(later), before);
}

}  // namespace
}  // namespace platform
