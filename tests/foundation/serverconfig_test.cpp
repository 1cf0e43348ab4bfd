#include "foundation/serverconfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <unistd.h>
#include <string>

#include "foundation/settings.h"
#include "platform/files.h"

namespace {

TEST(ServerConfig, BothFilesLieBesideTheExecutable) {
  OpenConfigFiles();
  ASSERT_NE(ConfigIni, nullptr);
  ASSERT_NE(MimeIni, nullptr);
  EXPECT_EQ(ConfigIni->FileName(), platform::ProgramDirectory() + "KORRIDAN.INI");
  EXPECT_EQ(MimeIni->FileName(), platform::ProgramDirectory() + "MIME.INI");
  EXPECT_EQ(ProgramDir().back(), '/');
  platform::IniFile* before = ConfigIni;
  OpenConfigFiles();
  EXPECT_EQ(ConfigIni, before);
}

TEST(ServerConfig, MissingFileGivesEachReadersDefaultAndCreatesNothing) {
  char tmpl[] = "/tmp/halv-cfg-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string ini = std::string(tmpl) + "/KORRIDAN.INI";
  platform::IniFile f(ini);
  EXPECT_EQ(f.ReadInteger(settings::kNetwork, settings::kBacklog, settings::serverstart::kBacklog), 5);
  EXPECT_EQ(f.ReadInteger(settings::kNetwork, settings::kBacklog, settings::dialog::kBacklog), 25);
  EXPECT_TRUE(f.ReadBool(settings::kGeneral, settings::kStartServer, settings::mainwindow::kStartServer));
  EXPECT_EQ(f.ReadString(settings::kNetwork, settings::kAddress, settings::serverstart::kAddress), "");
  EXPECT_FALSE(platform::FileExists(ini));
  f.WriteString(settings::kNetwork, settings::kPort, "0x10");
  f.WriteString(settings::kGeneral, settings::kSplashScreen, "2");
  f.WriteString(settings::kGeneral, settings::kStartServer, "yes");
  EXPECT_EQ(f.ReadInteger(settings::kNetwork, settings::kPort, 80), 16);
  EXPECT_TRUE(f.ReadBool(settings::kGeneral, settings::kSplashScreen, false));
  EXPECT_FALSE(f.ReadBool(settings::kGeneral, settings::kStartServer, false));
  std::remove(ini.c_str());
  std::remove((ini + ".lock").c_str());
  rmdir(tmpl);
}

TEST(ServerConfig, MinIntAndPadLeft) {
  EXPECT_EQ(MinInt(3, -4), -4);
  EXPECT_EQ(MinInt(7, 7), 7);
  EXPECT_EQ(PadLeft("7", '0', 3), "007");
  EXPECT_EQ(PadLeft("12345", '0', 3), "12345");
}

TEST(ServerConfig, SecondsBetweenIgnoresDatesAndWraps) {
  using platform::EncodeDateTime;
  EXPECT_EQ(SecondsBetween(EncodeDateTime(2026, 1, 2, 0, 0, 10), EncodeDateTime(2026, 1, 1, 23, 59, 50)), 20);
  EXPECT_EQ(SecondsBetween(EncodeDateTime(2026, 1, 3, 0, 4, 1), EncodeDateTime(2026, 1, 2, 23, 59, 0)), 301);
  // A span of more than a day wraps; milliseconds are ignored.
  EXPECT_EQ(SecondsBetween(EncodeDateTime(2026, 1, 5, 10, 0, 1, 999), EncodeDateTime(2026, 1, 1, 10, 0, 0, 0)), 1);
}

TEST(ServerConfig, ToCStringCutsToTheBuffer) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  ToCString(buf, "abcdef", 4);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(buf[4], 'x');
  EXPECT_EQ(ToCStringRet(buf, "", 1), buf);
  EXPECT_STREQ(buf, "");
}

TEST(ServerConfig, TrimAtNulKeepsTheNulAsLastCharacter) {
  ShortString s;
  s.assign("");
  std::memset(s.data, 'a', sizeof s.data);
  s.data[4] = '\0';
  s.len = 0;
  TrimAtNul(s);
  EXPECT_EQ(s.size(), 5u);
  EXPECT_EQ(s.data[4], '\0');
  ShortString none;
  none.assign(std::string(255, 'b'));
  none.len = 10;
  TrimAtNul(none);
  EXPECT_EQ(none.size(), 10u);
}

TEST(ServerConfig, ShortFileExistsIsFalseForDirectoriesAndEmptyNames) {
  EXPECT_FALSE(ShortFileExists("/tmp"));
  EXPECT_FALSE(ShortFileExists(""));
  EXPECT_TRUE(ShortFileExists("/proc/self/exe"));
}

}  // namespace
