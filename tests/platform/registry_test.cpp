#include "platform/registry.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "scratch_dir.h"

namespace platform {
namespace {

using testing::ReadText;
using testing::ScratchDir;

const char kServerKey[] = "\\Software\\Ortelune Software\\Halvorine";

// Points the registry at a scratch directory for one test.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("HALVORINE_REGISTRY");
    if (old) saved_ = old;
    ::setenv("HALVORINE_REGISTRY", root.c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("HALVORINE_REGISTRY", saved_->c_str(), 1);
    } else {
      ::unsetenv("HALVORINE_REGISTRY");
    }
  }

  ScratchDir scratch;
  std::string root = scratch / "registry";

 private:
  std::optional<std::string> saved_;
};

TEST(RegistryRootTest, EnvironmentChoosesTheRoot) {
  std::optional<std::string> reg, xdg, home;
  if (const char* v = std::getenv("HALVORINE_REGISTRY")) reg = v;
  if (const char* v = std::getenv("XDG_CONFIG_HOME")) xdg = v;
  if (const char* v = std::getenv("HOME")) home = v;

  ::setenv("HALVORINE_REGISTRY", "/tmp/some/where//", 1);
  EXPECT_EQ(RegistryRoot(), "/tmp/some/where");
  ::unsetenv("HALVORINE_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", "/x/config/", 1);
  EXPECT_EQ(RegistryRoot(), "/x/config/halvorine-registry");
  ::setenv("XDG_CONFIG_HOME", "", 1);
  ::setenv("HOME", "/home/user", 1);
  EXPECT_EQ(RegistryRoot(), "/home/user/.config/halvorine-registry");

  auto restore = [](const char* name, const std::optional<std::string>& v) {
    if (v) {
      ::setenv(name, v->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  };
  restore("HALVORINE_REGISTRY", reg);
  restore("XDG_CONFIG_HOME", xdg);
  restore("HOME", home);
}

TEST_F(RegistryTest, OpeningCreatesTheKeyUnderTheRoot) {
  std::optional<RegistryKey> key = RegistryKey::Open(kServerKey);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Directory(), root + "/Software/Ortelune Software/Halvorine");
  EXPECT_TRUE(IsDirectory(key->Directory()));
}

TEST_F(RegistryTest, OpeningWithoutCreateFindsOnlyExistingKeys) {
  EXPECT_FALSE(RegistryKey::Open(kServerKey, false));
  EXPECT_FALSE(IsDirectory(root));
  ASSERT_TRUE(RegistryKey::Open(kServerKey));
  std::optional<RegistryKey> key = RegistryKey::Open(kServerKey, false);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Directory(), root + "/Software/Ortelune Software/Halvorine");
}

TEST_F(RegistryTest, StringValuesRoundTripAndLandInOneFile) {
  std::optional<RegistryKey> key = RegistryKey::Open(kServerKey);
  ASSERT_TRUE(key);
  EXPECT_FALSE(key->ReadString("MessageHandle"));
  ASSERT_TRUE(key->WriteString("MessageHandle", "1234"));
  EXPECT_EQ(key->ReadString("MessageHandle").value_or("?"), "1234");
  EXPECT_EQ(ReadText(key->Directory() + "/MessageHandle"), "1234");
  // Rewriting replaces the file and leaves no temporary file behind.
  ASSERT_TRUE(key->WriteString("MessageHandle", "98765"));
  EXPECT_EQ(key->ReadString("MessageHandle").value_or("?"), "98765");
  EXPECT_EQ(testing::DirNames(key->Directory()), std::vector<std::string>{"MessageHandle"});
  // Another object on the same key sees it.
  EXPECT_EQ(RegistryKey::Open(kServerKey)->ReadString("messagehandle").value_or("?"), "98765");
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCaseAndKeepTheFirstSpelling) {
  std::optional<RegistryKey> a = RegistryKey::Open(kServerKey);
  std::optional<RegistryKey> b = RegistryKey::Open("\\SOFTWARE\\ortelune software\\HALVORINE");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Directory(), b->Directory());
  ASSERT_TRUE(a->WriteString("MessageHandle", "1"));
  ASSERT_TRUE(b->WriteString("MESSAGEHANDLE", "2"));
  EXPECT_EQ(a->ReadString("messageHANDLE").value_or("?"), "2");
  EXPECT_EQ(testing::DirNames(a->Directory()), std::vector<std::string>{"MessageHandle"});
  EXPECT_EQ(testing::DirNames(root), std::vector<std::string>{"Software"});
}

TEST_F(RegistryTest, SubKeyNamesAreSortedWithoutRegardToCaseAndExcludeValues) {
  std::optional<RegistryKey> realms = RegistryKey::Open(std::string(kServerKey) + "\\Realms");
  ASSERT_TRUE(realms);
  EXPECT_TRUE(realms->SubKeyNames().empty());
  for (const char* name : {"beta", "Alpha", "gamma", "ALPHA"}) {
    ASSERT_TRUE(RegistryKey::Open(std::string(kServerKey) + "\\Realms\\" + name));
  }
  ASSERT_TRUE(realms->WriteString("NotAKey", "x"));
  EXPECT_EQ(realms->SubKeyNames(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  EXPECT_EQ(RegistryKey::Open(kServerKey)->SubKeyNames(), std::vector<std::string>{"Realms"});
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue) {
  std::optional<RegistryKey> key = RegistryKey::Open(kServerKey);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->WriteString("One", "1"));
  ASSERT_TRUE(key->WriteString("Two", "2"));
  EXPECT_TRUE(key->DeleteValue("ONE"));
  EXPECT_FALSE(key->DeleteValue("One"));
  EXPECT_FALSE(key->ReadString("One"));
  EXPECT_EQ(key->ReadString("Two").value_or("?"), "2");
  ASSERT_TRUE(RegistryKey::Open(std::string(kServerKey) + "\\Sub"));
  EXPECT_FALSE(key->DeleteValue("Sub"));
  EXPECT_TRUE(IsDirectory(key->Directory() + "/Sub"));
}

TEST_F(RegistryTest, NamesThatAreNotPlainFileNamesStayInsideTheirKey) {
  std::optional<RegistryKey> key = RegistryKey::Open("\\Odd\\..\\.hidden\\a/b");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Directory(), root + "/Odd/%2E./%2Ehidden/a%2Fb");
  for (const char* name : {"", "..", "100%", "x/y", ".dot", "line\nbreak", "%2F"}) {
    ASSERT_TRUE(key->WriteString(name, std::string("v:") + name)) << name;
  }
  for (const char* name : {"", "..", "100%", "x/y", ".dot", "line\nbreak", "%2F"}) {
    EXPECT_EQ(key->ReadString(name).value_or("?"), std::string("v:") + name) << name;
  }
  EXPECT_EQ(testing::DirNames(key->Directory()).size(), 7u);
  EXPECT_EQ(testing::DirNames(root), std::vector<std::string>{"Odd"});
}

TEST_F(RegistryTest, EmptyPathIsTheRoot) {
  std::optional<RegistryKey> key = RegistryKey::Open("\\");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Directory(), root);
  ASSERT_TRUE(RegistryKey::Open("\\\\Software\\\\"));
  EXPECT_EQ(key->SubKeyNames(), std::vector<std::string>{"Software"});
}

TEST_F(RegistryTest, AValueCannotTakeTheNameOfASubKey) {
  std::optional<RegistryKey> key = RegistryKey::Open(kServerKey);
  ASSERT_TRUE(key);
  ASSERT_TRUE(RegistryKey::Open(std::string(kServerKey) + "\\Realms"));
  EXPECT_FALSE(key->WriteString("REALMS", "x"));
  EXPECT_FALSE(key->ReadString("Realms"));
  EXPECT_TRUE(IsDirectory(key->Directory() + "/Realms"));
}

TEST_F(RegistryTest, AKeyRemovedWhileOpenRefusesWrites) {
  std::optional<RegistryKey> key = RegistryKey::Open("\\Gone");
  ASSERT_TRUE(key);
  ASSERT_EQ(::rmdir(key->Directory().c_str()), 0);
  EXPECT_FALSE(key->WriteString("v", "1"));
  EXPECT_FALSE(key->ReadString("v"));
  EXPECT_TRUE(key->SubKeyNames().empty());
}

}  // namespace
}  // namespace platform
