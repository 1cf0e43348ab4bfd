// Hostile or malformed input: URLs that leave the home directory or hold
// control characters, and requests that cannot be read.
#include "tests/e2e/site.h"

namespace e2e {
namespace {

class InputTest : public Site {
 protected:
  void SetUp() override {
    Site::SetUp();
    // The program directory itself is open too, so that a URL that left
    // the home directory would be served if it were looked up at all.
    AddRule(prog_, "N");
    AddRule(home_, "N");
    AddRule(home_ + "sub/", "N");
    AddRule(prog_ + "Images/", "N");
    WriteFile(prog_ + "outside.txt", "outside\n");
    WriteFile(home_ + "notes.txt", "public\n");
    WriteFile(home_ + "sub/a.txt", "a\n");
  }
  std::string LogWithoutLookups() {
    std::string log = ServerLog();
    return log.find("Requested File") == std::string::npos ? "no lookups" : log;
  }
};

TEST_F(InputTest, DotDotSegmentsAre404WithoutLookingAnythingUp) {
  Start();
  for (const char* url : {"/../outside.txt", "/sub/../../outside.txt", "/..%5Coutside.txt", "/sub\\..\\..\\outside.txt",
                          "/%%32%65%%32%65/outside.txt", "/pics/../../outside.txt", "/..", "/sub/.."}) {
    EXPECT_EQ(Get(std::string("GET ") + url + " HTTP/1.0\r\n\r\n"), Error(404, "Not Found")) << url;
  }
  EXPECT_EQ(LogWithoutLookups(), "no lookups");
}

TEST_F(InputTest, DotsThatAreNoSegmentOfTheirOwnAreOrdinaryNames) {
  WriteFile(home_ + "..notes", "dots\n");
  Start();
  EXPECT_EQ(Get("GET /..notes HTTP/1.0\r\n\r\n"), Ok("application/unknown", "dots\n"));
  EXPECT_EQ(Get("GET /./notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "public\n"));
}

TEST_F(InputTest, ControlCharactersInTheUrlAre404) {
  Start();
  for (const char* url : {"/notes.txt%01", "/no%0Ates.txt", "/notes%7F.txt", "/%09notes.txt"}) {
    EXPECT_EQ(Get(std::string("GET ") + url + " HTTP/1.0\r\n\r\n"), Error(404, "Not Found")) << url;
  }
  EXPECT_EQ(LogWithoutLookups(), "no lookups");
  // Each stays one access line, its control characters written as %XX.
  EXPECT_NE(AccessLog().find(Line("", "GET /no%0Ates.txt HTTP/1.0", 404, 0)), std::string::npos);
}

TEST_F(InputTest, OverlongRequestLineIs400) {
  Start();
  std::string url = "/" + std::string(300, 'a');
  EXPECT_EQ(Get("GET " + url + " HTTP/1.0\r\n\r\n"), Error(400, "Bad Request"));
  std::string log = AccessLog();
  EXPECT_NE(log.find("\" 400 0\r\n"), std::string::npos) << log;
  // A request line of exactly 255 characters is read.
  std::string fits = "GET /notes.txt?" + std::string(255 - 24, 'x') + " HTTP/1.0";
  ASSERT_EQ(fits.size(), 255u);
  EXPECT_EQ(Get(fits + "\r\n\r\n"), Error(404, "Not Found"));
}

TEST_F(InputTest, MoreThanAHundredHeaderLinesIs400) {
  Start();
  std::string headers;
  for (int i = 0; i < 101; ++i) headers += "X-Line-" + std::to_string(i) + ": v\r\n";
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n" + headers + "\r\n"), Error(400, "Bad Request"));
  headers.clear();
  for (int i = 0; i < 100; ++i) headers += "X-Line-" + std::to_string(i) + ": v\r\n";
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n" + headers + "\r\n"), Ok("text/plain", "public\n"));
}

TEST_F(InputTest, FullInputBufferWithoutALineIs400) {
  Start();
  EXPECT_EQ(Get(std::string(32767, 'G')), Error(400, "Bad Request"));
  // The server goes on serving.
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "public\n"));
}

TEST_F(InputTest, LongHeaderLineIsCutNotSplit) {
  Start();
  // A header line of exactly 255 characters: its line end must not read as
  // the end of the header, so the credentials after it still count.
  AddRule(home_ + "private/", "Y", "Staff");
  WriteFile(home_ + "private/s.txt", "staff\n");
  std::string pad = "X-Pad: " + std::string(255 - 7, 'p');
  std::string longer = "X-Long: " + std::string(400, 'q');
  EXPECT_EQ(Get("GET /private/s.txt HTTP/1.0\r\n" + pad + "\r\n" + longer + "\r\n" + AuthLine("ann", "secret") +
                "\r\n"),
            Ok("text/plain", "staff\n"));
}

TEST_F(InputTest, RequestArrivingInPiecesIsAnsweredWhenComplete) {
  Start();
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port_));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  for (const char* piece : {"GET /no", "tes.txt HT", "TP/1.0\r\nUser-Agent: slow\r", "\n", "\r\n"}) {
    ::send(fd, piece, std::strlen(piece), MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  std::string out;
  char buf[4096];
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  EXPECT_EQ(out, Ok("text/plain", "public\n"));
}

TEST_F(InputTest, ClientThatClosesEarlyLeavesTheServerServing) {
  Start();
  {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::send(fd, "GET /notes", 10, MSG_NOSIGNAL);
    ::close(fd);
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "public\n"));
}

}  // namespace
}  // namespace e2e
