#include "server/wsock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "echo_server.h"
#include "foundation/serverconfig.h"
#include "platform/msgbox.h"
#include "server/eventcounters.h"

namespace {

using echo::Client;
using echo::PumpUntil;

const std::string kOverload =
    "HTTP/1.0 502 Overloaded\r\nContent-type: text/html\r\n\r\n"
    "<h1>502 Service Temporarily Overloaded</h1>\r\n";

// Descriptors this process holds.
int OpenDescriptors() {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++n;
  }
  return n;
}

class WSock : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WinsockStartup());
    port = echo::FreePort();
    char tmpl[] = "/tmp/halv-wsock-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    server.reset();
    platform::ResetClock();
    std::system(("rm -rf " + dir).c_str());
    WinsockCleanup();
  }
  void Start(int slots = 4) {
    server = std::make_unique<echo::Server>(port, slots);
    ASSERT_TRUE(server->srv.Listening) << "listening on " << port;
  }
  std::string MakeFile(const std::string& name, size_t size) {
    std::string path = dir + "/" + name, data(size, '\0');
    std::mt19937 rng(static_cast<unsigned>(size));
    for (char& ch : data) ch = static_cast<char>(rng());
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return path;
  }
  // Runs the client part on its own thread while this one pumps.
  std::string Exchange(const std::function<std::string()>& client) {
    auto f = std::async(std::launch::async, client);
    EXPECT_TRUE(PumpUntil([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return f.get();
  }
  TSock& Slot(int i) { return *server->srv.Connections[i]; }
  int Overloaded() {
    int n = 0;
    for (const auto& l : server->log) n += l.text == "502 Overloaded";
    return n;
  }

  platform::MessageBoxScript boxes;
  int port = 0;
  std::string dir;
  std::unique_ptr<echo::Server> server;
};

TEST_F(WSock, EchoesWhatItReads) {
  Start();
  std::string got = Exchange([&] {
    Client c(port);
    c.Send("hello\r\nworld\n");
    return c.ReadSome(14);
  });
  EXPECT_EQ(got, "hello\r\nworld\r\n");
  EXPECT_TRUE(server->HasLog("Listening..."));
}

TEST_F(WSock, SendsFilesWholeInBlocks) {
  Start();
  for (size_t size : {size_t{0}, size_t{16384}, size_t{100000}}) {
    std::string path = MakeFile("f" + std::to_string(size), size);
    std::ifstream in(path, std::ios::binary);
    std::string expect((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int32_t opened = EventCount(evFilesOpened), closed = EventCount(evFilesClosed);
    std::string got = Exchange([&] {
      Client c(port);
      c.Send("FILE " + path + "\n");
      return c.ReadAll();
    });
    EXPECT_EQ(got.size(), size);
    EXPECT_TRUE(got == expect) << "content of the " << size << "-byte file";
    EXPECT_EQ(EventCount(evFilesOpened), opened + 1);
    EXPECT_EQ(EventCount(evFilesClosed), closed + 1);
  }
}

// A small file still for a few seconds is sent from memory; a change in
// place (same size) or a replacement is seen at the next request.
TEST_F(WSock, ASmallSettledFileIsSentFromMemoryUntilItChanges) {
  Start();
  std::string path = MakeFile("small", 3000);
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  auto fetch = [&] {
    return Exchange([&] {
      Client c(port);
      c.Send("FILE " + path + "\n");
      return c.ReadAll();
    });
  };
  std::string first = fetch();
  ASSERT_EQ(first.size(), 3000u);
  int32_t opened = EventCount(evFilesOpened), closed = EventCount(evFilesClosed);
  EXPECT_EQ(fetch(), first);
  EXPECT_EQ(EventCount(evFilesOpened), opened + 1);
  EXPECT_EQ(EventCount(evFilesClosed), closed + 1);
  {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.write("changed", 7);
  }
  std::string second = fetch();
  EXPECT_EQ(second.size(), 3000u);
  EXPECT_EQ(second.substr(0, 7), "changed");
  EXPECT_EQ(second.substr(7), first.substr(7));
  std::string other = MakeFile("other", 1000);
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  EXPECT_EQ(fetch().size(), 1000u);
}

// A larger file goes from a descriptor kept open: every request still gets
// the file the name shows now, whole.
TEST_F(WSock, ALargerFileIsSentAsTheNameShowsItNow) {
  Start();
  std::string path = MakeFile("large", 100000);
  auto fetch = [&] {
    return Exchange([&] {
      Client c(port);
      c.Send("FILE " + path + "\n");
      return c.ReadAll();
    });
  };
  auto read = [&] {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  ASSERT_EQ(fetch(), read());
  int32_t opened = EventCount(evFilesOpened), closed = EventCount(evFilesClosed);
  EXPECT_EQ(fetch(), read());
  EXPECT_EQ(EventCount(evFilesOpened), opened + 1);
  EXPECT_EQ(EventCount(evFilesClosed), closed + 1);
  std::ofstream(path, std::ios::binary | std::ios::app) << "more";
  EXPECT_EQ(fetch(), read()) << "grown in place";
  ASSERT_EQ(::truncate(path.c_str(), 70000), 0);
  EXPECT_EQ(fetch(), read()) << "cut in place";
  std::string other = MakeFile("other", 80000);
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  EXPECT_EQ(fetch(), read()) << "replaced";
  EXPECT_EQ(fetch().size(), 80000u);
}

TEST_F(WSock, KillSentFileIsDeletedWhenItWasSent) {
  Start();
  std::string path = MakeFile("kill", 5000);
  server->srv.OnRead = [&](void*, int32_t cid) {
    ShortString line;
    if (FifoTakeLine(Slot(cid).InputFifo, line)) {
      Slot(cid).KillSent = true;
      server->srv.OpenSendFile(cid, path, true);
    }
  };
  std::string got = Exchange([&] {
    Client c(port);
    c.Send("go\n");
    return c.ReadAll();
  });
  EXPECT_EQ(got.size(), 5000u);
  EXPECT_FALSE(ShortFileExists(path));
}

TEST_F(WSock, OverloadAnswerIsExactAndLogged) {
  Start(1);
  auto first = std::make_unique<Client>(port);
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1; }));
  std::string got = Exchange([&] {
    Client c(port);
    c.Send("GET / HTTP/1.0\r\n\r\n");
    return c.ReadAll();
  });
  EXPECT_EQ(got, kOverload);
  EXPECT_EQ(got.size(), 97u);
  bool logged = false;
  for (const auto& l : server->log) logged = logged || (l.slot == 0 && l.socket == 0 && l.text == "502 Overloaded");
  EXPECT_TRUE(logged);
  EXPECT_EQ(OpenConnections, 1);
}

TEST_F(WSock, NoSlotsAnswersEveryConnectionOverloaded) {
  Start(0);
  for (int i = 0; i < 2; ++i) {
    std::string got = Exchange([&] {
      Client c(port);
      return c.ReadAll();
    });
    EXPECT_EQ(got, kOverload);
  }
  EXPECT_EQ(server->accepted, 0);
}

// An overload answer's socket whose client neither reads on nor closes is
// closed once its wait is over, though nothing else happens meanwhile.
TEST_F(WSock, OverloadSocketIsClosedWhenItsWaitIsOver) {
  Start(1);
  server->srv.OverloadLingerSeconds = 0.3;
  Client holder(port);
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1; }));
  const int before = OpenDescriptors();
  Client late(port);
  ASSERT_TRUE(PumpUntil([&] { return server->HasLog("502 Overloaded") && OpenDescriptors() == before + 2; }))
      << OpenDescriptors() - before << " descriptors more";
  EXPECT_EQ(late.ReadSome(kOverload.size() + 1, 1000), kOverload);
  EXPECT_TRUE(PumpUntil([&] { return OpenDescriptors() == before + 1; }, 3000))
      << "the overload socket still open after " << server->srv.OverloadLingerSeconds << " s";
}

// Overload answers whose clients never close: no more of their sockets
// wait for the close than there are slots; the oldest is closed at once
// when one more comes, and every client has its whole answer.
TEST_F(WSock, OverloadSocketsWaitingForTheirCloseAreAtMostAsManyAsSlots) {
  Start(2);
  Client a(port), b(port);
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 2; }));
  const int before = OpenDescriptors();
  std::vector<std::unique_ptr<Client>> late;
  for (int i = 0; i < 6; ++i) late.push_back(std::make_unique<Client>(port));
  ASSERT_TRUE(PumpUntil([&] { return Overloaded() == 6; }));
  EXPECT_EQ(OpenDescriptors(), before + 6 + 2) << "six clients, two overload sockets";
  for (auto& c : late) EXPECT_EQ(c->ReadAll(1000), kOverload);
}

// Clients from loopback addresses of their own, each making no progress:
// still reading its request, or not reading its answer. The slot each
// holds, and whether the server has closed it.
class Reclaim : public WSock {
 protected:
  void SetUp() override {
    WSock::SetUp();
    Restart();
  }
  void Restart() {
    held.clear();
    server.reset();
    Start(4);
    server->srv.ReadingRequest = [this](int32_t i) { return !Slot(i).FileInProgress; };
  }
  // Connects from each address in turn, and waits until each is accepted.
  void Hold(const std::vector<const char*>& from, int rcvbuf = 0) {
    for (const char* a : from) held.push_back(std::make_unique<Client>(port, a, rcvbuf));
    ASSERT_TRUE(PumpUntil([&] { return server->accepted == static_cast<int>(held.size()); }));
  }
  // The slot of a client (by its port), 0 for none.
  int SlotOf(const Client& c) {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    getsockname(c.fd(), reinterpret_cast<sockaddr*>(&local), &len);
    for (int i = 1; i <= 4; ++i)
      if (Slot(i).Connected && Slot(i).SockAddr.sin_port == local.sin_port) return i;
    return 0;
  }
  // Ages a held client's slot: accepted, and its answer last moved, that
  // many seconds ago.
  void Age(size_t client, double seconds) {
    TSock& s = Slot(SlotOf(*held[client]));
    s.AcceptedAt = s.MovedAt = platform::MonotonicSeconds() - seconds;
  }
  bool Closed(const Client& c) {
    bool timed_out = false;
    return c.ReadAll(200, &timed_out).empty() && !timed_out;
  }
  int HeldBy(const std::string& address) {
    int n = 0;
    for (int i = 1; i <= 4; ++i) n += Slot(i).Connected && Slot(i).PeerAddress.str() == address;
    return n;
  }
  // A client from that address says hello: its echo when it was served,
  // the overload answer's first bytes when not.
  std::string Hello(const char* from) {
    return Exchange([&] {
      Client c(port, from);
      c.Send("hello\n");
      return c.ReadSome(7, 2000);
    });
  }
  std::vector<std::unique_ptr<Client>> held;
};

// Every slot holds a stale reader (seconds since its accept). An address
// holding more than half of the slots trades its own oldest only after
// twice the wait; another address takes the oldest of all after the wait.
// A slot that still owes a late completion is never handed on.
TEST_F(Reclaim, AStaleReaderGivesWayToItsOwnAddressOnlyAfterTwiceTheWait) {
  const char *a = "127.0.0.2", *b = "127.0.0.3";
  struct Case {
    std::vector<const char*> from;
    std::vector<double> ages;
    const char* next;
    int closed;  // the held client closed for the new one, -1: none (overload answer)
    int late = -1;  // a held client whose slot still owes a late extension completion
  };
  const Case cases[] = {
      {{a, a, a, a}, {12, 15, 19, 11}, a, -1},
      {{a, a, a, a}, {12, 21, 25, 11}, a, 2},
      {{a, a, a, a}, {12, 15, 19, 11}, b, 2},
      {{a, a, a, b}, {21, 23, 9, 30}, a, 1},
      {{a, a, b, b}, {30, 25, 12, 11}, b, 1, 0},
  };
  for (const Case& k : cases) {
    Restart();
    Hold(k.from);
    for (size_t i = 0; i < k.ages.size(); ++i) Age(i, k.ages[i]);
    if (k.late >= 0) server->srv.LateCallOutstanding[SlotOf(*held[static_cast<size_t>(k.late)])] = true;
    const int index = static_cast<int>(&k - cases);
    EXPECT_EQ(Hello(k.next), k.closed < 0 ? "HTTP/1." : "hello\r\n") << "case " << index;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(SlotOf(*held[i]) == 0, i == k.closed) << "case " << index << ", client " << i;
  }
}

// An address holding more than half of the slots trades only its own:
// once none of its own is stale it gets the overload answer, though another
// address's slot is stale (the oldest of all); a client from an address
// holding none takes that one.
TEST_F(Reclaim, AnAddressHoldingMoreThanHalfTakesNoOtherAddressSlot) {
  Hold({"127.0.0.2", "127.0.0.2", "127.0.0.2", "127.0.0.3"});
  for (size_t i = 0; i < 3; ++i) Age(i, 21.0 + static_cast<double>(i));
  Age(3, 30);
  std::vector<std::unique_ptr<Client>> again;
  for (int i = 0; i < 4; ++i) again.push_back(std::make_unique<Client>(port, "127.0.0.2"));
  Client other(port, "127.0.0.4");
  ASSERT_TRUE(other.Connected());
  ASSERT_TRUE(PumpUntil([&] { return server->accepted - 4 + Overloaded() == 5; }));
  EXPECT_EQ(Overloaded(), 1);
  EXPECT_EQ(HeldBy("127.0.0.2"), 3);
  EXPECT_EQ(HeldBy("127.0.0.4"), 1);
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(Closed(*held[i])) << "client " << i;
  for (int i = 0; i < 3; ++i) EXPECT_NE(SlotOf(*again[i]), 0) << "new client " << i;
  EXPECT_EQ(again[3]->ReadSome(kOverload.size() + 1, 1000), kOverload);
  EXPECT_NE(SlotOf(other), 0);
}

// Every slot holds an answer its client does not read (a small receive
// buffer, full): the one that has not moved for longest gives way, as a
// stale reader does. A client that still takes bytes keeps its slot,
// however long ago its answer last moved.
TEST_F(Reclaim, AnAnswerThatHasNotMovedGivesWayUnlessItsClientStillTakesBytes) {
  const std::string big = dir + "/big";
  std::ofstream(big).close();
  ASSERT_EQ(::truncate(big.c_str(), off_t{64} << 20), 0);
  Hold({"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}, 4096);
  for (auto& c : held) c->Send("FILE " + big + "\n");
  auto blocked = [&](int i) { return Slot(i).FileInProgress && Slot(i).UnsentWhenBlocked >= 0; };
  ASSERT_TRUE(PumpUntil([&] { return blocked(1) && blocked(2) && blocked(3) && blocked(4); }));
  const double ages[] = {30, 15, 12, 5};
  for (size_t i = 0; i < 4; ++i) Age(i, ages[i]);
  EXPECT_EQ(Exchange([&] { return held[0]->ReadSome(32768, 5000); }).size(), 32768u);
  EXPECT_EQ(Hello("127.0.0.6"), "hello\r\n");
  EXPECT_EQ(Overloaded(), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(SlotOf(*held[i]) == 0, i == 1) << "client " << i;
}

TEST_F(WSock, SlotCountIsCappedAndAThirdKeepTheirFifos) {
  Start(300);
  EXPECT_EQ(server->srv.MaxSockets, 255);
  EXPECT_EQ(server->srv.MaxPersistentSockets, 85);
  server.reset();
  Start(16);
  EXPECT_EQ(server->srv.MaxPersistentSockets, 5);
}

TEST_F(WSock, FreshSlotAndInfoBlockAfterAccept) {
  Start(2);
  TSock& s = Slot(2);
  EXPECT_EQ(s.SocketNum, -1);
  EXPECT_FALSE(s.Connected);
  EXPECT_EQ(s.InputFifo, nullptr);
  EXPECT_EQ(s.Info.Marker, 0);
  EXPECT_STREQ(s.Info.TempDir, "/tmp/");
  Client c(port);
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1; }));
  TSock& a = Slot(1);
  EXPECT_EQ(a.Info.Marker, 3);
  EXPECT_EQ(a.Info.Cid, 1);
  EXPECT_EQ(a.Info.CallContext, 1);
  EXPECT_EQ(a.Info.Closed, 0);
  EXPECT_EQ(a.Info.SkipEngine, 0);
  EXPECT_EQ(a.Info.UnloadAfterCall, 0);
  EXPECT_EQ(a.Info.Reserved, 0);
  EXPECT_EQ(a.Info.Socket, a.SocketNum);
  EXPECT_EQ(a.Info.ClientIp, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(a.PeerAddress.str(), "127.0.0.1");
  EXPECT_EQ(a.Address.str(), "127.0.0.1");
}

TEST_F(WSock, CloseWhileAwaitingCompletionOnlyMarksTheBlock) {
  Start(2);
  {
    Client c(port);
    ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1; }));
    Slot(1).AwaitingCompletion = true;
  }
  ASSERT_TRUE(PumpUntil([&] { return Slot(1).Info.Closed == 1; }));
  EXPECT_TRUE(Slot(1).Connected);
  EXPECT_FALSE(server->HasLog("Done"));
  Slot(1).AwaitingCompletion = false;
  server->srv.DisconnectSlot(1);
  EXPECT_FALSE(Slot(1).Connected);
}

TEST_F(WSock, AcceptsNothingWhileStopAccepting) {
  Start(2);
  server->srv.Console.StopAccepting = true;
  Client c(port);
  echo::PumpFor(100);
  EXPECT_EQ(server->accepted, 0);
  EXPECT_EQ(OpenConnections, 0);
}

TEST_F(WSock, IdleSlotsTimeOutByTheClock) {
  Start(2);
  Client c(port);
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1; }));
  platform::TDateTime t = platform::EncodeDateTime(2026, 12, 8, 23, 59, 0);
  platform::SetNow(t);
  Slot(1).TouchActivity();
  platform::SetNow(t + 300.0 / platform::kSecondsPerDay);
  server->srv.CheckIdleTimeouts();
  EXPECT_TRUE(Slot(1).Connected) << "idle exactly 300 s";
  Slot(1).MarkBusy();
  platform::SetNow(t + 3000.0 / platform::kSecondsPerDay);
  server->srv.CheckIdleTimeouts();
  EXPECT_TRUE(Slot(1).Connected) << "busy slots are never timed out";
  Slot(1).MarkIdle();
  platform::SetNow(platform::Now() + 301.0 / platform::kSecondsPerDay);
  server->srv.CheckIdleTimeouts();
  EXPECT_FALSE(Slot(1).Connected);
  EXPECT_TRUE(server->HasLog("TimeOut"));
  EXPECT_TRUE(server->HasLog("Done"));
}

TEST_F(WSock, IdleOverDaysStillTimesOut) {
  Start(2);
  Client c(port);
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1; }));
  platform::TDateTime t = platform::EncodeDateTime(2026, 12, 8, 12, 0, 0);
  platform::SetNow(t);
  Slot(1).TouchActivity();
  platform::SetNow(t + 1.0 + 10.0 / platform::kSecondsPerDay);  // a day and ten seconds
  server->srv.CheckIdleTimeouts();
  EXPECT_FALSE(Slot(1).Connected);
}

TEST_F(WSock, GracefulStopWaitsForARunningSend) {
  Start(2);
  // Larger than the loopback buffers, and the client reads only once the
  // stop has begun, so the send is surely still running then.
  const size_t size = size_t{16} << 20;
  std::string path = MakeFile("big", size);
  std::atomic<bool> stopping{false};
  auto reader = std::async(std::launch::async, [&] {
    Client c(port);
    c.Send("FILE " + path + "\n");
    while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return c.ReadAll(30000);
  });
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1 && Slot(1).FileInProgress; }, 20000));
  stopping = true;
  server->srv.Stop(false);
  EXPECT_FALSE(ServerListening);
  EXPECT_EQ(reader.get().size(), size);
  EXPECT_FALSE(Slot(1).Connected);
}

TEST_F(WSock, AbortStopEndsConnectionsAtOnce) {
  Start(2);
  Client c(port);
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1; }));
  int32_t closed = EventCount(evSocketsClosed);
  server->srv.Stop(true);
  EXPECT_FALSE(Slot(1).Connected);
  EXPECT_EQ(Slot(1).Info.Closed, 1);
  EXPECT_EQ(EventCount(evSocketsClosed), closed + 2) << "listener and connection";
  char b;
  EXPECT_EQ(::recv(c.fd(), &b, 1, 0), 0);
}

TEST_F(WSock, GracefulStopAbortsAfterItsIdlePasses) {
  Start(2);
  server->srv.OnTimeOut = [&](void*, int32_t cid) { server->srv.DisconnectSlot(cid); };
  Client c(port);
  ASSERT_TRUE(PumpUntil([&] { return server->accepted == 1; }));
  server->srv.StopIdleSleepMs = 5;
  server->srv.StopIdlePassLimit = 4;
  server->srv.Stop(false);
  EXPECT_FALSE(Slot(1).Connected);
}

TEST_F(WSock, SocketCountersCountAcceptsAndCloses) {
  Start(4);
  int32_t opened = EventCount(evSocketsOpened), closed = EventCount(evSocketsClosed);
  {
    Client a(port), b(port), c(port);
    ASSERT_TRUE(PumpUntil([&] { return server->accepted == 3; }));
    EXPECT_EQ(OpenConnections, 3);
  }
  ASSERT_TRUE(PumpUntil([&] { return OpenConnections == 0; }));
  EXPECT_EQ(EventCount(evSocketsOpened), opened + 3);
  EXPECT_EQ(EventCount(evSocketsClosed), closed + 3);
}

TEST_F(WSock, DisconnectFreesTheFifosOfHighSlotsOnly) {
  Start(30);
  for (int i : {5, 20}) {
    FifoCreate(Slot(i).InputFifo);
    FifoCreate(Slot(i).OutputFifo);
    FifoAppend(Slot(i).InputFifo, "x");
    server->srv.DisconnectSlot(i);
  }
  ASSERT_NE(Slot(5).InputFifo, nullptr);
  EXPECT_EQ(Slot(5).InputFifo->Count, 0);
  EXPECT_NE(Slot(5).OutputFifo, nullptr);
  EXPECT_EQ(Slot(20).InputFifo, nullptr);
  EXPECT_EQ(Slot(20).OutputFifo, nullptr);
}

TEST_F(WSock, ListenFailuresShowTheirMessages) {
  struct Case {
    std::string address;
    int port;
    std::string message;  // the system's own words
    std::string detail;   // what an operator needs besides
  };
  int busy = port;
  Start(1);
  const std::string b = std::to_string(busy);
  const Case cases[] = {
      {"127.0.0.1", 0, "Host address and port not specified.", " (address \"127.0.0.1\", port 0)"},
      {"", 8080, "Host address and port not specified.", " (address \"\", port 8080)"},
      {"127.0.0.1", 65536, "FillSocket failed.", " (address \"127.0.0.1\", port 65536: the port is outside 1 to 65535)"},
      {"127.0.0.1", -5, "FillSocket failed.", " (address \"127.0.0.1\", port -5: the port is outside 1 to 65535)"},
      {"localhost", 8080, "FillSocket failed.",
       " (address \"localhost\", port 8080: the address is not a dotted IPv4 address)"},
      {"127.0.0.1", busy, "[WSAEADDRINUSE] Bind failed.", " bind(127.0.0.1:" + b + "): Address already in use"},
  };
  for (const Case& k : cases) {
    size_t before = boxes.Shown().size();
    echo::Server other(k.port, 1, k.address);
    EXPECT_FALSE(other.srv.Listening) << k.address << ":" << k.port;
    ASSERT_EQ(boxes.Shown().size(), before + 1) << k.message;
    EXPECT_EQ(boxes.Shown().back().text, k.message + k.detail);
    EXPECT_EQ(boxes.Shown().back().kind, platform::MsgKind::Error);
  }
}

TEST_F(WSock, BacklogOfZeroStillListens) {
  server = std::make_unique<echo::Server>(port, 2, "127.0.0.1", 0);
  EXPECT_TRUE(server->srv.Listening);
  EXPECT_TRUE(ServerListening);
}

TEST_F(WSock, ErrorNamesAreTheStandardOnes) {
  EXPECT_EQ(WinsockErrorName(10009), "WSAEBADF");
  EXPECT_EQ(WinsockErrorName(10035), "WSAEWOULDBLOCK");
  EXPECT_EQ(WinsockErrorName(10048), "WSAEADDRINUSE");
  EXPECT_EQ(WinsockErrorName(10093), "WSANOTINITIALISED");
  EXPECT_EQ(WinsockErrorName(11001), "WSAHOST_NOT_FOUND");
  EXPECT_NE(WinsockErrorName(10013), "WSAEACCES");
}

TEST_F(WSock, RecvOnAFreeSlotShowsItsBox) {
  Start(1);
  char buf[4];
  EXPECT_EQ(server->srv.SockRecv(1, buf, 4), 0);
  EXPECT_EQ(server->srv.SockSend(1, buf, 4), -1);
  ASSERT_GE(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[boxes.Shown().size() - 2].text, "SRecv on invalid socket.");
  EXPECT_EQ(boxes.Shown().back().text, "SSend on invalid socket.");
}

TEST(EventCounters, CountOnlyTheirIndexAndIgnoreTheHighBit) {
  ResetEventCounters();
  for (int i = 0; i < kEventCounterCount; ++i) EXPECT_EQ(EventCount(static_cast<uint8_t>(i)), 0);
  CountEvent(evBeginPost);
  CountEvent(static_cast<uint8_t>(evBeginPost | 128));
  EXPECT_EQ(EventCount(evBeginPost), 2);
  CountEvent(60);  // beyond the twelve: ignored
  EXPECT_EQ(EventCount(10), 0);
  EXPECT_EQ(EventCount(11), 0);
  TEventLog never_opened;
  EXPECT_EQ(never_opened.Handle(), 0u);
  TEventLog log;
  log.Open("Halv");
  EXPECT_NE(log.Handle(), 0u);
}

}  // namespace
