// The file of a 200 answer in process: between the look that chose the
// status and the open before the header, the name is given another file, a
// directory or nothing, or the process runs out of descriptors. The header
// must describe what the open found, and the body must be that file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "interface/tandrel.h"
#include "platform/msgloop.h"
#include "server/fileresolve.h"
#include "server/httpreply.h"
#include "server/httpunit.h"

namespace {

void Write(const std::string& path, std::size_t size, char letter) {
  std::ofstream(path, std::ios::binary) << std::string(size, letter);
}

// Runs fn inside one handler of a message, where a file is looked at once.
void InOneHandler(const std::function<void()>& fn) {
  platform::HWND h = platform::CreateWindowHandle([&](const platform::MSG&) { fn(); });
  ASSERT_TRUE(platform::PostMessage(h, platform::WM_USER, 0, 0));
  platform::MSG msg{};
  ASSERT_TRUE(platform::GetMessage(msg));
  platform::DispatchMessage(msg);
  platform::DestroyWindowHandle(h);
}

// Every descriptor of the process taken, under a lowered soft limit; both
// given back at the end.
class DescriptorsTaken {
 public:
  DescriptorsTaken() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = 256;
    setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = ::dup(0)) >= 0;) held_.push_back(fd);
  }
  ~DescriptorsTaken() {
    for (int fd : held_) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }
  bool Exhausted() const { return !held_.empty() && errno == EMFILE; }

 private:
  rlimit saved_{};
  std::vector<int> held_;
};

enum class Change { kNone, kRenamedOver, kDeleted, kDirectory, kFifo, kNoDescriptors };

struct Case {
  const char* what;
  std::size_t size;  // of the file looked at
  Change change;
  std::size_t new_size;  // of the file renamed over it
  int status;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

class AnswerFileTest : public ::testing::TestWithParam<std::tuple<Case, bool>> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-answer-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    WinsockStartup();
    engine_ = std::make_unique<THTTP>();
    engine_->Init(nullptr, 2, 5, root_ + "/");
    engine_->Connections[1]->Connected = true;
    for (int32_t i = 1; i <= engine_->MaxSockets; ++i) InitSlotRecord(engine_->Requests[i], engine_.get(), i);
    engine_->HttpLogProc = [this](int32_t, int32_t, std::string_view text) { log_.emplace_back(text); };
    var_ = engine_.get();
    LoadServer(&var_);
  }
  void TearDown() override {
    engine_->CloseSendFile(1, false);
    UnLoadServer();
    engine_->Connections[1]->Connected = false;
    engine_.reset();
    std::filesystem::remove_all(root_);
  }

  // The header, then the bytes the slot would send.
  std::string Answer() {
    TSock* c = engine_->Connections[1];
    TByteFifo* f = c->OutputFifo;
    std::string got(reinterpret_cast<const char*>(f->Data + f->Start - 1), f->Count);
    if (!c->FileOpen) return got;
    if (c->FileBytes) return got + *c->FileBytes;
    std::string body(static_cast<std::size_t>(c->FileSize), '\0');
    EXPECT_EQ(::pread(c->SendFile, body.data(), body.size(), 0), static_cast<ssize_t>(body.size()));
    return got + body;
  }

  std::string root_;
  std::unique_ptr<THTTP> engine_;
  THTTP* var_ = nullptr;
  std::vector<std::string> log_;
};

// A HEAD answer has the header its GET would have.
TEST_P(AnswerFileTest, TheHeaderDescribesWhatTheOpenFound) {
  const auto& [c, head] = GetParam();
  const std::string path = root_ + "/file.bin";
  Write(path, c.size, 'a');
  TReplyRecord& rp = engine_->Replies[1];
  bool exhausted = true;
  InOneHandler([&] {
    ASSERT_TRUE(IsRegularFile(path));  // the look that gives 200
    rp.Status = 200;
    rp.FileName = path;
    engine_->Requests[1].Method = head ? rmHead : rmGet;
    if (c.change == Change::kRenamedOver) {
      Write(root_ + "/fresh.tmp", c.new_size, 'b');
      ASSERT_EQ(std::rename((root_ + "/fresh.tmp").c_str(), path.c_str()), 0);
    } else if (c.change != Change::kNone && c.change != Change::kNoDescriptors) {
      ASSERT_EQ(::unlink(path.c_str()), 0);
      const int made = c.change == Change::kDirectory ? ::mkdir(path.c_str(), 0755)
                       : c.change == Change::kFifo    ? ::mkfifo(path.c_str(), 0644)
                                                      : 0;
      ASSERT_EQ(made, 0);
    }
    std::unique_ptr<DescriptorsTaken> taken;
    if (c.change == Change::kNoDescriptors) {
      taken = std::make_unique<DescriptorsTaken>();
      exhausted = taken->Exhausted();
    }
    engine_->OpenAnswerFile(1);
    taken.reset();
    WriteResponseHeader(rp, 1, *engine_);
  });
  ASSERT_TRUE(exhausted);
  const std::string reason = StatusText(c.status).str();
  const std::string status = std::to_string(c.status) + " " + reason;
  const std::string got = Answer();
  const std::size_t end = got.find("\r\n\r\n");
  ASSERT_NE(end, std::string::npos) << got.substr(0, 200);
  const std::string header = got.substr(0, end + 4), body = got.substr(end + 4);
  if (c.status == 200) {
    const std::size_t size = c.change == Change::kRenamedOver ? c.new_size : c.size;
    const char letter = c.change == Change::kRenamedOver ? 'b' : 'a';
    EXPECT_EQ(header, "HTTP/1.0 200 OK\r\nServer: Halvorine/2.41\r\nContent-type: application/unknown\r\n"
                      "Content-length: " + std::to_string(size) + "\r\n\r\n");
    if (!head) {
      EXPECT_EQ(body.size(), size);
      EXPECT_EQ(body.find_first_not_of(letter), std::string::npos) << "a body of the file opened";
    }
  } else {
    EXPECT_EQ(got, "HTTP/1.0 " + status + "\r\nServer: Halvorine/2.41\r\nContent-type: text/html\r\n\r\n<h1>" +
                       status + "</h1>\r\n");
  }
  EXPECT_EQ(rp.Status, c.status);
  // A file there that cannot be opened is said once, with the call, the
  // path and the system's error; nothing else is.
  int said = 0;
  for (const std::string& line : log_)
    if (line.find("open(") != std::string::npos) {
      ++said;
      EXPECT_NE(line.find("open(" + path + "): " + std::strerror(EMFILE)), std::string::npos) << line;
    }
  EXPECT_EQ(said, c.status == 500 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, AnswerFileTest,
    ::testing::Combine(::testing::Values(Case{"unchanged, small", 1000, Change::kNone, 0, 200},
                      Case{"unchanged, large", 100000, Change::kNone, 0, 200},
                      Case{"renamed over, small", 1000, Change::kRenamedOver, 1500, 200},
                      Case{"renamed over, large", 100000, Change::kRenamedOver, 70000, 200},
                      Case{"renamed over, large to small", 100000, Change::kRenamedOver, 3000, 200},
                      Case{"deleted", 1000, Change::kDeleted, 0, 404},
                      Case{"replaced by a directory", 100000, Change::kDirectory, 0, 404},
                      Case{"replaced by a FIFO", 1000, Change::kFifo, 0, 404},
                      Case{"out of descriptors, small", 1000, Change::kNoDescriptors, 0, 500},
                      Case{"out of descriptors, large", 100000, Change::kNoDescriptors, 0, 500}),
                       ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<Case, bool>>& info) {
      std::string out = std::get<1>(info.param) ? "HEAD" : "GET";
      for (char ch : std::string(std::get<0>(info.param).what))
        if (std::isalnum(static_cast<unsigned char>(ch))) out += ch;
      return out;
    });

}  // namespace
