// File resolution in process: joining, the URL checks, aliases, index
// documents, the HTML retry and full paths.
#include "server/fileresolve.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "foundation/serverconfig.h"
#include "platform/files.h"

namespace {

TEST(JoinPathTest, AppendsOrPutsOneSlashBetween) {
  EXPECT_EQ(JoinPath("/web/", "a.htm"), "/web/a.htm");
  EXPECT_EQ(JoinPath("/web", "a.htm"), "/web/a.htm");
  EXPECT_EQ(JoinPath("C:\\WEB\\", "a.htm"), "C:\\WEB\\a.htm");
  EXPECT_EQ(JoinPath("", "a.htm"), "/a.htm");
  // Concatenation only: an absolute name never replaces the directory.
  EXPECT_EQ(JoinPath("/web", "/etc/passwd"), "/web//etc/passwd");
}

TEST(UrlIsUnsafeTest, DotDotSegmentsAndControlCharacters) {
  struct Case {
    std::string url;
    bool unsafe;
  } cases[] = {
      {"", false},          {"a/b.htm", false},     {"..", true},          {"../x", true},
      {"a/../b", true},     {"a\\..\\b", true},     {"a/..", true},        {"a/..\\", true},
      {"..a", false},       {"a..", false},         {"a/.../b", false},    {"./a", false},
      {"a.htm?x=..", false}, {std::string("a\0b", 3), true}, {"a\x01", true}, {"a\x1f", true},
      {"a\x7f", true},      {"a\tb", true},         {"\xe9t\xe9", false},  {"a b", false},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlIsUnsafe(c.url), c.unsafe) << c.url;
}

TEST(UrlNeedsLoginTest, FirstSegmentAfterLeadingSeparators) {
  EXPECT_TRUE(UrlNeedsLogin("&private/a.htm"));
  EXPECT_TRUE(UrlNeedsLogin("/&private/a.htm"));
  EXPECT_TRUE(UrlNeedsLogin("\\/\\&x"));
  // Segments the file system passes over do not hide the first one.
  for (const char* url : {"./&club/c.txt", "/./&club/c.txt", ".//./&club", ".\\&club", "././.\\&"})
    EXPECT_TRUE(UrlNeedsLogin(url)) << url;
  EXPECT_FALSE(UrlNeedsLogin("./."));
  EXPECT_FALSE(UrlNeedsLogin("../&x")) << "\"..\" is refused on its own";
  EXPECT_FALSE(UrlNeedsLogin(".&x"));
  EXPECT_TRUE(UrlNeedsLogin("&"));
  EXPECT_FALSE(UrlNeedsLogin("a/&private"));
  EXPECT_FALSE(UrlNeedsLogin(""));
  EXPECT_FALSE(UrlNeedsLogin("//"));
  EXPECT_FALSE(UrlNeedsLogin("$&x"));
}

TEST(FullPathTest, AbsoluteWithDotsTakenBack) {
  EXPECT_EQ(FullPath("/a/b/c.htm"), "/a/b/c.htm");
  EXPECT_EQ(FullPath("/a/./b/../c.htm"), "/a/c.htm");
  EXPECT_EQ(FullPath("/../a"), "/a");
  EXPECT_EQ(FullPath("/a/b/"), "/a/b/");
  EXPECT_EQ(FullPath("/"), "/");
  EXPECT_EQ(FullPath("rel/x.htm"), FullPath(platform::GetCurrentDir() + "/rel/x.htm"));
  EXPECT_EQ(FullPath("rel/x.htm").front(), '/');
}

TEST(IsRegularFileTest, OnlyRegularFiles) {
  EXPECT_FALSE(IsRegularFile("/"));
  EXPECT_FALSE(IsRegularFile("/dev/null"));
  EXPECT_FALSE(IsRegularFile(""));
  EXPECT_FALSE(IsRegularFile("/no/such/file"));
}

// A home directory, an alias and the settings file that names it.
class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-resolve-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    home_ = root_ + "/web/";
    Write(home_ + "index.html");
    Write(home_ + "page.html");
    Write(home_ + "plain.htm");
    Write(home_ + "a/b/c.txt");
    Write(home_ + "htm/index.htm");
    Write(root_ + "/images/a.gif");
    Write(root_ + "/images/index.html");
    std::filesystem::create_directories(home_ + "empty");
    saved_ = ConfigIni;
    ini_ = std::make_unique<platform::IniFile>(root_ + "/KORRIDAN.INI");
    std::ofstream(root_ + "/KORRIDAN.INI") << "[Aliases]\r\nPICS=" << root_ << "/images/\r\nNODIR=" << root_
                                           << "/gone\r\nEMPTY=\r\n";
    ConfigIni = ini_.get();
  }
  void TearDown() override {
    ConfigIni = saved_;
    std::filesystem::remove_all(root_);
  }
  static void Write(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "x";
  }
  std::string root_, home_;
  platform::IniFile* saved_ = nullptr;
  std::unique_ptr<platform::IniFile> ini_;
};

TEST_F(ResolveTest, RootGivesTheIndexDocument) {
  TFileResolution r = ResolveFileName(home_, "");
  EXPECT_EQ(r.FileName, home_ + "index.html");
  EXPECT_EQ(r.Request, "index.html");
  r = ResolveFileName(home_, "htm/");
  EXPECT_EQ(r.FileName, home_ + "htm/index.htm");
  EXPECT_EQ(r.Request, "index.htm");
  // A directory named without its "/" is the same.
  r = ResolveFileName(home_, "htm");
  EXPECT_EQ(r.FileName, home_ + "htm/index.htm");
}

TEST_F(ResolveTest, DirectoryWithoutIndexNamesAMissingIndexHtm) {
  // index.html is absent; the retry of ".html" names index.htm, also absent.
  TFileResolution r = ResolveFileName(home_, "empty/");
  EXPECT_EQ(r.Requested, home_ + "empty/index.html");
  EXPECT_EQ(r.FileName, home_ + "empty/index.htm");
  EXPECT_EQ(r.Request, "index.html");
}

TEST_F(ResolveTest, NestedFileAndSeparatorsNormalised) {
  EXPECT_EQ(ResolveFileName(home_, "a/b/c.txt").FileName, home_ + "a/b/c.txt");
  EXPECT_EQ(ResolveFileName(home_, "a\\b\\c.txt").FileName, home_ + "a/b/c.txt");
  EXPECT_EQ(ResolveFileName(home_, "a//b/c.txt").FileName, home_ + "a/b/c.txt");
  EXPECT_EQ(ResolveFileName(root_ + "//web\\", "a/b/c.txt").FileName, home_ + "a/b/c.txt");
}

TEST_F(ResolveTest, HtmlRetryKeepsTheRequestText) {
  TFileResolution r = ResolveFileName(home_, "page.htm");
  EXPECT_EQ(r.FileName, home_ + "page.html");
  EXPECT_EQ(r.Request, "page.htm");
  r = ResolveFileName(home_, "plain.HTML");
  EXPECT_EQ(r.FileName, home_ + "plain.HTM");  // looked up as named: not found
  r = ResolveFileName(home_, "plain.html");
  EXPECT_EQ(r.FileName, home_ + "plain.htm");
  r = ResolveFileName(home_, "missing.txt");
  EXPECT_EQ(r.FileName, home_ + "missing.txt");
}

TEST_F(ResolveTest, AliasTakesItsDirectory) {
  TFileResolution r = ResolveFileName(home_, "pics/a.gif");
  EXPECT_EQ(r.FileName, root_ + "/images/a.gif");
  EXPECT_EQ(r.Request, "a.gif");
  r = ResolveFileName(home_, "Pics");
  EXPECT_EQ(r.FileName, root_ + "/images/index.html");
  // An alias to a missing directory gives a name that does not exist.
  r = ResolveFileName(home_, "nodir/x.txt");
  EXPECT_EQ(r.FileName, root_ + "/gone/x.txt");
  // An empty value is no alias.
  EXPECT_EQ(ResolveFileName(home_, "empty/").FileName, home_ + "empty/index.htm");
}

TEST_F(ResolveTest, ResolveAliasRemovesASlashButNotABackslash) {
  std::string dir;
  ShortString rest("pics/a.gif");
  EXPECT_TRUE(ResolveAlias(1, rest, dir));
  EXPECT_EQ(rest.str(), "a.gif");
  EXPECT_EQ(dir, root_ + "/images/");
  rest = "PICS\\a.gif";
  EXPECT_TRUE(ResolveAlias(1, rest, dir));
  EXPECT_EQ(rest.str(), "\\a.gif");
  rest = "pics";
  EXPECT_TRUE(ResolveAlias(1, rest, dir));
  EXPECT_EQ(rest.str(), "");
  rest = "/pics";
  EXPECT_FALSE(ResolveAlias(1, rest, dir));
  EXPECT_EQ(dir, "");
  rest = "picsx/a";
  EXPECT_FALSE(ResolveAlias(1, rest, dir));
  EXPECT_EQ(rest.str(), "picsx/a");
}

TEST_F(ResolveTest, NameLongerThan255IsNotLookedUp) {
  std::string name(250, 'n');
  TFileResolution r = ResolveFileName(home_, name);
  EXPECT_TRUE(r.TooLong);
  r = ResolveFileName(home_, "page.htm");
  EXPECT_FALSE(r.TooLong);
}

}  // namespace
