// The server under stress: files replaced while they are served, and
// clients that use up the descriptors. Each answer is checked whole.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <memory>

#include "tests/e2e/site.h"

namespace e2e {
namespace {

class StressTest : public Site {
 protected:
  void SetUp() override {
    Site::SetUp();
    AddRule(home_, "N");
    WriteFile(home_ + "notes.txt", "public\n");
  }
};

// ---------------------------------------------------------------------------
// Files replaced under readers

// Version g of a served file: its size alternates between two, and every
// byte is one letter that tells the version, so that a body shows which
// file it came from and a length which file was looked at.
struct Versions {
  std::size_t sizes[2];
  char Letter(unsigned g) const { return static_cast<char>('a' + g % 26); }
  std::size_t SizeOf(char letter) const { return sizes[(letter - 'a') % 2]; }
  std::string Content(unsigned g) const { return std::string(sizes[g % 2], Letter(g)); }
};

enum class Swap { kRenameOver, kSymlink };

struct SwapCase {
  const char* what;
  Swap swap;
  Versions versions;
};
void PrintTo(const SwapCase& c, std::ostream* os) { *os << c.what; }

// What one answer showed.
enum class Answer { kWhole, kEndedAfterHeader, kWrong };

Answer Judge(const std::string& got, const Versions& v, std::string* why) {
  const std::string head = "HTTP/1.0 200 OK\r\n";
  std::size_t end = got.find("\r\n\r\n");
  std::size_t at = got.find("Content-length: ");
  if (got.compare(0, head.size(), head) != 0 || end == std::string::npos || at == std::string::npos || at > end) {
    *why = "not a 200 answer: " + got.substr(0, 80);
    return Answer::kWrong;
  }
  const std::size_t length = std::stoul(got.substr(at + 16));
  const std::string body = got.substr(end + 4);
  // The header and nothing after it.
  if (body.empty() && length > 0) return Answer::kEndedAfterHeader;
  if (body.size() != length) {
    *why = "length " + std::to_string(length) + " with a body of " + std::to_string(body.size());
    return Answer::kWrong;
  }
  if (body.find_first_not_of(body[0]) != std::string::npos) {
    *why = "a body made of two files";
    return Answer::kWrong;
  }
  if (v.SizeOf(body[0]) != length) {
    *why = "length " + std::to_string(length) + " with the body of a file of " + std::to_string(v.SizeOf(body[0]));
    return Answer::kWrong;
  }
  return Answer::kWhole;
}

class SwapTest : public StressTest, public ::testing::WithParamInterface<SwapCase> {};

// While one thread replaces the file again and again (a rename over it, as
// editors and deploy tools save, or a swapped symbolic link), clients read
// it: every answer carries one file's length with that file's body.
TEST_P(SwapTest, HeaderAndBodyDescribeOneFile) {
  const SwapCase& c = GetParam();
  const std::string name = home_ + "file.bin";
  const std::string targets[2] = {home_ + "v0.bin", home_ + "v1.bin"};
  if (c.swap == Swap::kRenameOver) {
    WriteFile(name, c.versions.Content(0));
  } else {
    WriteFile(targets[0], c.versions.Content(0));
    WriteFile(targets[1], c.versions.Content(1));
    ASSERT_EQ(::symlink(targets[0].c_str(), name.c_str()), 0);
  }
  Start();

  std::atomic<bool> done{false};
  std::thread swapper([&] {
    const std::string fresh = home_ + "fresh.tmp";
    for (unsigned g = 1; !done; ++g) {
      ::unlink(fresh.c_str());
      if (c.swap == Swap::kRenameOver) {
        WriteFile(fresh, c.versions.Content(g));
      } else if (::symlink(targets[g % 2].c_str(), fresh.c_str()) != 0) {
        continue;
      }
      ::rename(fresh.c_str(), name.c_str());
    }
  });
  constexpr int kReaders = 3;
  std::atomic<int> whole{0}, ended{0}, wrong{0};
  std::string first_wrong;
  std::mutex lock;
  std::vector<std::thread> readers;
  // At least 1.5 s of swapping and at least kAnswers answers, however slow
  // the machine (a sanitizer build under load answers a few dozen a second).
  constexpr int kAnswers = 300;
  const auto start = std::chrono::steady_clock::now();
  const auto enough = [&] {
    const auto spent = std::chrono::steady_clock::now() - start;
    if (spent > std::chrono::seconds(60)) return true;
    return spent > std::chrono::milliseconds(1500) && whole + ended + wrong >= kAnswers;
  };
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&] {
      while (!enough()) {
        std::string why;
        switch (Judge(Get("GET /file.bin HTTP/1.0\r\n\r\n"), c.versions, &why)) {
          case Answer::kWhole: ++whole; break;
          case Answer::kEndedAfterHeader: ++ended; break;
          case Answer::kWrong: {
            ++wrong;
            std::lock_guard<std::mutex> hold(lock);
            if (first_wrong.empty()) first_wrong = why;
            break;
          }
        }
      }
    });
  }
  for (auto& t : readers) t.join();
  done = true;
  swapper.join();
  std::printf("%s: %d answers whole, %d ended after the header, %d wrong\n", c.what, whole.load(), ended.load(),
              wrong.load());
  EXPECT_EQ(wrong, 0) << "the first: " << first_wrong;
  // A replaced file is never cut: every answer carries its whole file.
  EXPECT_EQ(ended, 0) << "answers that ended after their header";
  EXPECT_GE(whole, kAnswers) << "answers whole";
}

INSTANTIATE_TEST_SUITE_P(
    Files, SwapTest,
    ::testing::Values(SwapCase{"rename-over, 1 KiB", Swap::kRenameOver, {{1024, 1536}}},
                      SwapCase{"rename-over, 100 KiB", Swap::kRenameOver, {{100 * 1024, 60 * 1024}}},
                      SwapCase{"symlink swap, 100 KiB", Swap::kSymlink, {{100 * 1024, 60 * 1024}}}),
    [](const ::testing::TestParamInfo<SwapCase>& info) {
      std::string n = info.param.what;
      std::string out;
      for (char ch : n)
        if (std::isalnum(static_cast<unsigned char>(ch))) out += ch;
      return out;
    });

// ---------------------------------------------------------------------------
// Out of descriptors

// Descriptors a process holds, and the processor time it has used.
int OpenDescriptors(pid_t pid) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    (void)entry;
    ++n;
  }
  return n;
}
double CpuSeconds(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stoull(field);
    if (i == 15) system = std::stoull(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}
int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

struct ExhaustCase {
  const char* what;
  // Fewer than the descriptors left: the rest get the overload answer. With
  // every slot taken, the overload sockets waiting for their client's close
  // (no more than the slots) take the descriptors that remain.
  int slots;
};
void PrintTo(const ExhaustCase& c, std::ostream* os) { *os << c.what; }

class ExhaustTest : public StressTest, public ::testing::WithParamInterface<ExhaustCase> {};

// More clients than the server has descriptors for: once accept fails for
// want of one, the server says so once, stops asking for connections for a
// while instead of spinning, still answers the connections it holds, and
// takes new ones once descriptors are free again.
TEST_P(ExhaustTest, TheServerWaitsForADescriptorWithoutSpinning) {
  constexpr int kLimit = 64;
  max_sockets_ = GetParam().slots;
  open_files_limit_ = kLimit;
  Start();
  const int room = kLimit - OpenDescriptors(pid_);
  ASSERT_GT(room, 8) << "descriptors left to the server";
  // Every descriptor left taken, and ten clients more waiting in the queue
  // (which holds sixteen).
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < room + 10; ++i) {
    clients.push_back(std::make_unique<Client>(port_));
    ASSERT_TRUE(clients.back()->Connected());
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (OpenDescriptors(pid_) < kLimit) {
    ASSERT_LT(std::chrono::steady_clock::now(), until) << "the server took " << OpenDescriptors(pid_) << " descriptors";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  // A second with the queue still full.
  const int lines_before = CountLines(ServerLog());
  const double cpu_before = CpuSeconds(pid_);
  const auto wall_before = std::chrono::steady_clock::now();
  // The connection in the first slot is served meanwhile: its file, which
  // the server has no descriptor to open for, is an internal error.
  clients.front()->Send("GET /notes.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(clients.front()->ReadAll(5000), Error(500, "Internal Error")) << "a connection the server holds";
  std::this_thread::sleep_until(wall_before + std::chrono::seconds(1));
  const double cpu = CpuSeconds(pid_) - cpu_before;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  const std::string log = ServerLog();
  const int lines = CountLines(log) - lines_before;
  std::printf("%s: %d descriptors left, %.2f s of processor time in %.2f s, %d log lines\n", GetParam().what, room,
              cpu, wall, lines);
  EXPECT_LT(cpu, 0.3 * wall) << "processor time while out of descriptors";
  // The served request's own lines, the one that tells the condition, and
  // at most an overload line for each client.
  EXPECT_LE(lines, static_cast<int>(clients.size()) + 20) << "log lines while out of descriptors";
  // Said once, with the call and the error.
  std::size_t said = log.find("accept(");
  ASSERT_NE(said, std::string::npos) << "no line on the failed accept";
  EXPECT_NE(log.find("Too many open files", said), std::string::npos) << log.substr(said, 200);
  EXPECT_EQ(log.find("accept(", said + 1), std::string::npos) << "said more than once";
  EXPECT_NE(log.find("open(" + home_ + "notes.txt): Too many open files"), std::string::npos) << "the failed open";

  // Descriptors free again: the server takes what waited in its queue,
  // and then a new client gets its page.
  const int baseline = kLimit - room;
  clients.clear();
  until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (OpenDescriptors(pid_) > baseline) {
    ASSERT_LT(std::chrono::steady_clock::now(), until) << "the server still holds " << OpenDescriptors(pid_);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The last of the queued connections may still hold a slot for a moment.
  std::string got;
  until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  do {
    got = Get("GET /notes.txt HTTP/1.0\r\n\r\n");
  } while (got.rfind("HTTP/1.0 502", 0) == 0 && std::chrono::steady_clock::now() < until);
  EXPECT_EQ(got, Ok("text/plain", "public\n"));
}

// More larger files, fetched one after another, than the server has
// descriptors for: the descriptors it keeps of earlier files give way.
TEST_F(StressTest, KeptDescriptorsGiveWayToTheNextFile) {
  constexpr int kFiles = 60;
  open_files_limit_ = 50;
  const std::string body(100 * 1024, 'f');
  for (int i = 0; i < kFiles; ++i) WriteFile(home_ + "f" + std::to_string(i) + ".txt", body);
  Start();
  std::map<std::string, int> answers;
  for (int i = 0; i < kFiles; ++i) {
    const std::string got = Get("GET /f" + std::to_string(i) + ".txt HTTP/1.0\r\n\r\n");
    ++answers[got == Ok("text/plain", body) ? "200 whole" : got.substr(0, got.find('\r'))];
  }
  for (const auto& [answer, n] : answers) std::printf("%d calls: %s\n", n, answer.c_str());
  EXPECT_EQ(answers["200 whole"], kFiles);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ExhaustTest,
                         ::testing::Values(ExhaustCase{"slots free", 64}, ExhaustCase{"slots full", 24}),
                         [](const ::testing::TestParamInfo<ExhaustCase>& info) {
                           return std::string(info.param.slots > 32 ? "SlotsFree" : "SlotsFull");
                         });

}  // namespace
}  // namespace e2e
