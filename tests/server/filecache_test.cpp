// The descriptors kept of served files: the sweep closes those unused for
// a while, so that a deleted file's space comes back on a quiet server,
// and keeps those a slot is still sending from.
#include "server/filecache.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/datetime.h"
#include "tests/support/open_files.h"

namespace {

TEST(OpenFileCache, TheSweepClosesIdleDescriptorsAndKeepsThoseInUse) {
  char pattern[] = "/tmp/halv-filecache-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string idle = dir + "/idle.bin", sent = dir + "/sent.bin", once = dir + "/once.bin";
  for (const std::string& path : {idle, sent, once})
    std::ofstream(path, std::ios::binary) << std::string(100000, 'x');
  auto holds = [](const std::string& path) { return testsupport::HoldsFile(::getpid(), path); };

  ServedFile a = OpenServedFile(idle), b = OpenServedFile(sent), c = OpenServedFile(once, false);
  ASSERT_TRUE(a.file && b.file && c.file);
  EXPECT_EQ(OpenServedFile(idle).file, a.file) << "kept and shared";
  a = {};  // sent; the slot that sends b still holds it
  c = {};
  std::filesystem::remove_all(dir);
  EXPECT_TRUE(holds(idle)) << "kept after its answer";
  EXPECT_FALSE(holds(once)) << "a file opened not to be kept";

  const double now = platform::MonotonicSeconds();
  SweepIdleOpenFiles(now);
  EXPECT_TRUE(holds(idle)) << "not idle yet";
  SweepIdleOpenFiles(now + kOpenIdleSeconds + 1);
  EXPECT_FALSE(holds(idle)) << "idle past the limit";
  EXPECT_TRUE(holds(sent)) << "still being sent";
  b = {};
  SweepIdleOpenFiles(now + kOpenIdleSeconds + 1);
  EXPECT_FALSE(holds(sent)) << "its answer done";
}

}  // namespace
