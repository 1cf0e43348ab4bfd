// This program links the allocation guard, so its own operator new and
// delete are the guard's.
#include "foundation/allocguard.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/datetime.h"

extern "C" char* GuardModuleNew(std::size_t size);
extern "C" void GuardModuleDelete(char* block);
extern "C" std::int64_t GuardModuleBytes();

namespace {

constexpr int kAttempts = 151;

// Keeps the optimiser from leaving out an allocation whose block is unused.
void Escape(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

class AllocGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-guard-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("HALVORINE_REGISTRY", (dir_ + "/registry").c_str(), 1);
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    SetAllocationRetryDelay(std::chrono::milliseconds(0));
    SetAllocationContext("");
    FailNextAllocations(0);
    platform::SetNow(platform::EncodeDateTime(2024, 3, 5, 14, 7, 9));
  }
  void TearDown() override {
    FailNextAllocations(0);
    SetAllocationContext("");
    SetAllocationRetryDelay(std::chrono::milliseconds(100));
    platform::ResetClock();
    std::filesystem::current_path(old_cwd_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    unsetenv("HALVORINE_REGISTRY");
  }
  static std::string Log() {
    std::ifstream in("malloc.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
  std::filesystem::path old_cwd_;
};

// --- counting ---------------------------------------------------------------

TEST_F(AllocGuardTest, CountMovesByTheBlocksRealSize) {
  for (std::size_t size : {1u, 13u, 100u, 4000u}) {
    std::int64_t before = AllocatedBytes();
    void* p = GuardedGetMem(size);
    std::int64_t during = AllocatedBytes();
    std::size_t real = malloc_usable_size(p);
    int freed = GuardedFreeMem(p);
    std::int64_t after = AllocatedBytes();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(during - before, static_cast<std::int64_t>(real)) << size;
    EXPECT_GE(real, size);
    EXPECT_EQ(freed, 0);
    EXPECT_EQ(after, before) << size;
  }
#ifndef __SANITIZE_ADDRESS__
  // The system's block is bigger than one byte, and that is what counts.
  std::int64_t before = AllocatedBytes();
  void* p = GuardedGetMem(1);
  std::int64_t delta = AllocatedBytes() - before;
  GuardedFreeMem(p);
  EXPECT_GT(delta, 1);
#endif
}

TEST_F(AllocGuardTest, OperatorNewAndDeleteGoThroughTheGuard) {
  std::int64_t before = AllocatedBytes();
  auto* p = new char[300];
  std::int64_t during = AllocatedBytes();
  std::size_t real = malloc_usable_size(p);
  delete[] p;
  std::int64_t after = AllocatedBytes();
  EXPECT_EQ(during - before, static_cast<std::int64_t>(real));
  EXPECT_EQ(after, before);

  struct alignas(64) Wide {
    char bytes[64];
  };
  before = AllocatedBytes();
  auto* w = new Wide;
  bool aligned = reinterpret_cast<std::uintptr_t>(w) % 64 == 0;
  during = AllocatedBytes();
  real = malloc_usable_size(w);
  delete w;
  EXPECT_TRUE(aligned);
  EXPECT_EQ(during - before, static_cast<std::int64_t>(real));
  EXPECT_EQ(AllocatedBytes(), before);
}

TEST_F(AllocGuardTest, FreeOfNullSucceeds) {
  std::int64_t before = AllocatedBytes();
  EXPECT_EQ(GuardedFreeMem(nullptr), 0);
  EXPECT_EQ(AllocatedBytes(), before);
}

TEST_F(AllocGuardTest, CountStaysRightUnderThreads) {
  std::int64_t before = AllocatedBytes();
  {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([t] {
        for (int i = 0; i < 5000; ++i) {
          std::vector<char> v(static_cast<std::size_t>((i * 37 + t) % 500 + 1));
          std::string s(static_cast<std::size_t>(i % 64 + 20), 'x');
          Escape(v.data());
          Escape(s.data());
        }
      });
    for (auto& th : threads) th.join();
  }
  EXPECT_EQ(AllocatedBytes(), before);
}

TEST_F(AllocGuardTest, EachModuleCountsItsOwnBlocks) {
  std::int64_t program_before = AllocatedBytes();
  std::int64_t module_before = GuardModuleBytes();
  char* m = GuardModuleNew(1000);
  std::int64_t program_mid = AllocatedBytes();
  std::int64_t module_mid = GuardModuleBytes();
  std::size_t real = malloc_usable_size(m);
  GuardModuleDelete(m);
  EXPECT_EQ(module_mid - module_before, static_cast<std::int64_t>(real));
  EXPECT_EQ(program_mid, program_before);
  EXPECT_EQ(GuardModuleBytes(), module_before);

  module_before = GuardModuleBytes();
  char* p = new char[1000];
  Escape(p);
  std::int64_t module_after = GuardModuleBytes();
  delete[] p;
  EXPECT_EQ(module_after, module_before);
}

// --- failures and malloc.log --------------------------------------------------

TEST_F(AllocGuardTest, FailureAfter151AttemptsWritesOneLine) {
  SetAllocationContext("Halvorine");
  std::int64_t before = AllocatedBytes();
  FailNextAllocations(kAttempts);
  void* p = GuardedGetMem(64);
  int left = FailNextAllocations(0);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(AllocatedBytes(), before);
  EXPECT_EQ(Log(), "2024-03-05 14:07:09 Halvorine: allocation failed\r\n");

  FailNextAllocations(kAttempts);
  p = GuardedGetMem(64);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(Log(),
            "2024-03-05 14:07:09 Halvorine: allocation failed\r\n"
            "2024-03-05 14:07:09 Halvorine: allocation failed\r\n");
}

TEST_F(AllocGuardTest, ExactlyOneHundredFiftyOneAttempts) {
  SetAllocationContext("Halvorine");
  FailNextAllocations(200);
  void* p = GuardedGetMem(64);
  int left = FailNextAllocations(0);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(left, 200 - kAttempts);
}

TEST_F(AllocGuardTest, SuccessOnTheLastAttemptWritesNothing) {
  SetAllocationContext("Halvorine");
  FailNextAllocations(kAttempts - 1);
  void* p = GuardedGetMem(64);
  ASSERT_NE(p, nullptr);
  GuardedFreeMem(p);
  EXPECT_FALSE(std::filesystem::exists("malloc.log"));
}

TEST_F(AllocGuardTest, EmptyContextWritesNoFile) {
  FailNextAllocations(kAttempts);
  void* p = GuardedGetMem(64);
  EXPECT_EQ(p, nullptr);
  LogAllocationProblem();
  EXPECT_FALSE(std::filesystem::exists("malloc.log"));
}

TEST_F(AllocGuardTest, ContextIsCutTo32Characters) {
  SetAllocationContext("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
  LogAllocationProblem();
  EXPECT_EQ(Log(), "2024-03-05 14:07:09 ABCDEFGHIJKLMNOPQRSTUVWXYZ012345: allocation failed\r\n");
}

TEST_F(AllocGuardTest, LogGoesToTheCurrentDirectory) {
  std::filesystem::create_directory("sub");
  std::filesystem::current_path("sub");
  SetAllocationContext("Tandrel");
  LogAllocationProblem();
  std::filesystem::current_path(dir_);
  EXPECT_FALSE(std::filesystem::exists("malloc.log"));
  std::ifstream in("sub/malloc.log", std::ios::binary);
  std::string line(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(line, "2024-03-05 14:07:09 Tandrel: allocation failed\r\n");
}

TEST_F(AllocGuardTest, UnwritableLogIsGivenUpSilently) {
  SetAllocationContext("Halvorine");
  ASSERT_EQ(mkdir("malloc.log", 0755), 0);  // cannot be opened as a file
  FailNextAllocations(kAttempts);
  void* p = GuardedGetMem(64);
  EXPECT_EQ(p, nullptr);
  EXPECT_TRUE(std::filesystem::is_directory("malloc.log"));
  // The logger is not left blocked.
  ASSERT_EQ(rmdir("malloc.log"), 0);
  LogAllocationProblem();
  EXPECT_EQ(Log(), "2024-03-05 14:07:09 Halvorine: allocation failed\r\n");
}

TEST_F(AllocGuardTest, OperatorNewThrowsAndNothrowNewGivesNull) {
  SetAllocationContext("Halvorine");
  bool threw = false;
  FailNextAllocations(kAttempts);
  try {
    char* p = new char[10];
    Escape(p);
    delete[] p;
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  EXPECT_TRUE(threw);
  FailNextAllocations(kAttempts);
  char* q = new (std::nothrow) char[10];
  Escape(q);
  EXPECT_EQ(q, nullptr);
  delete[] q;
  EXPECT_EQ(Log(),
            "2024-03-05 14:07:09 Halvorine: allocation failed\r\n"
            "2024-03-05 14:07:09 Halvorine: allocation failed\r\n");
}

TEST_F(AllocGuardTest, OperatorNewAsksTheNewHandlerBeforeGivingUp) {
  static int calls = 0;
  calls = 0;
  std::new_handler old = std::set_new_handler([] {
    ++calls;
    FailNextAllocations(0);  // "memory was freed"
  });
  FailNextAllocations(1000);
  char* p = new char[10];
  Escape(p);
  std::set_new_handler(old);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(calls, 1);
  delete[] p;
}

// --- resizing -------------------------------------------------------------------

TEST_F(AllocGuardTest, ResizingSmallerCopiesTheNewSize) {
  auto* old = static_cast<unsigned char*>(GuardedGetMem(64));
  for (int i = 0; i < 64; ++i) old[i] = static_cast<unsigned char>(i + 1);
  std::int64_t before = AllocatedBytes();
  std::size_t old_real = malloc_usable_size(old);
  auto* fresh = static_cast<unsigned char*>(GuardedReallocMem(old, 16));
  ASSERT_NE(fresh, nullptr);
  std::size_t new_real = malloc_usable_size(fresh);
  EXPECT_EQ(AllocatedBytes() - before, static_cast<std::int64_t>(new_real) - static_cast<std::int64_t>(old_real));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(fresh[i], i + 1) << i;
  GuardedFreeMem(fresh);
}

TEST_F(AllocGuardTest, ResizingLargerCopiesTheWholeOldBlock) {
  auto* old = static_cast<unsigned char*>(GuardedGetMem(20));
  std::size_t old_real = malloc_usable_size(old);
  for (std::size_t i = 0; i < old_real; ++i) old[i] = static_cast<unsigned char>(0xA0 + i % 16);
  auto* fresh = static_cast<unsigned char*>(GuardedReallocMem(old, 1000));
  ASSERT_NE(fresh, nullptr);
  EXPECT_GE(malloc_usable_size(fresh), 1000u);
  for (std::size_t i = 0; i < old_real; ++i) EXPECT_EQ(fresh[i], 0xA0 + i % 16) << i;
  GuardedFreeMem(fresh);
}

TEST_F(AllocGuardTest, FailedResizeKeepsTheOldBlock) {
  SetAllocationContext("Halvorine");
  auto* old = static_cast<char*>(GuardedGetMem(32));
  std::memcpy(old, "still here", 11);
  std::int64_t before = AllocatedBytes();
  FailNextAllocations(kAttempts);
  void* fresh = GuardedReallocMem(old, 4096);
  EXPECT_EQ(fresh, nullptr);
  EXPECT_EQ(AllocatedBytes(), before);
  EXPECT_STREQ(old, "still here");  // not freed: the sanitizer build would catch the use
  EXPECT_EQ(Log(), "2024-03-05 14:07:09 Halvorine: allocation failed\r\n");
  GuardedFreeMem(old);
}

TEST_F(AllocGuardTest, ResizingNullGetsANewBlock) {
  void* p = GuardedReallocMem(nullptr, 50);
  ASSERT_NE(p, nullptr);
  EXPECT_GE(malloc_usable_size(p), 50u);
  GuardedFreeMem(p);
}

}  // namespace
