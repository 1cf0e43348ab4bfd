#include "foundation/realmlist.h"

#include <filesystem>

#include "platform/registry.h"
#include "testdirs.h"

namespace {

constexpr char kRealms[] = "\\Software\\Ortelune Software\\Halvorine\\Realms";

using RealmListTest = TempDirTest;

TEST_F(RealmListTest, AbsentKeyIsCreatedAndGivesAnEmptyList) {
  RealmListInit();
  EXPECT_TRUE(RealmList().empty());
  EXPECT_TRUE(platform::RegistryKey::Open(kRealms, false));
  FreeRealmList();
}

TEST_F(RealmListTest, SubKeysAreListedSortedWithoutRegardToCase) {
  for (const char* name : {"beta", "Alpha", "GAMMA"})
    ASSERT_TRUE(platform::RegistryKey::Open(std::string(kRealms) + "\\" + name, true));
  RealmListInit();
  EXPECT_EQ(RealmList(), (std::vector<std::string>{"Alpha", "beta", "GAMMA"}));
  // A reload sees the key as it is now.
  ASSERT_TRUE(platform::RegistryKey::Open(std::string(kRealms) + "\\Delta", true));
  LoadRealmList();
  EXPECT_EQ(RealmList(), (std::vector<std::string>{"Alpha", "beta", "Delta", "GAMMA"}));
  FreeRealmList();
  EXPECT_TRUE(RealmList().empty());
}

}  // namespace
