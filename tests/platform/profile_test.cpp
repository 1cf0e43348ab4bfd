#include "platform/profile.h"
#include "platform/msgloop.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace platform {
namespace {

using testing::ReadText;
using testing::ScratchDir;
using testing::WriteText;
using Pairs = std::vector<std::pair<std::string, std::string>>;

using testing::DirNames;

class IniFileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir / "KORRIDAN.INI";
  IniFile ini{path};
};

// ---- Reading ----

TEST_F(IniFileTest, MissingFileGivesDefaultsAndCreatesNothing) {
  EXPECT_EQ(ini.ReadString("Network", "Address", "none"), "none");
  EXPECT_EQ(ini.ReadInteger("Network", "Port", 80), 80);
  EXPECT_TRUE(ini.ReadBool("General", "StartServer", true));
  EXPECT_TRUE(ini.ReadSectionValues("Aliases").empty());
  EXPECT_TRUE(ini.ReadSections().empty());
  ini.EraseSection("Aliases");
  EXPECT_TRUE(DirNames(dir.path()).empty());
}

TEST_F(IniFileTest, SectionsAndKeysIgnoreCase) {
  WriteText(path, "[Network]\nAddress=127.0.0.1\n");
  EXPECT_EQ(ini.ReadString("NETWORK", "address", ""), "127.0.0.1");
  EXPECT_EQ(ini.ReadString("network", "ADDRESS", ""), "127.0.0.1");
  EXPECT_EQ(ini.ReadString("Networks", "Address", "x"), "x");
}

TEST_F(IniFileTest, BlanksAroundNamesAndValuesAreTrimmed) {
  WriteText(path, "  [ Directories ]  \n\t HomeDir \t=  /srv/www  \t\n");
  EXPECT_EQ(ini.ReadString("Directories", "HomeDir", ""), "/srv/www");
  EXPECT_EQ(ini.ReadString(" Directories ", " HomeDir ", ""), "/srv/www");
}

TEST_F(IniFileTest, OnePairOfSurroundingQuotesIsStripped) {
  WriteText(path,
            "[S]\n"
            "double=\" spaced value \"\n"
            "single='x'\n"
            "nested=\"\"inner\"\"\n"
            "mismatched=\"abc'\n"
            "lone=\"\n"
            "inside=a\"b\"\n"
            "empty=\"\"\n");
  EXPECT_EQ(ini.ReadString("S", "double", ""), " spaced value ");
  EXPECT_EQ(ini.ReadString("S", "single", ""), "x");
  EXPECT_EQ(ini.ReadString("S", "nested", ""), "\"inner\"");
  EXPECT_EQ(ini.ReadString("S", "mismatched", ""), "\"abc'");
  EXPECT_EQ(ini.ReadString("S", "lone", ""), "\"");
  EXPECT_EQ(ini.ReadString("S", "inside", ""), "a\"b\"");
  EXPECT_EQ(ini.ReadString("S", "empty", "default"), "");
}

TEST_F(IniFileTest, FirstDuplicateKeyAndFirstDuplicateSectionWin) {
  WriteText(path,
            "[Aliases]\nDOCS=/first\ndocs=/second\nONLY2=\n"
            "[aliases]\nDOCS=/third\nONLY2=/later\nEXTRA=/extra\n");
  EXPECT_EQ(ini.ReadString("Aliases", "Docs", ""), "/first");
  // Keys of a later section of the same name are not seen.
  EXPECT_EQ(ini.ReadString("Aliases", "EXTRA", "none"), "none");
  EXPECT_EQ(ini.ReadString("Aliases", "ONLY2", "none"), "");
  EXPECT_EQ(ini.ReadSectionValues("ALIASES"), (Pairs{{"DOCS", "/first"}}));
  EXPECT_EQ(ini.ReadSection("aliases"), (std::vector<std::string>{"DOCS", "ONLY2"}));
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Aliases"}));
}

TEST_F(IniFileTest, CommentsAndStrayLinesAreIgnored) {
  WriteText(path,
            "Orphan=before any section\n"
            "[General]\n"
            "; Tab=3\n"
            "   ;WindowX=9\n"
            "just words\n"
            "=no name\n"
            "Tab=1\n");
  EXPECT_EQ(ini.ReadInteger("General", "Tab", 0), 1);
  EXPECT_EQ(ini.ReadInteger("General", "WindowX", 5), 5);
  EXPECT_EQ(ini.ReadString("General", "; Tab", "d"), "d");
  EXPECT_EQ(ini.ReadString("General", "just words", "d"), "d");
  EXPECT_EQ(ini.ReadString("General", "", "d"), "d");
  EXPECT_EQ(ini.ReadString("", "Orphan", "d"), "d");
  EXPECT_EQ(ini.ReadSectionValues("General"), (Pairs{{"Tab", "1"}}));
}

TEST_F(IniFileTest, ReadsLfAndCrLfFilesAlike) {
  WriteText(path, "[A]\r\nx=1\r\ny=two\r\n[B]\nz=3\nlast=no line end");
  EXPECT_EQ(ini.ReadString("A", "y", ""), "two");
  EXPECT_EQ(ini.ReadInteger("A", "x", 0), 1);
  EXPECT_EQ(ini.ReadInteger("B", "z", 0), 3);
  EXPECT_EQ(ini.ReadString("B", "last", ""), "no line end");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B"}));
}

TEST_F(IniFileTest, ValuesAreCutTo1023Characters) {
  std::string long_value(1500, 'v');
  WriteText(path, "[S]\nk=" + long_value + "\n");
  EXPECT_EQ(ini.ReadString("S", "k", "").size(), 1023u);
  EXPECT_EQ(ini.ReadSectionValues("S").at(0).second.size(), 1023u);
  EXPECT_EQ(ini.ReadString("S", "missing", std::string(2000, 'd')).size(), 1023u);
}

TEST_F(IniFileTest, SectionValuesSplitAtFirstEqualsAndSkipEmptyValues) {
  WriteText(path,
            "[MimeTypes]\n"
            "htm=text/html\n"
            "xyz=\n"
            "odd=a=b=c\n"
            "blank=   \n"
            "quoted=\"\"\n"
            "gif = image/gif\n");
  EXPECT_EQ(ini.ReadSectionValues("mimetypes"), (Pairs{{"htm", "text/html"}, {"odd", "a=b=c"}, {"gif", "image/gif"}}));
  EXPECT_EQ(ini.ReadSection("MimeTypes"), (std::vector<std::string>{"htm", "xyz", "odd", "blank", "quoted", "gif"}));
  // A single key with an empty value still reads as empty, not as the default.
  EXPECT_EQ(ini.ReadString("MimeTypes", "xyz", "application/unknown"), "");
}

TEST_F(IniFileTest, IntegersDecimalAndHexadecimal) {
  WriteText(path,
            "[N]\n"
            "dec=42\nneg=-17\nplus=+7\nhex=0x10\nHEX=0X1f\nallbits=0xFFFFFFFF\nmax=2147483647\nmin=-2147483648\n"
            "quoted=\"12\"\nspaced=  99  \n");
  EXPECT_EQ(ini.ReadInteger("N", "dec", 0), 42);
  EXPECT_EQ(ini.ReadInteger("N", "neg", 0), -17);
  EXPECT_EQ(ini.ReadInteger("N", "plus", 0), 7);
  EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 16);
  // Key "HEX" matches "hex" first: the first duplicate wins.
  EXPECT_EQ(ini.ReadInteger("N", "HEX", 0), 16);
  EXPECT_EQ(ini.ReadInteger("N", "allbits", 0), -1);
  EXPECT_EQ(ini.ReadInteger("N", "max", 0), 2147483647);
  EXPECT_EQ(ini.ReadInteger("N", "min", 0), INT32_MIN);
  EXPECT_EQ(ini.ReadInteger("N", "quoted", 0), 12);
  EXPECT_EQ(ini.ReadInteger("N", "spaced", 0), 99);
}

TEST_F(IniFileTest, UpperCaseHexPrefix) {
  WriteText(path, "[N]\nv=0X1f\n");
  EXPECT_EQ(ini.ReadInteger("N", "v", 0), 31);
}

TEST_F(IniFileTest, NotANumberGivesTheDefault) {
  const char* bad[] = {"12abc", "abc", "1.5", "", "0x", "0xG1", "-0x10", "- 5", "+", "1e3", "2147483648",
                       "-2147483649", "0x100000000", "99999999999999999999"};
  std::string text = "[N]\n";
  for (size_t i = 0; i < std::size(bad); ++i) text += "k" + std::to_string(i) + "=" + bad[i] + "\n";
  WriteText(path, text);
  for (size_t i = 0; i < std::size(bad); ++i) {
    EXPECT_EQ(ini.ReadInteger("N", "k" + std::to_string(i), -99), -99) << "value \"" << bad[i] << "\"";
  }
}

TEST_F(IniFileTest, BooleansAreIntegersAnyNonZeroTrue) {
  WriteText(path, "[Log]\ntwo=2\nzero=0\none=1\nword=yes\nminus=-1\nhex=0x0\n");
  EXPECT_TRUE(ini.ReadBool("Log", "two", false));
  EXPECT_FALSE(ini.ReadBool("Log", "zero", true));
  EXPECT_TRUE(ini.ReadBool("Log", "one", false));
  EXPECT_TRUE(ini.ReadBool("Log", "minus", false));
  EXPECT_FALSE(ini.ReadBool("Log", "hex", true));
  EXPECT_TRUE(ini.ReadBool("Log", "word", true));
  EXPECT_FALSE(ini.ReadBool("Log", "word", false));
  EXPECT_TRUE(ini.ReadBool("Log", "missing", true));
}

TEST_F(IniFileTest, EveryReadSeesTheFileAsItIsNow) {
  WriteText(path, "[Network]\nPort=80\n");
  EXPECT_EQ(ini.ReadInteger("Network", "Port", 0), 80);
  WriteText(path, "[Network]\nPort=81\n");  // same size, rewritten in place
  EXPECT_EQ(ini.ReadInteger("Network", "Port", 0), 81);
  IniFile other(path);
  other.WriteInteger("Network", "Port", 8080);
  EXPECT_EQ(ini.ReadInteger("Network", "Port", 0), 8080);
}

// ---- Writing ----

TEST_F(IniFileTest, WriteCreatesFileAndSectionWithCrLf) {
  ini.WriteString("Network", "Address", "10.0.0.1");
  EXPECT_EQ(ReadText(path), "[Network]\r\nAddress=10.0.0.1\r\n");
  ini.WriteInteger("Network", "Port", -5);
  ini.WriteBool("Log", "DoAccess", true);
  ini.WriteBool("Log", "Local", false);
  EXPECT_EQ(ReadText(path),
            "[Network]\r\nAddress=10.0.0.1\r\nPort=-5\r\n"
            "\r\n[Log]\r\nDoAccess=1\r\nLocal=0\r\n");
  EXPECT_EQ(ini.ReadInteger("network", "port", 0), -5);
  EXPECT_TRUE(ini.ReadBool("LOG", "doaccess", false));
  EXPECT_FALSE(ini.ReadBool("LOG", "local", true));
}

TEST_F(IniFileTest, WriteChangesOneKeyAndKeepsEveryOtherLine) {
  WriteText(path,
            "; settings of the server\n"
            "[General]\n"
            "Tab=0\n"
            "   WindowX = 5   ; not a comment\n"
            "\n"
            "; network\n"
            "[Network]\n"
            "  Address   =   127.0.0.1\n"
            "Port=80\n");
  ini.WriteString("network", "ADDRESS", "192.168.1.2");
  EXPECT_EQ(ReadText(path),
            "; settings of the server\r\n"
            "[General]\r\n"
            "Tab=0\r\n"
            "   WindowX = 5   ; not a comment\r\n"
            "\r\n"
            "; network\r\n"
            "[Network]\r\n"
            "  Address   =   192.168.1.2\r\n"
            "Port=80\r\n");
  EXPECT_EQ(ini.ReadString("Network", "Address", ""), "192.168.1.2");
}

TEST_F(IniFileTest, NewKeyGoesAfterTheLastLineOfItsSection) {
  WriteText(path, "[General]\r\nTab=0\r\n; end of general\r\n\r\n[Network]\r\nPort=80\r\n");
  ini.WriteInteger("General", "WindowY", 7);
  ini.WriteInteger("Network", "Backlog", 25);
  EXPECT_EQ(ReadText(path),
            "[General]\r\nTab=0\r\n; end of general\r\nWindowY=7\r\n\r\n"
            "[Network]\r\nPort=80\r\nBacklog=25\r\n");
}

TEST_F(IniFileTest, WriteChangesTheKeyThatReadsSee) {
  WriteText(path, "[A]\r\nk=1\r\nK=2\r\n[a]\r\nk=3\r\n");
  ini.WriteString("A", "K", "9");
  EXPECT_EQ(ReadText(path), "[A]\r\nk=9\r\nK=2\r\n[a]\r\nk=3\r\n");
  EXPECT_EQ(ini.ReadString("a", "k", ""), "9");
}

TEST_F(IniFileTest, WritingAValueAgainLeavesTheFileAsItWas) {
  WriteText(path, "[A]\r\nk= 1\r\n");
  ini.WriteString("A", "k", "  \"x y\" ");
  const std::string once = ReadText(path);
  EXPECT_EQ(once, "[A]\r\nk= \"x y\" \r\n");
  ini.WriteString("A", "k", "  \"x y\" ");
  EXPECT_EQ(ReadText(path), once);
  EXPECT_EQ(ini.ReadString("A", "k", ""), "x y");
}

TEST_F(IniFileTest, WriteReplacesTheFileAtomically) {
  WriteText(path, "[A]\nx=1\n");
  ::chmod(path.c_str(), 0640);
  struct stat before{};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ini.WriteString("A", "y", "2");
  struct stat after{};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  // A new file was renamed over the old one; the old one was not rewritten.
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  // Nothing but the file and its lock file remains.
  EXPECT_EQ(DirNames(dir.path()), (std::vector<std::string>{"KORRIDAN.INI", "KORRIDAN.INI.lock"}));
}

TEST_F(IniFileTest, WriteThroughASymbolicLinkKeepsTheLink) {
  std::string real = dir / "real.ini";
  WriteText(real, "[A]\nx=1\n");
  ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
  ini.WriteString("A", "x", "2");
  struct stat st{};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadText(real), "[A]\r\nx=2\r\n");
}

TEST_F(IniFileTest, EraseSectionRemovesEverySectionOfThatName) {
  WriteText(path,
            "[Includes]\nA=1\n; inside\n\n"
            "[Aliases]\nDOCS=/d\n\n"
            "[INCLUDES]\nB=2\n");
  ini.EraseSection("includes");
  EXPECT_EQ(ReadText(path), "[Aliases]\r\nDOCS=/d\r\n\r\n");
  EXPECT_EQ(ini.ReadString("Includes", "B", "gone"), "gone");
  ini.WriteString("Includes", "TOKEN", "text");
  EXPECT_EQ(ReadText(path), "[Aliases]\r\nDOCS=/d\r\n\r\n[Includes]\r\nTOKEN=text\r\n");
}

TEST_F(IniFileTest, EraseOfAMissingSectionLeavesTheFileAlone) {
  WriteText(path, "[A]\nx=1\n");
  ini.EraseSection("B");
  EXPECT_EQ(ReadText(path), "[A]\nx=1\n");
}

// ---- Refused writes ----

TEST(IniFileRefusal, MissingDirectoryThrowsUnableToWrite) {
  ScratchDir dir;
  std::string path = dir / "no-such-dir/KORRIDAN.INI";
  IniFile ini(path);
  try {
    ini.WriteString("Network", "Port", "80");
    FAIL() << "no exception";
  } catch (const IniWriteError& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    EXPECT_EQ(e.path(), path);
  }
  EXPECT_THROW(ini.WriteInteger("Network", "Port", 80), std::runtime_error);
  EXPECT_NO_THROW(ini.EraseSection("Network"));
}

// A directory or a FIFO (whose open would wait for a writer) is read as no
// file, refused for writing, and left as it is.
TEST(IniFileRefusal, PathThatIsNoRegularFileThrowsAndStaysAsItIs) {
  ScratchDir dir;
  std::string path = dir / "KORRIDAN.INI";
  for (int kind = 0; kind < 2; ++kind) {
    SCOPED_TRACE(kind);
    ::rmdir(path.c_str());
    ::unlink(path.c_str());
    if (kind == 0) {
      ASSERT_EQ(::mkdir(path.c_str(), 0777), 0);
    }
    if (kind == 1) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
    }
    struct stat before{};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("A", "x", "d"), "d");
    try {
      ini.WriteBool("Log", "Local", true);
      ADD_FAILURE() << "no exception";
    } catch (const IniWriteError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_THROW(ini.EraseSection("Log"), IniWriteError);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, before.st_mode & S_IFMT);
  }
}

TEST(IniFileRefusal, NamesAndValuesThatWouldBreakTheFileAreRefused) {
  ScratchDir dir;
  std::string path = dir / "MIME.INI";
  WriteText(path, "[MimeTypes]\nhtm=text/html\n");
  IniFile ini(path);
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"MimeTypes", "gif", "image/gif\r\n[Evil]"},
      {"MimeTypes", "gif", "image/gif\nx=y"},
      {"MimeTypes", "a=b", "v"},
      {"MimeTypes", "", "v"},
      {"MimeTypes", "   ", "v"},
      {"MimeTypes", ";gif", "v"},
      {"MimeTypes", "[gif", "v"},
      {"Mime]Types", "gif", "v"},
      {"Mime\nTypes", "gif", "v"},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), IniWriteError) << c.section << " / " << c.key;
  }
  EXPECT_EQ(ReadText(path), "[MimeTypes]\nhtm=text/html\n");
}

// ---- Several processes ----

TEST(IniFileConcurrency, TwoProcessesWritingDistinctKeysLoseNothing) {
  ScratchDir dir;
  std::string path = dir / "KORRIDAN.INI";
  constexpr int kKeys = 200;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      try {
        IniFile ini(path);
        for (int i = 0; i < kKeys; ++i) ini.WriteInteger("Keys", "p" + std::to_string(c) + "k" + std::to_string(i), i);
      } catch (...) {
        failures = 1;
      }
      ::_exit(failures);
    }
    children[c] = pid;
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer failed, status " << status;
  }
  IniFile ini(path);
  EXPECT_EQ(ini.ReadSection("Keys").size(), 2u * kKeys);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kKeys; ++i) {
      std::string key = "p" + std::to_string(c) + "k" + std::to_string(i);
      EXPECT_EQ(ini.ReadInteger("Keys", key, -1), i) << key;
    }
  }
}


}  // namespace
}  // namespace platform

namespace platform {
namespace {

using testing::ScratchDir;
using testing::WriteText;

// Reads reuse parsed files only while nothing about the file changed.
TEST(IniFileCache, ChangesInPlaceAndReplacementsAreSeen) {
  ScratchDir dir;
  std::string path = dir / "KORRIDAN.INI";
  WriteText(path, "[S]\r\nk=1\r\n");
  IniFile a(path), b(path);
  EXPECT_EQ(a.ReadString("S", "k", ""), "1");
  WriteText(path, "[S]\r\nk=2\r\n");  // same size, same inode, at once
  EXPECT_EQ(a.ReadString("S", "k", ""), "2");
  b.WriteString("S", "k", "3");
  EXPECT_EQ(a.ReadString("S", "k", ""), "3");
  // A settled file is cached; its replacement is a new inode.
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  EXPECT_EQ(a.ReadString("S", "k", ""), "3");
  EXPECT_EQ(a.ReadString("S", "k", ""), "3");
  b.WriteString("S", "k", "4");
  EXPECT_EQ(a.ReadString("S", "k", ""), "4");
  std::remove(path.c_str());
  EXPECT_EQ(a.ReadString("S", "k", "gone"), "gone");
}


// A handler of a message looks at a file once; its own writes are seen at
// once, and the next handler (or code outside any handler) looks again.
TEST(IniFileCache, AHandlerLooksAtAFileOnce) {
  ScratchDir dir;
  std::string path = dir / "KORRIDAN.INI";
  WriteText(path, "[S]\r\nk=1\r\n");
  IniFile a(path), b(path);
  std::vector<std::string> seen;
  HWND h = CreateWindowHandle([&](const MSG& m) {
    seen.push_back(a.ReadString("S", "k", ""));
    if (m.wParam == 1) {
      ::rename((path + ".new").c_str(), path.c_str());  // another process's write
      seen.push_back(a.ReadString("S", "k", ""));
      b.WriteString("S", "k", "3");  // this process's own write
      seen.push_back(a.ReadString("S", "k", ""));
    }
  });
  WriteText(path + ".new", "[S]\r\nk=2\r\n");
  DispatchMessage(MSG{h, WM_USER, 1, 0});
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "1", "3"}));
  WriteText(path + ".new", "[S]\r\nk=4\r\n");
  ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
  EXPECT_EQ(a.ReadString("S", "k", ""), "4");
  DestroyWindowHandle(h);
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

using testing::DirNames;
using testing::ReadText;
using testing::ScratchDir;
using testing::WriteText;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// ---- Replacing a whole section ----

TEST(IniReplaceSection, ReplacesInPlaceAsEraseAndWritesWould) {
  struct Case {
    const char* name;
    const char* before;  // nullptr: no file
    Pairs pairs;
    const char* after;   // nullptr: no file
  } cases[] = {
      {"new file", nullptr, {{"HTML", "text/html"}}, "[Aliases]\r\nHTML=text/html\r\n"},
      {"new section at the end", "[A]\nx=1", {{"K", "v"}}, "[A]\r\nx=1\r\n\r\n[Aliases]\r\nK=v\r\n"},
      {"in place, blank lines and header kept, comments gone",
       "[A]\nx=1\n[ aliases ]\nOLD=1\n; note\nB=2\n\n\n[Z]\nz=1\n",
       {{"NEW", "n"}, {" B ", "3"}},
       "[A]\r\nx=1\r\n[ aliases ]\r\nNEW=n\r\nB=3\r\n\r\n\r\n[Z]\r\nz=1\r\n"},
      {"later duplicates removed", "[Aliases]\nA=1\n[Z]\nz=1\n[ALIASES]\nB=2\n", {{"C", "3"}},
       "[Aliases]\r\nC=3\r\n[Z]\r\nz=1\r\n"},
      {"one key: first place and spelling, last value", "", {{"Tok", "1"}, {"X", "x"}, {"TOK", "2"}},
       "[Aliases]\r\nTok=2\r\nX=x\r\n"},
      {"no pairs erases", "[Aliases]\nA=1\n\n[Z]\nz=1\n", {}, "[Z]\r\nz=1\r\n"},
      {"no pairs and no file writes nothing", nullptr, {}, nullptr},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::string path = dir / "KORRIDAN.INI";
    if (c.before) WriteText(path, c.before);
    IniFile(path).ReplaceSection("Aliases", c.pairs);
    if (c.after)
      EXPECT_EQ(ReadText(path), c.after) << c.name;
    else
      EXPECT_TRUE(DirNames(dir.path()).empty()) << c.name;
  }
}

TEST(IniReplaceSection, RefusedPairLeavesTheFileAsItWas) {
  ScratchDir dir;
  std::string path = dir / "MIME.INI";
  WriteText(path, "[MimeTypes]\nhtm=text/html\n");
  IniFile ini(path);
  for (const Pairs& bad : {Pairs{{"gif", "image/gif"}, {"a=b", "v"}}, Pairs{{"gif", "x\r\n[Evil]"}},
                           Pairs{{"", "v"}}, Pairs{{";c", "v"}}}) {
    try {
      ini.ReplaceSection("MimeTypes", bad);
      ADD_FAILURE() << "no exception";
    } catch (const IniWriteError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
  }
  EXPECT_THROW(IniFile(dir / "missing/MIME.INI").ReplaceSection("MimeTypes", {{"a", "b"}}), IniWriteError);
  EXPECT_EQ(ReadText(path), "[MimeTypes]\nhtm=text/html\n");
}

// A writer that dies after its temporary file is complete and before the
// rename leaves the old file whole, readable meanwhile, and the lock free.
TEST(IniReplaceSection, WriterKilledBeforeTheRenameLeavesTheOldFile) {
  ScratchDir dir;
  std::string path = dir / "KORRIDAN.INI";
  const std::string old_text = "[Network]\r\nPort=80\r\n\r\n[Aliases]\r\nA=/a/\r\nB=/b/\r\n";
  WriteText(path, old_text);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(ready[0]);
    SetIniBeforeReplaceHook([&] {
      char c = 'r';
      (void)!::write(ready[1], &c, 1);
      for (;;) ::pause();
    });
    Pairs many;
    for (int i = 0; i < 500; ++i) many.emplace_back("K" + std::to_string(i), std::string(100, 'v'));
    IniFile(path).ReplaceSection("Aliases", many);
    ::_exit(0);
  }
  ::close(ready[1]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  // The new file lies complete beside the old one, the whole new section
  // in one write; readers see the old.
  std::vector<std::string> names = DirNames(dir.path());
  ASSERT_EQ(names.size(), 3u);  // the file, its lock and the temporary file
  std::string temp;
  for (const std::string& n : names)
    if (n.find(".tmp") != std::string::npos) temp = ReadText(dir / n);
  std::string expected = "[Network]\r\nPort=80\r\n\r\n[Aliases]\r\n";
  for (int i = 0; i < 500; ++i) expected += "K" + std::to_string(i) + "=" + std::string(100, 'v') + "\r\n";
  EXPECT_EQ(temp, expected);
  EXPECT_EQ(IniFile(path).ReadString("Aliases", "B", ""), "/b/");
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadText(path), old_text);
  // The dead writer's lock went with it.
  IniFile(path).ReplaceSection("Aliases", {{"C", "/c/"}});
  EXPECT_EQ(ReadText(path), "[Network]\r\nPort=80\r\n\r\n[Aliases]\r\nC=/c/\r\n");
}

}  // namespace
}  // namespace platform
