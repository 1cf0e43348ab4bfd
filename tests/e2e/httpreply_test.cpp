// The response header in process: an engine whose slot 1 counts as
// connected, attached to the interface library so that extension lines can
// be added for it.
#include "server/httpreply.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "foundation/serverconfig.h"
#include "interface/tandrel.h"
#include "server/httpunit.h"

namespace {

class ReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-reply-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::ofstream(root_ + "/MIME.INI") << "[MimeTypes]\r\nhtm=text/html\r\ntxt=text/plain\r\nlong="
                                       << std::string(300, 't') << "\r\n";
    std::ofstream(root_ + "/page.htm") << "<p>12345</p>";
    saved_mime_ = MimeIni;
    mime_ = std::make_unique<platform::IniFile>(root_ + "/MIME.INI");
    MimeIni = mime_.get();
    WinsockStartup();
    engine_ = std::make_unique<THTTP>();
    // No address: nothing listens, but the slot objects exist.
    engine_->Init(nullptr, 2, 5, root_ + "/");
    engine_->Connections[1]->Connected = true;
    for (int32_t i = 1; i <= engine_->MaxSockets; ++i) InitSlotRecord(engine_->Requests[i], engine_.get(), i);
    var_ = engine_.get();
    LoadServer(&var_);
  }
  void TearDown() override {
    UnLoadServer();
    engine_->Connections[1]->Connected = false;
    engine_.reset();
    MimeIni = saved_mime_;
    std::filesystem::remove_all(root_);
  }

  std::string Header(int32_t status, const std::string& file = "") {
    TReplyRecord& reply = engine_->Replies[1];
    reply.Status = status;
    reply.FileName = file;
    reply.ContentLength = 99;
    WriteResponseHeader(reply, 1, *engine_);
    TByteFifo* f = engine_->Connections[1]->OutputFifo;
    return std::string(reinterpret_cast<const char*>(f->Data + f->Start - 1), f->Count);
  }
  int32_t AddedCount() {
    int32_t n = -1;
    GetAddedLinesCnt(&n, 1);
    return n;
  }

  std::string root_;
  platform::IniFile* saved_mime_ = nullptr;
  std::unique_ptr<platform::IniFile> mime_;
  std::unique_ptr<THTTP> engine_;
  THTTP* var_ = nullptr;
};

TEST_F(ReplyTest, NotFoundHasTheHtmlTypeAndBody) {
  EXPECT_EQ(Header(404), "HTTP/1.0 404 Not Found\r\nServer: Halvorine/2.41\r\nContent-type: text/html\r\n\r\n"
                         "<h1>404 Not Found</h1>\r\n");
}

TEST_F(ReplyTest, UnauthorizedAddsTheAuthenticateLineBeforeTheType) {
  EXPECT_EQ(Header(401), "HTTP/1.0 401 Unauthorized\r\nServer: Halvorine/2.41\r\n"
                         "WWW-Authenticate: Basic realm=\"Halvorine\"\r\nContent-type: text/html\r\n\r\n"
                         "<h1>401 Unauthorized</h1>\r\n");
}

TEST_F(ReplyTest, OkHasTypeAndSizeOfTheFile) {
  EXPECT_EQ(Header(200, root_ + "/page.htm"),
            "HTTP/1.0 200 OK\r\nServer: Halvorine/2.41\r\nContent-type: text/html\r\nContent-length: 12\r\n\r\n");
  EXPECT_EQ(engine_->Replies[1].ContentLength, 12);
}

TEST_F(ReplyTest, OkForAVanishedFileHasLengthZero) {
  EXPECT_EQ(Header(200, root_ + "/gone"), "HTTP/1.0 200 OK\r\nServer: Halvorine/2.41\r\n"
                                          "Content-type: application/unknown\r\nContent-length: 0\r\n\r\n");
  EXPECT_EQ(engine_->Replies[1].ContentLength, 0);
}

TEST_F(ReplyTest, StatusNotInTheTableHasAnEmptyReason) {
  EXPECT_EQ(Header(304), "HTTP/1.0 304 \r\nServer: Halvorine/2.41\r\nContent-type: text/html\r\n\r\n"
                         "<h1>304 </h1>\r\n");
}

TEST_F(ReplyTest, AddedLinesFollowTheServersLinesAndAreCleared) {
  ASSERT_EQ(AddHeaderLine("Location: /x.htm", 1), 0);
  ASSERT_EQ(AddHeaderLine("no colon", 1), 0);
  EXPECT_EQ(Header(302), "HTTP/1.0 302 Found\r\nServer: Halvorine/2.41\r\nContent-type: text/html\r\n"
                         "Location: /x.htm\r\nno colon\r\n\r\n<h1>302 Found</h1>\r\n");
  EXPECT_EQ(AddedCount(), 0);
}

TEST_F(ReplyTest, LongAddedLinesAreCutTo255AndKeepTheirLineEnd) {
  for (std::size_t n : {253u, 254u, 255u, 256u, 600u}) AddHeaderLine(std::string(n, 'a').c_str(), 1);
  std::string expected = "HTTP/1.0 200 OK\r\nServer: Halvorine/2.41\r\nContent-type: text/html\r\nContent-length: 12\r\n";
  for (std::size_t n : {253u, 254u, 255u, 255u, 255u}) expected += std::string(n, 'a') + "\r\n";
  EXPECT_EQ(Header(200, root_ + "/page.htm"), expected + "\r\n");
}

TEST_F(ReplyTest, HeaderIsCompleteWhenAddedLinesWouldFillTheBuffer) {
  for (int i = 0; i < 200; ++i) AddHeaderLine(("Set-Cookie: " + std::string(300, 'c')).c_str(), 1);
  std::string h = Header(404);
  const std::string tail = "\r\n\r\n<h1>404 Not Found</h1>\r\n";
  ASSERT_GE(h.size(), tail.size());
  EXPECT_EQ(h.substr(h.size() - tail.size()), tail);
  EXPECT_LE(h.size(), static_cast<std::size_t>(FifoCapacity()));
  // Every line kept ends with its CR LF: cut into lines, none is longer.
  std::size_t start = 0, lines = 0;
  while (start < h.size()) {
    std::size_t end = h.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 255u);
    start = end + 2;
    ++lines;
  }
  EXPECT_GT(lines, 100u);
  EXPECT_EQ(AddedCount(), 0);
}

TEST_F(ReplyTest, DirectReturnWritesNothingAndKeepsTheLines) {
  AddHeaderLine("X-Kept: 1", 1);
  engine_->Replies[1].DirectReturn = 1;
  EXPECT_EQ(Header(200, root_ + "/page.htm"), "");
  EXPECT_EQ(AddedCount(), 1);
  engine_->Replies[1].DirectReturn = 0;
}

TEST_F(ReplyTest, LongContentTypeIsCutButKeepsItsLineEnd) {
  std::ofstream(root_ + "/f.long") << "z";
  std::string h = Header(200, root_ + "/f.long");
  std::string type_line = ("Content-type: " + std::string(300, 't')).substr(0, 255) + "\r\n";
  EXPECT_NE(h.find(type_line + "Content-length: 1\r\n"), std::string::npos) << h;
}

TEST(StatusTextTest, Table) {
  EXPECT_EQ(StatusText(200).str(), "OK");
  EXPECT_EQ(StatusText(203).str(), "Partial Information");
  EXPECT_EQ(StatusText(303).str(), "Method");
  EXPECT_EQ(StatusText(400).str(), "Bad Request");
  EXPECT_EQ(StatusText(500).str(), "Internal Error");
  EXPECT_EQ(StatusText(502).str(), "Service Temporarily Overloaded");
  EXPECT_EQ(StatusText(503).str(), "Gateway Timeout");
  EXPECT_EQ(StatusText(304).str(), "");
  EXPECT_EQ(StatusText(0).str(), "");
}

TEST_F(ReplyTest, ContentTypeFromTheLastComponentsExtension) {
  EXPECT_EQ(LookupContentType("/web/a.htm"), "text/html");
  EXPECT_EQ(LookupContentType("/web/A.HTM"), "text/html");  // keys ignore case
  EXPECT_EQ(LookupContentType("/web/a.txt.htm"), "text/html");
  EXPECT_EQ(LookupContentType("/web.htm/readme"), "");
  EXPECT_EQ(LookupContentType("/web/readme."), "");
  EXPECT_EQ(LookupContentType("/web/a.gif"), "");
}

}  // namespace
