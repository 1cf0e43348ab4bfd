// The server under stress: files replaced while they are served, and
// clients that use up the descriptors. Each answer is checked whole.
#include <sys/resource.h>

#include <atomic>
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
  // A file that can no longer be opened as the one looked at: the header
  // and nothing after it.
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
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&] {
      while (std::chrono::steady_clock::now() < until) {
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
  EXPECT_GT(whole, 100) << "answers whole";
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

}  // namespace
}  // namespace e2e
