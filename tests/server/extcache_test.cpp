#include "server/extcache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/msgbox.h"
#include "tests/platform/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::testing::CurrentDirGuard;
using platform::testing::ScratchDir;

// The sample libraries are built into the program directory; the cache
// loads from the current directory, so each test copies what it needs into
// a scratch directory and works there.
class ExtCache : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  }
  void TearDown() override { cache.UnloadAll(); }
  void Install(const std::string& built, const std::string& as) {
    std::string from = platform::ProgramDirectory() + built;
    ASSERT_TRUE(platform::FileExists(from)) << from << " is not built";
    fs::copy_file(from, dir / as, fs::copy_options::overwrite_existing);
  }
  std::string Name(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "L%02d.DLL", i);
    return buf;
  }
  // Libraries L01.DLL .. L<n>.DLL, each a copy of a small sample.
  void InstallNumbered(int n) {
    for (int i = 1; i <= n; ++i) Install("UNLOADME.DLL", Name(i));
  }
  std::string NameAt(int entry) { return cache.Entry(entry).Name.str(); }

  CurrentDirGuard keep_dir;
  ScratchDir dir;
  TExtensionCache cache;
};

TEST(ExtensionNames, LibraryNameIsTheTextUpToTheFirstDotPlusDllCutToTwelve) {
  struct Case {
    const char* text;
    const char* name;
  } cases[] = {
      {"$TEST.DLL?a=1", "TEST.DLL"},
      {"$TEST?a=1", "TEST?a=1.DLL"},
      {"$VERYLONGNAME.DLL", "VERYLONGNAME"},
      {"$ABCDEFGHIJ.DLL", "ABCDEFGHIJ.D"},
      {"$hello.dll", "hello.DLL"},
      {"$A.B.C", "A.DLL"},
      {"$", ".DLL"},
      {"", ".DLL"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtensionLibraryName(c.text), c.name) << c.text;
}

TEST(ExtensionNames, OnlyPlainBaseNamesArePlain) {
  for (const char* ok : {"TEST.DLL", "A-B_C.DLL", "VERYLONGNAME", "hello.dll", "X1", "ABCDEFGHIJ.D"})
    EXPECT_TRUE(IsPlainExtensionName(ok)) << ok;
  for (const char* bad : {"", ".DLL", "..", "../X.DLL", "/tmp/X.DLL", "A/B.DLL", "A\\B.DLL", "TEST?a=1.DLL",
                          "A.B.C", "X.", "A B.DLL", "VERYLONGNAME1", "%2E%2E", "A\nB"})
    EXPECT_FALSE(IsPlainExtensionName(bad)) << bad;
}

TEST_F(ExtCache, LowerAndUpperCaseShareOneEntry) {
  Install("UNLOADME.DLL", "UNLOADME.DLL");
  int32_t a = 0, b = 0;
  ASSERT_TRUE(cache.Acquire("unloadme.dll", a));
  ASSERT_TRUE(cache.Acquire("UNLOADME.DLL", b));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  TExtensionSlot e = cache.Entry(1);
  EXPECT_EQ(e.Name.str(), "UNLOADME.DLL");
  EXPECT_EQ(e.InUse, 2);
  EXPECT_EQ(e.Hits, 2);
  EXPECT_NE(e.MakePage, nullptr);
  EXPECT_EQ(e.PostBegin, nullptr);
  EXPECT_EQ(cache.Find("UnloadMe.Dll"), 1);
  EXPECT_EQ(cache.Entry(2).Handle, nullptr);
}

TEST_F(ExtCache, MissingEntryPointsAreNull) {
  Install("POSTLOG.DLL", "POSTLOG.DLL");
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("POSTLOG.DLL", e));
  EXPECT_EQ(cache.MakePage("POSTLOG.DLL"), nullptr);
  EXPECT_NE(cache.PostBegin("POSTLOG.DLL"), nullptr);
  EXPECT_NE(cache.PostResume("postlog.dll"), nullptr);
  int32_t entry = 0;
  EXPECT_NE(cache.PostEnd("POSTLOG.DLL", entry), nullptr);
  EXPECT_EQ(entry, e);
  EXPECT_EQ(cache.PostEnd("OTHER.DLL", entry), nullptr);
  EXPECT_EQ(entry, 0);
  EXPECT_EQ(cache.MakePage("OTHER.DLL"), nullptr);
}

TEST_F(ExtCache, AMissingFileIsNoLibraryAndNoMessage) {
  platform::MessageBoxScript boxes;
  int32_t e = 7;
  EXPECT_FALSE(cache.Acquire("NOPE.DLL", e));
  EXPECT_EQ(e, 7);
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(cache.Entry(1).Handle, nullptr);
}

TEST_F(ExtCache, LookupIsCaseSensitiveOnDisk) {
  // The file on disk must carry the upper-cased name.
  Install("UNLOADME.DLL", "lower.dll");
  int32_t e = 0;
  EXPECT_FALSE(cache.Acquire("lower.dll", e));
}

TEST_F(ExtCache, AFileTheLoaderRefusesShowsTheLoaderErrorAndStaysFree) {
  platform::testing::WriteText(dir / "BAD.DLL", "this is not a library");
  platform::MessageBoxScript boxes;
  int32_t e = 0;
  EXPECT_FALSE(cache.Acquire("bad.dll", e));
  auto shown = boxes.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text.rfind("LoadLibrary Error: ", 0), 0u) << shown[0].text;
  EXPECT_GT(shown[0].text.size(), std::string("LoadLibrary Error: ").size());
  EXPECT_EQ(shown[0].kind, platform::MsgKind::Plain);
  EXPECT_EQ(cache.Entry(1).Handle, nullptr);
  EXPECT_EQ(cache.Find("BAD.DLL"), 0);
}

TEST_F(ExtCache, NamesThatAreNotPlainLoadNothing) {
  // Real libraries lie behind each of these names; none may be reached.
  fs::create_directories(dir / "sub");
  Install("UNLOADME.DLL", "sub/X.DLL");
  ScratchDir other;
  fs::copy_file(platform::ProgramDirectory() + "UNLOADME.DLL", other / "ESCAPE.DLL");
  ASSERT_EQ(::chdir((dir / "sub").c_str()), 0);
  platform::MessageBoxScript boxes;
  int32_t e = 0;
  for (std::string name : {std::string("../sub/X.DLL"), std::string("./X.DLL"), other / "ESCAPE.DLL",
                           std::string(".."), std::string("X.DLL/")})
    EXPECT_FALSE(cache.Acquire(name, e)) << name;
  EXPECT_TRUE(boxes.Shown().empty());
  for (int i = 1; i <= kExtensionCacheSize; ++i) EXPECT_EQ(cache.Entry(i).Handle, nullptr) << i;
  EXPECT_TRUE(cache.Acquire("X.DLL", e));  // the plain name does work
}

TEST_F(ExtCache, TheSeventeenthLibraryEvictsTheOldestIdleOne) {
  InstallNumbered(17);
  for (int i = 1; i <= 16; ++i) {
    int32_t e = 0;
    ASSERT_TRUE(cache.Acquire(Name(i), e)) << i;
    EXPECT_EQ(e, i);
    cache.Release(e);
  }
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire(Name(17), e));
  EXPECT_EQ(e, 16);
  EXPECT_EQ(cache.Find(Name(1)), 0);
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(NameAt(i), Name(i + 1)) << "entry " << i;
  EXPECT_EQ(cache.Entry(1).Hits, 1);
  EXPECT_EQ(cache.Entry(16).InUse, 1);
}

TEST_F(ExtCache, EvictionNeverTakesABusyLibrary) {
  InstallNumbered(17);
  for (int i = 1; i <= 16; ++i) {
    int32_t e = 0;
    ASSERT_TRUE(cache.Acquire(Name(i), e));
    if (i > 2) cache.Release(e);  // L01 and L02 keep running a call
  }
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire(Name(17), e));
  EXPECT_EQ(e, 16);
  EXPECT_EQ(NameAt(1), Name(1));
  EXPECT_EQ(NameAt(2), Name(2));
  EXPECT_EQ(NameAt(3), Name(4));
  EXPECT_EQ(NameAt(15), Name(16));
  EXPECT_EQ(NameAt(16), Name(17));
  EXPECT_EQ(cache.Find(Name(3)), 0);
  EXPECT_EQ(cache.Entry(1).InUse, 1);
}

TEST_F(ExtCache, AFullTableOfBusyLibrariesRefusesANewOne) {
  InstallNumbered(17);
  for (int i = 1; i <= 16; ++i) {
    int32_t e = 0;
    ASSERT_TRUE(cache.Acquire(Name(i), e));
  }
  int32_t e = 0;
  EXPECT_FALSE(cache.Acquire(Name(17), e));
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(NameAt(i), Name(i));
  // A library already in the table is still served.
  EXPECT_TRUE(cache.Acquire(Name(5), e));
  EXPECT_EQ(e, 5);
}

TEST_F(ExtCache, AMissingFileEvictsNothingFromAFullTable) {
  InstallNumbered(16);
  for (int i = 1; i <= 16; ++i) {
    int32_t e = 0;
    ASSERT_TRUE(cache.Acquire(Name(i), e));
    cache.Release(e);
  }
  int32_t e = 0;
  EXPECT_FALSE(cache.Acquire("MISSING.DLL", e));
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(NameAt(i), Name(i));
}

TEST_F(ExtCache, ReleaseStopsAtZero) {
  Install("UNLOADME.DLL", "A.DLL");
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("A.DLL", e));
  cache.Release(e);
  cache.Release(e);
  EXPECT_EQ(cache.Entry(e).InUse, 0);
  EXPECT_NE(cache.Entry(e).Handle, nullptr);
  cache.Release(0);
  cache.Release(17);
  cache.CountThread(-1);
  cache.CountThread(e);
  EXPECT_EQ(cache.Entry(e).Threads, 1);
}

TEST_F(ExtCache, InfoOfAFreeEntryIsFalseAndLeavesTheVariables) {
  Install("UNLOADME.DLL", "UNLOADME.DLL");
  std::string name = "keep";
  int32_t in_use = -5, hits = -6, threads = -7;
  EXPECT_FALSE(cache.GetInfo(1, name, 12, in_use, hits, threads));
  EXPECT_FALSE(cache.GetInfo(0, name, 12, in_use, hits, threads));
  EXPECT_FALSE(cache.GetInfo(17, name, 12, in_use, hits, threads));
  EXPECT_EQ(name, "keep");
  EXPECT_EQ(in_use, -5);
  EXPECT_EQ(hits, -6);
  EXPECT_EQ(threads, -7);
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("UNLOADME.DLL", e));
  ASSERT_TRUE(cache.GetInfo(e, name, 4, in_use, hits, threads));
  EXPECT_EQ(name, "UNLO");
  EXPECT_EQ(in_use, 1);
  EXPECT_EQ(hits, 1);
  EXPECT_EQ(threads, 0);
}

TEST_F(ExtCache, UnloadOfABusyLibraryWaitsForItsLastRelease) {
  Install("UNLOADME.DLL", "A.DLL");
  int32_t e = 0, e2 = 0;
  ASSERT_TRUE(cache.Acquire("A.DLL", e));
  ASSERT_TRUE(cache.Acquire("A.DLL", e2));
  cache.Unload(e);
  EXPECT_NE(cache.Entry(e).Handle, nullptr);
  EXPECT_TRUE(cache.Entry(e).UnloadPending);
  EXPECT_EQ(cache.Entry(e).InUse, 2);
  cache.Release(e);
  EXPECT_NE(cache.Entry(e).Handle, nullptr);
  cache.Release(e);
  EXPECT_EQ(cache.Entry(e).Handle, nullptr);
  EXPECT_EQ(cache.Find("A.DLL"), 0);
}

TEST_F(ExtCache, UnloadOfAnIdleLibraryFreesTheEntryAtOnce) {
  Install("UNLOADME.DLL", "A.DLL");
  Install("UNLOADME.DLL", "B.DLL");
  int32_t a = 0, b = 0;
  ASSERT_TRUE(cache.Acquire("A.DLL", a));
  ASSERT_TRUE(cache.Acquire("B.DLL", b));
  cache.Release(a);
  cache.Unload(a);
  EXPECT_EQ(cache.Entry(a).Handle, nullptr);
  EXPECT_EQ(cache.Entry(a).Name.size(), 0u);
  // The freed entry is the lowest free one and is taken next.
  Install("UNLOADME.DLL", "C.DLL");
  int32_t c = 0;
  ASSERT_TRUE(cache.Acquire("C.DLL", c));
  EXPECT_EQ(c, a);
}

TEST_F(ExtCache, UnloadAllKeepsOnlyBusyLibrariesUntilTheirRelease) {
  InstallNumbered(3);
  int32_t e[4] = {};
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(cache.Acquire(Name(i), e[i]));
  cache.Release(e[1]);
  cache.Release(e[3]);
  cache.UnloadAll();
  EXPECT_EQ(cache.Entry(1).Handle, nullptr);
  EXPECT_NE(cache.Entry(2).Handle, nullptr);
  EXPECT_EQ(cache.Entry(3).Handle, nullptr);
  cache.Release(e[2]);
  EXPECT_EQ(cache.Entry(2).Handle, nullptr);
}

TEST_F(ExtCache, FinishFindsALibraryWhoseEntryMovedDown) {
  InstallNumbered(17);
  for (int i = 1; i <= 16; ++i) {
    int32_t e = 0;
    ASSERT_TRUE(cache.Acquire(Name(i), e));
    if (i != 2) cache.Release(e);
  }
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire(Name(17), e));  // evicts L01; L02 moves to entry 1
  ASSERT_EQ(NameAt(1), Name(2));
  EXPECT_EQ(cache.Finish(Name(2), true, false), 1);
  EXPECT_EQ(cache.Entry(1).InUse, 0);
  EXPECT_EQ(cache.Entry(1).Threads, 1);
  EXPECT_EQ(cache.Entry(2).Threads, 0);
  EXPECT_EQ(cache.Finish("ABSENT.DLL", true, true), 0);
}

TEST_F(ExtCache, FinishWithUnloadWaitsForTheOtherUses) {
  Install("UNLOADME.DLL", "A.DLL");
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("A.DLL", e));
  ASSERT_TRUE(cache.Acquire("a.dll", e));
  EXPECT_EQ(cache.Finish("A.DLL", false, true), e);
  EXPECT_NE(cache.Entry(e).Handle, nullptr) << "the other call still runs in it";
  EXPECT_EQ(cache.Finish("A.DLL", false, false), e);
  EXPECT_EQ(cache.Entry(e).Handle, nullptr);
}

TEST_F(ExtCache, AcquireHandsOutTheEntryItCounted) {
  Install("POSTLOG.DLL", "POSTLOG.DLL");
  int32_t e = 0;
  TExtensionSlot found{};
  ASSERT_TRUE(cache.Acquire("postlog.dll", e, &found));
  EXPECT_EQ(found.Name.str(), "POSTLOG.DLL");
  EXPECT_EQ(found.InUse, 1);
  EXPECT_EQ(found.MakePage, nullptr);
  EXPECT_NE(found.PostBegin, nullptr);
}

TEST_F(ExtCache, ClearEmptiesTheTable) {
  Install("UNLOADME.DLL", "A.DLL");
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("A.DLL", e));
  cache.Release(e);
  cache.Unload(e);  // nothing is left loaded behind the cleared table
  ASSERT_TRUE(cache.Acquire("A.DLL", e));
  TExtensionSlot before = cache.Entry(e);
  cache.Clear();
  EXPECT_EQ(cache.Entry(e).Handle, nullptr);
  EXPECT_EQ(cache.Find("A.DLL"), 0);
  platform::FreeLibrary(before.Handle);  // the cleared entry's library is ours to drop
}

TEST_F(ExtCache, ConcurrentUseKeepsTheCountsExact) {
  InstallNumbered(20);
  std::atomic<int> acquired{0};
  auto worker = [&](int first) {
    for (int round = 0; round < 200; ++round) {
      int32_t e = 0;
      std::string name = Name(first + round % 10);
      if (cache.Acquire(name, e)) {
        ++acquired;
        EXPECT_NE(cache.Finish(name, false, false), 0);
      }
    }
  };
  std::thread t1(worker, 1), t2(worker, 11), t3(worker, 5);
  t1.join();
  t2.join();
  t3.join();
  int hits = 0;
  for (int i = 1; i <= kExtensionCacheSize; ++i) {
    TExtensionSlot s = cache.Entry(i);
    EXPECT_EQ(s.InUse, 0) << i;
    hits += s.Hits;
  }
  EXPECT_GT(acquired.load(), 0);
  EXPECT_LE(hits, acquired.load());
  cache.UnloadAll();
}

TEST(ExtCacheGlobal, FreeFunctionsUseTheProcessTable) {
  ClearExtensionCache();
  int32_t e = 0;
  EXPECT_FALSE(AcquireExtension("../X.DLL", e));
  EXPECT_EQ(FindExtension("X.DLL"), 0);
  EXPECT_EQ(ExtensionMakePage("X.DLL"), nullptr);
  std::string name;
  int32_t a = 0, b = 0, c = 0;
  EXPECT_FALSE(GetExtensionInfo(1, name, 12, a, b, c));
  UnloadAllExtensions();
}

}  // namespace
