// The request accessors read the slot's request in place.
#include "tests/interface/tandrel_support.h"

namespace {

// A buffer with a canary behind its first 256 bytes, to show that no answer
// writes more than 255 characters and a NUL.
struct GuardedBuffer {
  char bytes[300];
  GuardedBuffer() { std::memset(bytes, '#', sizeof bytes); }
  char* get() { return bytes; }
  bool canary_intact() const {
    for (std::size_t i = 256; i < sizeof bytes; ++i)
      if (bytes[i] != '#') return false;
    return true;
  }
};

class RequestTest : public AttachedFixture {
 protected:
  void SetHeaders(int32_t cid, std::initializer_list<std::string> lines) {
    Request(cid).HeaderLines->assign(lines.begin(), lines.end());
  }
};

}  // namespace

TEST_F(RequestTest, MethodTexts) {
  char buf[256];
  const std::pair<uint8_t, const char*> cases[] = {{rmGet, "GET"}, {rmHead, "HEAD"}, {rmPost, "POST"},
                                                   {rmUnknown, ""},  {7, ""},          {255, ""}};
  for (auto [code, text] : cases) {
    Request(1).Method = code;
    std::strcpy(buf, "x");
    EXPECT_EQ(lib().GetMethod(buf, 1), 0) << int(code);
    EXPECT_STREQ(buf, text) << int(code);
  }
}

TEST_F(RequestTest, VersionTexts) {
  char buf[256];
  const std::pair<uint8_t, const char*> cases[] = {{hv09, "HTTP/0.9"}, {hv10, "HTTP/1.0"}, {hvNone, ""}, {9, ""}};
  for (auto [code, text] : cases) {
    Request(1).Version = code;
    std::strcpy(buf, "x");
    EXPECT_EQ(lib().GetHTTPVersion(buf, 1), 0) << int(code);
    EXPECT_STREQ(buf, text) << int(code);
  }
}

TEST_F(RequestTest, GetRequestGivesTheWorkingUrl) {
  Request(1).ReceivedUrl = "pics/";
  Request(1).Request = "pics/index.html";
  char buf[256];
  EXPECT_EQ(lib().GetRequest(buf, 1), 0);
  EXPECT_STREQ(buf, "pics/index.html");
  Request(1).Request = std::string(255, 'u');
  GuardedBuffer g;
  EXPECT_EQ(lib().GetRequest(g.get(), 1), 0);
  EXPECT_EQ(std::strlen(g.get()), 255u);
  EXPECT_TRUE(g.canary_intact());
}

TEST_F(RequestTest, GetRemoteIpGivesThePeerAddress) {
  Slot(1)->PeerAddress = "10.20.30.40";
  char buf[256];
  EXPECT_EQ(lib().GetRemoteIp(buf, 1), 0);
  EXPECT_STREQ(buf, "10.20.30.40");
}

TEST_F(RequestTest, AccessorsWithoutABufferGiveTheStatusOnly) {
  EXPECT_EQ(lib().GetMethod(nullptr, 1), 0);
  EXPECT_EQ(lib().GetRequest(nullptr, 1), 0);
  EXPECT_EQ(lib().GetHTTPVersion(nullptr, 1), 0);
  EXPECT_EQ(lib().GetRemoteIp(nullptr, 1), 0);
  EXPECT_EQ(lib().GetHeaderLine(nullptr, 0, 1), 0);
  EXPECT_EQ(lib().GetRemoteIp(nullptr, 2), 2);
}

TEST_F(RequestTest, HeaderCountAndLinesAsStored) {
  SetHeaders(1, {"Host=www.example.org", "User-Agent=Mozilla/4.0", "X-Empty="});
  int32_t n = -1;
  EXPECT_EQ(lib().GetHeaderCnt(&n, 1), 0);
  EXPECT_EQ(n, 3);
  char buf[256];
  EXPECT_EQ(lib().GetHeaderLine(buf, 0, 1), 0);
  EXPECT_STREQ(buf, "Host=www.example.org");
  EXPECT_EQ(lib().GetHeaderLine(buf, 2, 1), 0);
  EXPECT_STREQ(buf, "X-Empty=");
}

TEST_F(RequestTest, HeaderLineIndexOutOfRangeGivesEmptyAndOne) {
  SetHeaders(1, {"Host=a"});
  char buf[256];
  for (int32_t index : {-1, 1, 2, 1 << 30}) {
    std::strcpy(buf, "x");
    EXPECT_EQ(lib().GetHeaderLine(buf, index, 1), 1) << index;
    EXPECT_STREQ(buf, "") << index;
  }
}

TEST_F(RequestTest, ASlotWithoutAHeaderListCountsNoLines) {
  FreeSlotRecord(Request(1));
  int32_t n = -1;
  EXPECT_EQ(lib().GetHeaderCnt(&n, 1), 0);
  EXPECT_EQ(n, 0);
  char buf[256] = "x";
  EXPECT_EQ(lib().GetHeaderLine(buf, 0, 1), 1);
  EXPECT_EQ(lib().GetHeaderValue(buf, "Host", 1), 3);
  EXPECT_STREQ(buf, "");
}

TEST_F(RequestTest, LongHeaderTextsAreCutTo255) {
  SetHeaders(1, {"X-Long=" + std::string(400, 'v'), std::string(600, 'n')});
  GuardedBuffer a, b, c;
  EXPECT_EQ(lib().GetHeaderLine(a.get(), 0, 1), 0);
  EXPECT_EQ(std::strlen(a.get()), 255u);
  EXPECT_TRUE(a.canary_intact());
  EXPECT_EQ(lib().GetHeaderLine(b.get(), 1, 1), 0);
  EXPECT_EQ(std::strlen(b.get()), 255u);
  EXPECT_TRUE(b.canary_intact());
  EXPECT_EQ(lib().GetHeaderValue(c.get(), "x-long", 1), 0);
  EXPECT_EQ(std::string(c.get()), std::string(255, 'v'));
  EXPECT_TRUE(c.canary_intact());
}

TEST_F(RequestTest, HeaderValueNameIgnoresCase) {
  SetHeaders(1, {"Host=a", "Content-TYPE=text/html", "content-type=second"});
  char buf[256];
  EXPECT_EQ(lib().GetHeaderValue(buf, "content-type", 1), 0);
  EXPECT_STREQ(buf, "text/html") << "the first matching line wins";
}

TEST_F(RequestTest, HeaderValueKeepsEverythingAfterTheFirstEquals) {
  SetHeaders(1, {"Cookie=a=1; b=2"});
  char buf[256];
  EXPECT_EQ(lib().GetHeaderValue(buf, "Cookie", 1), 0);
  EXPECT_STREQ(buf, "a=1; b=2");
}

TEST_F(RequestTest, HeaderValueAbsentOrEmptyGivesThree) {
  SetHeaders(1, {"Host=a", "X-Empty=", "NoEquals"});
  char buf[256];
  std::strcpy(buf, "x");
  EXPECT_EQ(lib().GetHeaderValue(buf, "Referer", 1), 3);
  EXPECT_STREQ(buf, "");
  std::strcpy(buf, "x");
  EXPECT_EQ(lib().GetHeaderValue(buf, "X-Empty", 1), 3);
  EXPECT_STREQ(buf, "");
  std::strcpy(buf, "x");
  EXPECT_EQ(lib().GetHeaderValue(buf, "NoEquals", 1), 3) << "a line without = never matches";
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(lib().GetHeaderValue(buf, "", 1), 3);
}

TEST_F(RequestTest, HeaderValueWithoutNameOrBuffer) {
  SetHeaders(1, {"Host=a"});
  char buf[256] = "x";
  EXPECT_EQ(lib().GetHeaderValue(buf, nullptr, 1), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(lib().GetHeaderValue(nullptr, "Host", 1), 0);
  EXPECT_EQ(lib().GetHeaderValue(nullptr, "Host", 2), 2);
  std::strcpy(buf, "x");
  EXPECT_EQ(lib().GetHeaderValue(buf, "Host", 2), 2);
  EXPECT_STREQ(buf, "");
}

TEST_F(RequestTest, HeaderValueNameIsCutTo255) {
  std::string name(255, 'k');
  SetHeaders(1, {name + "=found"});
  char buf[256];
  EXPECT_EQ(lib().GetHeaderValue(buf, (name + "EXTRA").c_str(), 1), 0);
  EXPECT_STREQ(buf, "found");
}

TEST_F(RequestTest, DirectoriesWhileAttached) {
  char buf[256];
  EXPECT_EQ(lib().GetTempDir(buf), 0);
  EXPECT_STREQ(buf, "/tmp/halv-temp/");
  EXPECT_EQ(lib().GetHomeDir(buf), 0);
  EXPECT_STREQ(buf, "/srv/www/");
  EXPECT_EQ(lib().GetTempDir(nullptr), 1);
  EXPECT_EQ(lib().GetHomeDir(nullptr), 1);

  engine_->TempDir = std::string(255, 't');
  GuardedBuffer g;
  EXPECT_EQ(lib().GetTempDir(g.get()), 0);
  EXPECT_EQ(std::strlen(g.get()), 255u);
  EXPECT_TRUE(g.canary_intact());
}

TEST_F(RequestTest, RealmNameChecksOnlyTheRange) {
  char buf[256];
  EXPECT_EQ(lib().GetRealmName(buf, 1), 0);
  EXPECT_STREQ(buf, "Halvorine");
  Request(2).Realm = "Left from the last request";
  EXPECT_EQ(lib().GetRealmName(buf, 2), 0) << "a free slot gives its last realm";
  EXPECT_STREQ(buf, "Left from the last request");
  std::strcpy(buf, "x");
  EXPECT_EQ(lib().GetRealmName(buf, 0), 1);
  EXPECT_EQ(lib().GetRealmName(buf, 256), 1);
  EXPECT_EQ(lib().GetRealmName(buf, -3), 1);
  EXPECT_STREQ(buf, "x");
  EXPECT_EQ(lib().GetRealmName(nullptr, 1), 1);
}
