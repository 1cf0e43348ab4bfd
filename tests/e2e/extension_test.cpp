// Extension libraries and the page engine through the real server: the
// engine's own start, the stand-in engine MORVEX32.DLL, and the sample
// libraries copied into the program directory, as an operator installs them.
#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <regex>

#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/msgloop.h"
#include "server/enginehook.h"
#include "server/wsock.h"
#include "tests/e2e/site.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::string BuiltDir() { return fs::path(TESTSERVER_PATH).parent_path().string() + "/"; }

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Sends the parts of a request with a pause between them, then reads the
// answer until the server closes. close_early: close after the last part
// without reading.
std::string SendInParts(int port, const std::vector<std::string>& parts, int pause_ms, bool close_early = false) {
  Client c(port);
  if (!c.Connected()) return "(connect failed)";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    c.Send(parts[i]);
  }
  if (close_early) return "";
  bool timed_out = false;
  return c.ReadAll(10000, &timed_out);
}

// The server's line for a completion that no call waits for.
constexpr char kDroppedCompletion[] = "Completion dropped: no call on this slot waits for it";

std::string Body(const std::string& answer) {
  std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

class ExtensionSite : public Site {
 protected:
  void SetUp() override {
    Site::SetUp();
    AddRule(home_, "N");
    env_extra_.emplace_back("POSTLOG_FILE", prog_ + "post.txt");
    for (const char* lib : {"HELLO.DLL", "POSTLOG.DLL", "LATER.DLL", "REDIRECT.DLL", "UNLOADME.DLL"}) {
      ASSERT_TRUE(fs::exists(BuiltDir() + lib)) << lib << " is not built";
      fs::copy_file(BuiltDir() + lib, prog_ + lib, fs::copy_options::overwrite_existing);
    }
  }

  bool WaitForPostRecord(const std::string& text) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadFile(prog_ + "post.txt").find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  std::vector<std::string> RunFiles() {
    std::vector<std::string> runs;
    for (const std::string& n : Names(prog_ + "Temp"))
      if (n.rfind("RUN", 0) == 0) runs.push_back(n);
    return runs;
  }
};

TEST_F(ExtensionSite, APostBodyArrivesInBatchesAndCompletesAtItsLength) {
  Start();
  std::string answer = SendInParts(
      port_, {"POST /$POSTLOG.DLL HTTP/1.0\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\nabcde", "fghij"},
      300);
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(Body(answer).find("<p>Bytes: 10</p>"), std::string::npos) << answer;
  EXPECT_NE(Body(answer).find("<pre>abcdefghij</pre>"), std::string::npos) << answer;
  std::string record = ReadFile(prog_ + "post.txt");
  EXPECT_NE(record.find("POSTRESUME 1 5\nPOSTRESUME 1 5\n"), std::string::npos) << record;
  EXPECT_NE(record.find("POSTEND 1 bytes=10 batches=2 closed=0 context=0"), std::string::npos) << record;
}

TEST_F(ExtensionSite, AClientClosingDuringAPostGetsPostEndWithTheClosedFlag) {
  Start();
  SendInParts(port_, {"POST /$POSTLOG.DLL HTTP/1.0\r\nContent-Length: 100\r\n\r\n", "partial"}, 200, true);
  ASSERT_TRUE(WaitForPostRecord("POSTEND")) << ReadFile(prog_ + "post.txt");
  EXPECT_NE(ReadFile(prog_ + "post.txt").find("POSTEND 1 bytes=7 batches=1 closed=1 context=1"), std::string::npos)
      << ReadFile(prog_ + "post.txt");
  // The slot serves the next client as usual.
  EXPECT_EQ(Get("GET /$UNLOADME.DLL HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 200 OK", 0), 0u);
}

TEST_F(ExtensionSite, ALateCompletionIsAnswered) {
  Start();
  std::string answer = Get("GET /$LATER.DLL?ms=100 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(Body(answer).find("Finished after 100 ms"), std::string::npos) << answer;
}

TEST_F(ExtensionSite, ResetsMidPostAndDuringALateCompletionLeaveTheSlotsServing) {
  Start();
  {
    Client c(port_);
    c.Send("POST /$POSTLOG.DLL HTTP/1.0\r\nContent-Length: 100\r\n\r\npartial");
    ASSERT_TRUE(WaitForPostRecord("POSTRESUME 1 7")) << ReadFile(prog_ + "post.txt");
    c.Reset();
  }
  ASSERT_TRUE(WaitForPostRecord("POSTEND")) << ReadFile(prog_ + "post.txt");
  EXPECT_NE(ReadFile(prog_ + "post.txt").find("POSTEND 1 bytes=7 batches=1 closed=1 context=1"), std::string::npos)
      << ReadFile(prog_ + "post.txt");
  // Late completions for clients that reset while they waited, on every slot.
  for (int i = 0; i < 4; ++i) {
    Client c(port_);
    c.Send("GET /$LATER.DLL?ms=200 HTTP/1.0\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    c.Reset();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  for (int i = 0; i < 5; ++i) {
    std::string answer = Get("GET /$LATER.DLL?ms=10 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  }
}

// On an idle server: a page whose "$RUN" library finishes later, then
// direct calls that each outlast the one before. Each client gets its own
// page. The tags stay empty: the second is not called while the first is
// outstanding, and the first's completion reaches no client.
TEST_F(ExtensionSite, ALateCompletionReachesOnlyItsOwnCall) {
  WriteFile(home_ + "runlater.html", "<html><body>{{$RUN $LATER.DLL?ms=300}}{{$RUN $LATER.DLL?ms=0}}</body></html>\n");
  Start();
  EXPECT_EQ(Get("GET /runlater.html HTTP/1.0\r\n\r\n"), Ok("text/html", "<html><body></body></html>\n"));
  for (int ms : {900, 750, 600}) {
    EXPECT_EQ(Get("GET /$LATER.DLL?ms=" + std::to_string(ms) + " HTTP/1.0\r\n\r\n"),
              Ok("text/html", "<html><body><p>Finished after " + std::to_string(ms) + " ms</p></body></html>\n"));
  }
  std::string log = ServerLog();
  std::size_t dropped = 0;
  for (std::size_t at = 0; (at = log.find(kDroppedCompletion, at)) != std::string::npos; ++at) ++dropped;
  EXPECT_EQ(dropped, 1u) << "the first tag's completion, which no call waits for: " << log;
}

// Each call's finished thread is let go: the server's memory map does not
// grow with the calls.
TEST_F(ExtensionSite, ThreeThousandLateCallsLeaveTheMemoryMapAsItWas) {
  max_sockets_ = 16;
  Start();
  const std::string request = "GET /$LATER.DLL?ms=0 HTTP/1.0\r\n\r\n";
  const std::string page = Ok("text/html", "<html><body><p>Finished after 0 ms</p></body></html>\n");
  ASSERT_EQ(Get(request), page);  // the library and the engine are loaded
  auto mappings = [this] {
    std::string maps = ReadFile("/proc/" + std::to_string(pid_) + "/maps");
    return std::count(maps.begin(), maps.end(), '\n');
  };
  const long before = mappings();
  std::atomic<int> pages{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 8; ++t)
    clients.emplace_back([&] {
      for (int i = 0; i < 375; ++i) pages += Get(request) == page;
    });
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(pages.load(), 3000);
  EXPECT_LT(mappings() - before, 100) << "new mappings after 3000 calls";
}

// Content-Length: every value a 32-bit count holds counts the body (a line
// end does not end it); anything else is no length, and a batch ending in
// a line end ends the body.
TEST_F(ExtensionSite, ContentLengthEdges) {
  struct Case {
    std::string length;
    std::string body;
    bool answered;       // the body completes without the client closing
    std::string record;  // the POSTEND record
  };
  const Case cases[] = {
      {"0", "", true, "bytes=0 batches=0 closed=0"},
      {"5", "ab\ncdEXTRA", true, "bytes=5 batches=1 closed=0"},
      {" 7 ", "abcdef\n", true, "bytes=7 batches=1 closed=0"},
      {"2147483647", "ab\n", false, "bytes=3 batches=1 closed=1"},
      {"2147483648", "ab\r\n", true, "bytes=2 batches=1 closed=0"},
      {"99999999999999999999", "ab\r\n", true, "bytes=2 batches=1 closed=0"},
      {"-1", "ab\r\n", true, "bytes=2 batches=1 closed=0"},
      {"+5", "ab\r\n", true, "bytes=2 batches=1 closed=0"},
      {"0x10", "ab\r\n", true, "bytes=2 batches=1 closed=0"},
  };
  Start();
  for (const Case& k : cases) {
    SCOPED_TRACE("Content-Length: " + k.length);
    std::filesystem::remove(prog_ + "post.txt");
    Client c(port_);
    c.Send("POST /$POSTLOG.DLL HTTP/1.0\r\nContent-Length: " + k.length + "\r\n\r\n" + k.body);
    if (k.answered) {
      std::string answer = c.ReadAll();
      EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
    } else {
      EXPECT_EQ(c.ReadAll(300), "(timeout)") << "the body is not complete";
      c.ShutWrite();
      c.ReadAll();
    }
    ASSERT_TRUE(WaitForPostRecord("POSTEND")) << ReadFile(prog_ + "post.txt");
    EXPECT_NE(ReadFile(prog_ + "post.txt").find(k.record), std::string::npos) << ReadFile(prog_ + "post.txt");
  }
}

TEST_F(ExtensionSite, SkipEngineSendsTheLibrarysPageUnexpanded) {
  Start();
  std::string raw = Body(Get("GET /$HELLO.DLL?noengine HTTP/1.0\r\n\r\n"));
  EXPECT_NE(raw.find("<p>Sockets opened: {{$RESOURCE 2}}</p>"), std::string::npos) << raw;
  std::string expanded = Body(Get("GET /$HELLO.DLL?x HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(std::regex_search(expanded, std::regex("<p>Sockets opened: [0-9]+</p>"))) << expanded;
  EXPECT_NE(expanded.find("<p>Method: GET</p>"), std::string::npos) << expanded;
  EXPECT_NE(expanded.find("<p>Request: $HELLO.DLL?x</p>"), std::string::npos) << expanded;
}

TEST_F(ExtensionSite, TwoRunTagsMakeTheirRunFilesWhichGoAfterwards) {
  WriteFile(home_ + "run.html", "[{{$RUN $UNLOADME.DLL}}|{{$RUN $UNLOADME.DLL?b}}|{{$RESOURCE -2}}]");
  Start();
  // "$RUN" does not unload a library that asks for it, so the count of
  // calls since loading goes on from tag to tag.
  const std::regex page(
      R"(\[<html><body><p>Calls since load: ([0-9]+)</p></body></html>\n)"
      R"(\|<html><body><p>Calls since load: ([0-9]+)</p></body></html>\n\|[0-9]+\])");
  for (int round = 0; round < 2; ++round) {
    std::string body = Body(Get("GET /run.html HTTP/1.0\r\n\r\n"));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(body, m, page)) << body;
    EXPECT_EQ(std::stoi(m[2]), std::stoi(m[1]) + 1) << "two runs of the library";
    EXPECT_TRUE(RunFiles().empty()) << "RUN files left after the engine finished";
  }
}

TEST_F(ExtensionSite, ARedirectAnswers302WithItsLocation) {
  Start();
  std::string answer = Get("GET /$REDIRECT.DLL?/elsewhere.html HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer, "HTTP/1.0 302 Found\r\n" + std::string(kServerLine) +
                        "Content-type: text/html\r\nLocation: /elsewhere.html\r\n\r\n<h1>302 Found</h1>\r\n");
}

TEST_F(ExtensionSite, NamesThatAreNoPlainLibraryAreNotFound) {
  fs::create_directories(prog_ + "sub");
  fs::copy_file(prog_ + "UNLOADME.DLL", prog_ + "sub/X.DLL");
  Start();
  EXPECT_EQ(Get("GET /$sub/X.DLL HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
  EXPECT_EQ(Get("GET /$NOPE.DLL HTTP/1.0\r\n\r\n"), Error(404, "Not Found"));
}

TEST_F(ExtensionSite, WithoutThePageEngineTheStartSaysSoAndPagesGoOutAsTheyAre) {
  // The server program alone in a directory of its own: no MORVEX32.DLL
  // beside it, nor in the current directory.
  std::string bare = root_ + "/bare/";
  fs::create_directories(bare);
  fs::copy_file(TESTSERVER_PATH, bare + "testserver");
  for (const char* lib : {"libtandrel.so", "libhalvplatform.so.1"}) fs::create_symlink(BuiltDir() + lib, bare + lib);
  WriteFile(home_ + "page.html", "<p>{{$RESOURCE 2}}</p>");
  Start(bare + "testserver");
  EXPECT_NE(ReadFile(prog_ + "server.err").find("Can't load MORVEX32.DLL!"), std::string::npos)
      << ReadFile(prog_ + "server.err");
  EXPECT_EQ(Get("GET /page.html HTTP/1.0\r\n\r\n"), Ok("text/html", "<p>{{$RESOURCE 2}}</p>"));
}

// The engine's start and stop in this process, repeated.
// Entries of a /proc directory; the directory stream's own descriptor is
// not counted for /proc/self/fd.
int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return std::strcmp(dir, "/proc/self/fd") == 0 ? n - 1 : n;
}

bool EngineMapped() { return ReadFile("/proc/self/maps").find("MORVEX32.DLL") != std::string::npos; }

class EngineStart : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WinsockStartup());
    char pattern[] = "/tmp/halv-start-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    http = new THTTP;
    http->Address = "127.0.0.1";
    http->Port = FreePort();
    http->TempDir = dir + "/";
    http->SetHomeDir(0, dir + "/");
    http->ConsoleField = &http;
  }
  void TearDown() override {
    delete http;
    http = nullptr;
    WinsockCleanup();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string dir;
  THTTP* http = nullptr;
};

TEST_F(EngineStart, TenStartsAndStopsLeaveNoDescriptorThreadOrLibrary) {
  ASSERT_TRUE(http->Start({}, {}, {}, 4, 8));
  http->Stop(1);
  int fds = CountEntries("/proc/self/fd");
  int threads = CountEntries("/proc/self/task");
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(http->Start({}, {}, {}, 4, 8)) << "start " << i;
    EXPECT_TRUE(ServerListening);
    EXPECT_NE(http->EngineLibrary, nullptr);
    EXPECT_NE(http->EngineMakeFileThread, nullptr);
    EXPECT_EQ(GetServerHwnd(), http->Handle()) << "the interface library is attached";
    http->Stop(1);
    EXPECT_FALSE(ServerListening);
    EXPECT_EQ(http->EngineLibrary, nullptr);
    EXPECT_EQ(GetServerHwnd(), 0u);
  }
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads);
  EXPECT_FALSE(EngineMapped());
  http->Stop(1);  // a stop of a stopped engine does nothing
}

TEST_F(EngineStart, AStartThatCannotListenLeavesTheEngineStopped) {
  // Another socket holds the port.
  int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(http->Port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  platform::MessageBoxScript boxes;
  EXPECT_FALSE(http->Start({}, {}, {}, 4, 8));
  EXPECT_FALSE(ServerListening);
  EXPECT_EQ(http->EngineLibrary, nullptr);
  EXPECT_FALSE(EngineMapped());
  EXPECT_EQ(GetServerHwnd(), 0u);
  EXPECT_EQ(http->OutsideCalls, nullptr);
  EXPECT_FALSE(boxes.Shown().empty()) << "the listening failure is reported";
  ::close(holder);
  // Once the port is free the engine starts as usual.
  EXPECT_TRUE(http->Start({}, {}, {}, 4, 8));
  http->Stop(1);
}

}  // namespace
}  // namespace e2e
