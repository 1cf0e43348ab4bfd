// Clients that misbehave: half-closed, reset, slow to send or never reading.
// The server must answer what was asked in full, keep serving everyone else
// and lose nothing.
#include <memory>

#include "tests/e2e/site.h"

namespace e2e {
namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class ClientsTest : public Site {
 protected:
  void SetUp() override {
    Site::SetUp();
    AddRule(home_, "N");
    WriteFile(home_ + "notes.txt", "public\n");
  }
  // A file of n bytes whose content shows where a cut happened.
  std::string BigFile(const std::string& name, std::size_t n) {
    std::string body(n, '\0');
    for (std::size_t i = 0; i < n; ++i) body[i] = static_cast<char>('a' + (i / 4096) % 26);
    WriteFile(home_ + name, body);
    return body;
  }
};

TEST_F(ClientsTest, AHalfClosedClientGetsItsWholeAnswer) {
  const std::string body = BigFile("big.bin", 16u << 20);
  Start();
  Client c(port_, nullptr, 64 * 1024);
  ASSERT_TRUE(c.Connected());
  c.Send("GET /big.bin HTTP/1.0\r\n\r\n");
  c.ShutWrite();
  // The server sees the end of the request stream long before the answer
  // has left its buffers.
  SleepMs(300);
  std::string got = c.ReadAll();
  ASSERT_EQ(got.size(), OkHeader("application/unknown", body.size()).size() + body.size());
  EXPECT_EQ(got, OkHeader("application/unknown", body.size()) + body);
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n"), Ok("text/plain", "public\n"));
}

TEST_F(ClientsTest, ClientsResettingMidAnswerLeaveEverySlotServing) {
  const std::string body = BigFile("big.bin", 4u << 20);
  Start();
  // More resets than slots: a slot that a reset left behind would show.
  for (int i = 0; i < 6; ++i) {
    Client c(port_, nullptr, 16 * 1024);
    c.Send("GET /big.bin HTTP/1.0\r\n\r\n");
    char buf[4096];
    ASSERT_GT(::recv(c.fd(), buf, sizeof buf, 0), 0);
    c.Reset();
  }
  std::vector<std::unique_ptr<Client>> all;
  for (int i = 0; i < 4; ++i) {
    all.push_back(std::make_unique<Client>(port_));
    all.back()->Send("GET /notes.txt HTTP/1.0\r\n\r\n");
  }
  for (auto& c : all) EXPECT_EQ(c->ReadAll(), Ok("text/plain", "public\n"));
}

// Every slot taken: a client that never reads a large answer, one that
// reads it slowly, and two that trickle their request a byte at a time
// (each byte refreshes their idle time). Once they have had 10 seconds, new
// clients take the slots of the three that make no progress; the slow
// reader keeps its slot and loses nothing.
TEST_F(ClientsTest, ClientsThatMakeNoProgressGiveWayAndASlowReaderDoesNot) {
  const std::string body = BigFile("big.bin", 16u << 20);
  const std::string whole = OkHeader("application/unknown", body.size()) + body;
  Start();
  Client idle(port_, nullptr, 16 * 1024), slow(port_, nullptr, 16 * 1024);
  idle.Send("GET /big.bin HTTP/1.0\r\n\r\n");
  slow.Send("GET /big.bin HTTP/1.0\r\n\r\n");
  std::vector<std::unique_ptr<Client>> senders;
  for (int i = 0; i < 2; ++i) {
    SleepMs(100);
    senders.push_back(std::make_unique<Client>(port_));
    senders.back()->Send("G");
  }
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n").substr(0, 23), "HTTP/1.0 502 Overloaded");
  std::string got;
  for (int t = 0; t < 21; ++t) {
    for (auto& s : senders) s->Send("E");
    got += slow.ReadSome(16 * 1024, 2000);
    SleepMs(500);
  }
  // From addresses of their own: 127.0.0.1 holds every slot, and an address
  // holding more than half of them may only trade its own, after 20 seconds.
  std::vector<std::unique_ptr<Client>> holders;
  for (const char* from : {"127.0.0.2", "127.0.0.3", "127.0.0.4"})
    holders.push_back(std::make_unique<Client>(port_, from));
  SleepMs(200);
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n").substr(0, 23), "HTTP/1.0 502 Overloaded");
  const std::string cut = idle.ReadAll(2000);
  EXPECT_LT(cut.size(), whole.size()) << "the answer not read was cut";
  EXPECT_TRUE(cut == whole.substr(0, cut.size())) << "what came of it is its beginning";
  for (auto& s : senders) EXPECT_EQ(s->ReadAll(2000), "") << "closed without an answer";
  got += slow.ReadAll();
  EXPECT_EQ(got.size(), whole.size());
  EXPECT_TRUE(got == whole) << "the slow reader's answer";
}

}  // namespace
}  // namespace e2e
