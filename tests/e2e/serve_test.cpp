// Serving files: the answers to GET and HEAD, compared byte for byte, and
// the access-log line of each.
#include <sys/stat.h>

#include <algorithm>

#include "tests/e2e/site.h"

namespace e2e {
namespace {

class ServeTest : public Site {
 protected:
  void SetUp() override {
    Site::SetUp();
    AddRule(home_, "N");
    AddRule(home_ + "docs/", "N");
    AddRule(prog_ + "Images/", "N");
    WriteFile(home_ + "index.html", "<p>home</p>\n");
    WriteFile(home_ + "index.htm", "<p>not this one</p>\n");
    WriteFile(home_ + "notes.txt", "Notes for everyone.\n");
    WriteFile(home_ + "page.html", "<p>page</p>\n");
    WriteFile(home_ + "plain.htm", "<p>plain</p>\n");
    WriteFile(home_ + "readme", "no extension\n");
    WriteFile(home_ + "docs/index.htm", "<p>docs</p>\n");
    WriteFile(prog_ + "Images/a.txt", "image a\n");
    WriteFile(prog_ + "Images/index.html", "<p>images</p>\n");
  }
};

TEST_F(ServeTest, GetAnswersWithContentTypeAndLength) {
  Start();
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\nUser-Agent: test\r\n\r\n"), Ok("text/plain", "Notes for everyone.\n"));
  EXPECT_EQ(AccessLog(), Line("", "GET /notes.txt HTTP/1.0", 200, 20));
}

TEST_F(ServeTest, HeadSendsTheHeaderOnly) {
  Start();
  EXPECT_EQ(Get("HEAD /notes.txt HTTP/1.0\r\n\r\n"), OkHeader("text/plain", 20));
  EXPECT_EQ(AccessLog(), Line("", "HEAD /notes.txt HTTP/1.0", 200, 20));
}

TEST_F(ServeTest, Http09RequestGetsTheSameHeaderAndTheFile) {
  Start();
  EXPECT_EQ(Get("GET /notes.txt HTTP/0.9\r\n"), Ok("text/plain", "Notes for everyone.\n"));
  EXPECT_EQ(Get("GET /notes.txt\r\n"), Ok("text/plain", "Notes for everyone.\n"));
  EXPECT_EQ(AccessLog(), Line("", "GET /notes.txt HTTP/0.9", 200, 20) + Line("", "GET /notes.txt ", 200, 20));
}

TEST_F(ServeTest, RootServesIndexHtmlBeforeIndexHtm) {
  Start();
  EXPECT_EQ(Get("GET / HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>home</p>\n"));
  // The access line shows the URL as received, not the index document.
  EXPECT_EQ(AccessLog(), Line("", "GET / HTTP/1.0", 200, 12));
}

TEST_F(ServeTest, DirectoryWithOnlyIndexHtmServesIt) {
  Start();
  EXPECT_EQ(Get("GET /docs/ HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>docs</p>\n"));
  // A directory named without its "/" is the same request.
  EXPECT_EQ(Get("GET /docs HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>docs</p>\n"));
  EXPECT_NE(ServerLog().find("Requested File " + home_ + "docs/index.htm\n"), std::string::npos);
}

TEST_F(ServeTest, DirectoryWithoutIndexIs404) {
  std::filesystem::create_directories(home_ + "empty");
  Start();
  EXPECT_EQ(Get("GET /empty/ HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
}

TEST_F(ServeTest, HtmAndHtmlAreTriedForEachOther) {
  Start();
  EXPECT_EQ(Get("GET /page.htm HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>page</p>\n"));
  EXPECT_EQ(Get("GET /plain.html HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>plain</p>\n"));
  EXPECT_EQ(Get("GET /PAGE.HTM HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));  // lookups keep case
}

TEST_F(ServeTest, AliasServesFromItsDirectory) {
  Start();
  EXPECT_EQ(Get("GET /pics/a.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "image a\n"));
  EXPECT_EQ(Get("GET /PICS HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>images</p>\n"));
  EXPECT_EQ(Get("GET /pics\\a.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "image a\n"));
  EXPECT_NE(ServerLog().find("Requested File " + prog_ + "Images/a.txt\n"), std::string::npos);
}

TEST_F(ServeTest, BackslashesAndDoubledSeparatorsCountAsOneSlash) {
  Start();
  EXPECT_EQ(Get("GET /docs\\\\index.htm HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>docs</p>\n"));
  EXPECT_EQ(Get("GET /docs//index.htm HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>docs</p>\n"));
}

TEST_F(ServeTest, FileWithoutExtensionIsApplicationUnknown) {
  Start();
  EXPECT_EQ(Get("GET /readme HTTP/1.0\r\n\r\n"), Ok("application/unknown", "no extension\n"));
}

TEST_F(ServeTest, MissingFileAndQueryPartAre404WithLengthZeroInTheLog) {
  Start();
  // The slot's previous answer had a length; the 404's line shows 0.
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "Notes for everyone.\n"));
  EXPECT_EQ(Get("GET /nothing.txt HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
  EXPECT_EQ(Get("GET /notes.txt?x=1 HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
  EXPECT_EQ(AccessLog(), Line("", "GET /notes.txt HTTP/1.0", 200, 20) +
                             Line("", "GET /nothing.txt HTTP/1.0", 404, 0) +
                             Line("", "GET /notes.txt?x=1 HTTP/1.0", 404, 0));
}

TEST_F(ServeTest, OtherMethodsAre501) {
  Start();
  EXPECT_EQ(Get("DELETE /notes.txt HTTP/1.0\r\n\r\n"), Error(501, "Not Implemented"));
  EXPECT_EQ(AccessLog(), Line("", " /notes.txt HTTP/1.0", 501, 0));
}

TEST_F(ServeTest, PostToAFileIs404AtOnce) {
  Start();
  EXPECT_EQ(Get("POST /notes.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1"), Error(404, "Not Found"));
  EXPECT_EQ(AccessLog(), Line("", "POST /notes.txt HTTP/1.0", 404, 0));
}

TEST_F(ServeTest, ExtensionUrlsAre404WithoutExtensionSupport) {
  Start();
  EXPECT_EQ(Get("GET /$TEST.DLL?a=1 HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
  EXPECT_EQ(Get("POST /$TEST.DLL HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1"), Error(404, "Not Found"));
}

TEST_F(ServeTest, DefaultDocumentReplacesA404WhenEnabled) {
  WriteFile(home_ + "sorry.html", "<p>sorry</p>\n");
  ini_directories_ = "UseDefaultDoc=1\r\nDefaultDoc=" + home_ + "sorry.html\r\n";
  Start();
  EXPECT_EQ(Get("GET /nothing.txt HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>sorry</p>\n"));
  EXPECT_EQ(Get("GET /$MISSING.DLL HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>sorry</p>\n"));
  // Neither a refused POST nor a URL refused before any lookup gets it.
  EXPECT_EQ(Get("POST /nothing.txt HTTP/1.0\r\nContent-Length: 0\r\n\r\n"), Error(404, "Not Found"));
  EXPECT_EQ(Get("GET /../outside.txt HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
  EXPECT_EQ(AccessLog(), Line("", "GET /nothing.txt HTTP/1.0", 200, 13) +
                             Line("", "GET /$MISSING.DLL HTTP/1.0", 200, 13) +
                             Line("", "POST /nothing.txt HTTP/1.0", 404, 0) +
                             Line("", "GET /../outside.txt HTTP/1.0", 404, 0));
}

TEST_F(ServeTest, DefaultDocumentIsNotUsedWhenDisabledOrMissing) {
  ini_directories_ = "UseDefaultDoc=0\r\nDefaultDoc=" + home_ + "notes.txt\r\n";
  Start();
  EXPECT_EQ(Get("GET /nothing.txt HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
  Stop();
  ini_directories_ = "UseDefaultDoc=1\r\nDefaultDoc=" + home_ + "gone.html\r\n";
  Start();
  EXPECT_EQ(Get("GET /nothing.txt HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
}

TEST_F(ServeTest, LargeFileIsSentWhole) {
  std::string big;
  for (int i = 0; big.size() < 400000; ++i) big += "line " + std::to_string(i) + "\n";
  WriteFile(home_ + "big.txt", big);
  Start();
  EXPECT_EQ(Get("GET /big.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", big));
}

TEST_F(ServeTest, EmptyFileHasLengthZero) {
  WriteFile(home_ + "empty.txt", "");
  Start();
  EXPECT_EQ(Get("GET /empty.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", ""));
}

TEST_F(ServeTest, OnlyRegularFilesAreServed) {
  ASSERT_EQ(mkfifo((home_ + "pipe.txt").c_str(), 0644), 0);
  Start();
  // A FIFO would block the server's only thread on open.
  EXPECT_EQ(Get("GET /pipe.txt HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "Notes for everyone.\n"));
}

// A file that is there but cannot be sent: one the server may not open,
// or a page whose output the page engine could not make.
TEST_F(ServeTest, AFileThatIsThereButCannotBeSentIsAnInternalErrorAndLogged) {
  WriteFile(home_ + "locked.txt", "locked\n");
  // Its open fails as for a file the server may not read, whoever runs the
  // test; the checks before the header still find the file.
  env_extra_.emplace_back("LD_PRELOAD", FAILOPEN_PATH);
  env_extra_.emplace_back("FAILOPEN_SUFFIX", "/locked.txt");
  const char* asan = std::getenv("ASAN_OPTIONS");
  env_extra_.emplace_back("ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0");
  // A directory where the engine would write each slot's page.
  for (int slot = 1; slot <= max_sockets_; ++slot)
    std::filesystem::create_directory(prog_ + "Temp/TEMP" + std::to_string(slot) + ".HTM");
  Start();
  const struct {
    const char* url;
    std::string said;
  } cases[] = {{"/locked.txt", "open(" + home_ + "locked.txt): Permission denied"},
               {"/page.html", "The page engine made no page of " + home_ + "page.html. MAKEFILETHREAD(" + prog_ +
                                  "Temp/TEMP"}};
  std::string access;
  for (const auto& c : cases) {
    const std::string request_line = std::string("GET ") + c.url + " HTTP/1.0";
    EXPECT_EQ(Get(request_line + "\r\n\r\n"), Error(500, "Internal Error")) << c.url;
    access += Line("", request_line, 500, 0);
    const std::string log = ServerLog();
    ASSERT_NE(log.find(c.said), std::string::npos) << log;
    EXPECT_EQ(log.find(c.said, log.find(c.said) + 1), std::string::npos) << "said once";
  }
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "Notes for everyone.\n"));
  EXPECT_EQ(AccessLog(), access + Line("", "GET /notes.txt HTTP/1.0", 200, 20));
}

TEST_F(ServeTest, ConnectionsInTurnReuseTheSlots) {
  Start();
  for (int i = 0; i < 12; ++i)
    ASSERT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "Notes for everyone.\n")) << i;
}

TEST_F(ServeTest, HomeDirectoryWithBackslashesAndDoubledSeparators) {
  std::string odd = home_;
  odd.insert(odd.find("/HTDocs"), "/");
  std::replace(odd.begin() + odd.find("HTDocs"), odd.end(), '/', '\\');
  home_ = odd;  // ".../prog//HTDocs\"
  Start();
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "Notes for everyone.\n"));
}

}  // namespace
}  // namespace e2e
