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

// Every slot taken: two clients that never read a large answer and two
// that trickle their request a byte at a time (each byte refreshes their
// idle time). Once they have had 10 seconds, new clients take the slots of
// the tricklers, oldest first; the slow readers keep theirs and lose
// nothing.
TEST_F(ClientsTest, SlowSendersGiveWayToNewClientsAndSlowReadersDoNot) {
  const std::string body = BigFile("big.bin", 16u << 20);
  Start();
  std::vector<std::unique_ptr<Client>> readers, senders;
  for (int i = 0; i < 2; ++i) {
    readers.push_back(std::make_unique<Client>(port_, nullptr, 16 * 1024));
    readers.back()->Send("GET /big.bin HTTP/1.0\r\n\r\n");
  }
  for (int i = 0; i < 2; ++i) {
    senders.push_back(std::make_unique<Client>(port_));
    senders.back()->Send("G");
    SleepMs(100);
  }
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n").substr(0, 23), "HTTP/1.0 502 Overloaded");
  for (int t = 0; t < 21; ++t) {
    for (auto& s : senders) s->Send("E");
    SleepMs(500);
  }
  // A client that sends nothing keeps the first trickler's slot; the next
  // takes the second's; then no slot qualifies. (They come from addresses
  // of their own: 127.0.0.1 holds every slot, and an address holding more
  // than half of them is not given a reclaimed one.)
  Client holder(port_, "127.0.0.2");
  SleepMs(200);
  EXPECT_EQ(senders[0]->ReadAll(2000), "") << "closed without an answer";
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n", "127.0.0.3"), Ok("text/plain", "public\n"));
  EXPECT_EQ(senders[1]->ReadAll(2000), "");
  Client second_holder(port_, "127.0.0.4");
  SleepMs(200);
  EXPECT_EQ(Get("GET /notes.txt HTTP/1.0\r\n\r\n").substr(0, 23), "HTTP/1.0 502 Overloaded");
  for (auto& r : readers) EXPECT_EQ(r->ReadAll(), OkHeader("application/unknown", body.size()) + body);
}

}  // namespace
}  // namespace e2e
