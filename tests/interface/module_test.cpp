// Loading the library, attaching and detaching, the connection check, the
// small exports and the export table.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "tests/interface/tandrel_support.h"

extern "C" int TandrelHeaderCheckFromC(void);

namespace {

// Asserts that each connection-based export gives `expected` on cid and
// changes nothing it should leave alone when the check fails.
void ExpectEveryConnectionExportGives(const TandrelLib& lib, int32_t cid, int expected) {
  SCOPED_TRACE("cid " + std::to_string(cid));
  char buf[256];
  auto primed = [&] {
    std::strcpy(buf, "untouched");
    return buf;
  };
  EXPECT_EQ(lib.GetMethod(primed(), cid), expected);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(lib.GetRequest(primed(), cid), expected);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(lib.GetHTTPVersion(primed(), cid), expected);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(lib.GetRemoteIp(primed(), cid), expected);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(lib.GetHeaderLine(primed(), 0, cid), expected);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(lib.GetHeaderValue(primed(), "Host", cid), expected);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(lib.GetAddedLine(primed(), 0, cid), expected);
  EXPECT_STREQ(buf, "");
  int32_t count = 7;
  EXPECT_EQ(lib.GetHeaderCnt(&count, cid), expected);
  EXPECT_EQ(count, 0);
  count = 7;
  EXPECT_EQ(lib.GetAddedLinesCnt(&count, cid), expected);
  EXPECT_EQ(count, 0);
  count = 7;
  EXPECT_EQ(lib.GetUserCnt(&count, cid), expected);
  EXPECT_EQ(count, 7) << "GetUserCnt leaves the count when the check fails";
  char address[256] = "a", user[256] = "u";
  TUserInfo info{address, user};
  EXPECT_EQ(lib.GetUserInfo(&info, 0, cid), expected);
  EXPECT_EQ(lib.AddHeaderLine("X-Test: 1", cid), expected);
  EXPECT_EQ(lib.ClearHeaderLines(cid), expected);
  EXPECT_EQ(lib.KillSent(cid), expected);
  EXPECT_EQ(lib.DirectReturn(cid), expected);
}

using LoadTest = EngineFixture;
using AttachTest = EngineFixture;
using ConnectionCheckTest = AttachedFixture;
using SmallExportsTest = AttachedFixture;

}  // namespace

TEST(TandrelExports, ExactlyTheThirtyFiveNamesResolve) {
  const TandrelLib& lib = Tandrel();
  ASSERT_NE(lib.handle, nullptr);
  std::size_t n = 0;
  const char* const* names = ExportNames(n);
  EXPECT_EQ(n, 35u);
  for (std::size_t i = 0; i < n; ++i) {
    void* f = dlsym(lib.handle, names[i]);
    ASSERT_NE(f, nullptr) << names[i];
    Dl_info where{};
    ASSERT_NE(dladdr(f, &where), 0);
    EXPECT_NE(std::string(where.dli_fname).find("libtandrel.so"), std::string::npos) << names[i];
  }
}

TEST(TandrelExports, InternalNamesStayHidden) {
  const TandrelLib& lib = Tandrel();
  ASSERT_NE(lib.handle, nullptr);
  for (const char* name : {"InitServerInterface", "TemplateTagHandler", "CheckConnection",
                           "_Z14AllocatedBytesv", "_Z15OpenConfigFilesv", "_ZN7tandrel15CheckConnectionEi"}) {
    EXPECT_EQ(dlsym(lib.handle, name), nullptr) << name;
  }
}

TEST(TandrelExports, PublicHeaderCompilesAsC) {
  EXPECT_EQ(TandrelHeaderCheckFromC(), 80 + 280 + 408 + 34 + 264 + 160 + 256 + 128);
}

// In a test process of its own (as ctest runs each test) this is the
// library's state right after its load.
TEST_F(LoadTest, BeforeLoadServerEveryConnectionExportGivesOne) {
  MakeSlots(3);
  Connect(1);
  int32_t major = 0, minor = 5;
  EXPECT_EQ(lib().GetDLLVer(&major, &minor), 1);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 0);
  for (int32_t cid : {0, 1, 2, 256}) ExpectEveryConnectionExportGives(lib(), cid, 1);
  EXPECT_FALSE(Slot(1)->KillSent);
  EXPECT_EQ(engine_->Replies[1].DirectReturn, 0);
  char buf[256] = "untouched";
  EXPECT_EQ(lib().GetTempDir(buf), 1);
  EXPECT_EQ(lib().GetHomeDir(buf), 1);
  EXPECT_EQ(lib().GetRealmName(buf, 1), 1);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(lib().GetServerHwnd(), 0u);
}

TEST_F(AttachTest, AfterUnLoadServerEveryConnectionExportGivesOneAgain) {
  MakeSlots(3);
  Connect(1);
  Attach();
  int32_t major = 0, minor = 0;
  EXPECT_EQ(lib().GetDLLVer(&major, &minor), 0);
  char buf[256];
  EXPECT_EQ(lib().GetMethod(buf, 1), 0);
  Detach();
  EXPECT_EQ(lib().GetDLLVer(&major, &minor), 1);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 0);
  ExpectEveryConnectionExportGives(lib(), 1, 1);
  EXPECT_FALSE(Slot(1)->KillSent);
  EXPECT_EQ(lib().GetTempDir(buf), 1);
  EXPECT_EQ(lib().GetHomeDir(buf), 1);
  EXPECT_EQ(lib().GetRealmName(buf, 1), 1);
}

TEST_F(AttachTest, AttachDetachAttachKeepsRealmsAndRenewsAddedLines) {
  MakeSlots(3);
  Connect(1);
  Attach();
  std::string realm = UniqueRealm("KEPT");
  ASSERT_EQ(lib().AddRealm(SS(realm)), 1);
  ASSERT_EQ(lib().AddUserItem(SS("ANNA"), SS("10.0.0.1"), SS(realm)), 1);
  int32_t realms = lib().GetRealmCnt();
  ASSERT_EQ(lib().AddHeaderLine("Set-Cookie: a=1", 1), 0);
  int32_t n = -1;
  ASSERT_EQ(lib().GetAddedLinesCnt(&n, 1), 0);
  ASSERT_EQ(n, 1);

  Detach();
  EXPECT_EQ(lib().GetRealmCnt(), realms);
  Attach();
  EXPECT_EQ(lib().GetRealmCnt(), realms);
  EXPECT_GE(lib().GetRealmIndex(SS(realm)), 0);
  EXPECT_EQ(lib().GetRealmUserCnt(SS(realm)), 1);
  n = -1;
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 1), 0);
  EXPECT_EQ(n, 0) << "the lists are new after attaching again";
}

TEST_F(AttachTest, LoadServerTwiceGivesFreshListsForTheNewSlotCount) {
  MakeSlots(2);
  Connect(1);
  Attach();
  ASSERT_EQ(lib().AddHeaderLine("X-A: 1", 1), 0);
  MakeSlots(5);
  Connect(1);
  Connect(5);
  Attach();
  int32_t n = -1;
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 1), 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(lib().AddHeaderLine("X-B: 2", 5), 0);
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 5), 0);
  EXPECT_EQ(n, 1);
}

TEST_F(AttachTest, LoadServerWithoutAVariableAttachesNothing) {
  lib().LoadServer(nullptr);
  int32_t major = 0, minor = 0;
  EXPECT_EQ(lib().GetDLLVer(&major, &minor), 1);
}

TEST_F(AttachTest, TheServerVariableIsReadAnewOnEveryCall) {
  MakeSlots(2);
  Connect(1);
  Attach();
  char buf[256];
  ASSERT_EQ(lib().GetRemoteIp(buf, 1), 0);
  EXPECT_STREQ(buf, "127.0.0.1");

  auto other = std::make_unique<THTTP>();
  other->MaxSockets = 1;
  other->Connections[1] = new TSock(other.get(), 1, "/tmp/");
  other->Connections[1]->Connected = true;
  other->Connections[1]->PeerAddress = "192.168.7.7";
  server_var_ = other.get();
  EXPECT_EQ(lib().GetRemoteIp(buf, 1), 0);
  EXPECT_STREQ(buf, "192.168.7.7");
  EXPECT_EQ(lib().GetRemoteIp(buf, 2), 1) << "the other engine has one slot";

  // A variable that names no engine: nothing is reachable, nothing crashes.
  server_var_ = nullptr;
  EXPECT_EQ(lib().GetRemoteIp(buf, 1), 1);
  EXPECT_EQ(lib().GetTempDir(buf), 1);
  EXPECT_EQ(lib().GetServerHwnd(), 0u);
  int32_t n = 5;
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 1), 1);
  Detach();
  server_var_ = engine_.get();
}

TEST_F(ConnectionCheckTest, CidsOutsideTheSlotsGiveOne) {
  for (int32_t cid : {0, -1, -100000, 256, 4, 255, 1 << 30}) ExpectEveryConnectionExportGives(lib(), cid, 1);
}

TEST_F(ConnectionCheckTest, ASlotWithoutAnObjectGivesOne) {
  delete engine_->Connections[3];
  engine_->Connections[3] = nullptr;
  ExpectEveryConnectionExportGives(lib(), 3, 1);
}

TEST_F(ConnectionCheckTest, ASlotWithoutAClientGivesTwoAndAConnectedOneZero) {
  char buf[256];
  EXPECT_EQ(lib().GetMethod(buf, 2), 2);
  EXPECT_EQ(lib().GetMethod(buf, 1), 0);
  int32_t n = -1;
  EXPECT_EQ(lib().GetHeaderCnt(&n, 2), 2);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(lib().GetHeaderCnt(&n, 1), 0);
}

TEST_F(ConnectionCheckTest, SlotsMadeByTheListeningServerAreFreeUntilAClientComes) {
  // A port the kernel picks, free again at once for the server to take.
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(probe, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  ::close(probe);

  MakeSlots(0);
  engine_->Address = "127.0.0.1";
  engine_->Port = ntohs(addr.sin_port);
  engine_->Init(nullptr, 4, 5, "/tmp/");
  ASSERT_EQ(engine_->MaxSockets, 4);
  Attach();
  char buf[256];
  for (int32_t cid = 1; cid <= 4; ++cid) EXPECT_EQ(lib().GetRemoteIp(buf, cid), 2) << cid;
  EXPECT_EQ(lib().GetRemoteIp(buf, 5), 1);
  EXPECT_EQ(lib().KillSent(4), 2);
  EXPECT_TRUE(engine_->Connections[4]->KillSent);
  EXPECT_EQ(lib().GetServerHwnd(), engine_->Handle());
}

TEST_F(SmallExportsTest, GetSystemDirIsAlwaysEmptyAndZero) {
  char buf[256] = "something";
  EXPECT_EQ(lib().GetSystemDir(buf), 0);
  EXPECT_STREQ(buf, "");
  Detach();
  std::strcpy(buf, "something");
  EXPECT_EQ(lib().GetSystemDir(buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(lib().GetSystemDir(nullptr), 0);
}

TEST_F(SmallExportsTest, GetDLLVerWithoutOutputsStillAnswers) { EXPECT_EQ(lib().GetDLLVer(nullptr, nullptr), 0); }

TEST_F(SmallExportsTest, GetServerHwndNamesTheServerWindow) {
  EXPECT_NE(engine_->Handle(), 0u);
  EXPECT_EQ(lib().GetServerHwnd(), engine_->Handle());
}

TEST_F(SmallExportsTest, GetMemoryUsedCountsTheLibrarysBlocksOnly) {
  int32_t before = lib().GetMemoryUsed();
  EXPECT_GT(before, 0) << "the library's configuration objects and realm list are its own blocks";

  // The test program's blocks are not the library's.
  std::vector<std::unique_ptr<char[]>> mine;
  for (int i = 0; i < 16; ++i) mine.push_back(std::make_unique<char[]>(100000));
  auto big = std::make_unique<std::string>(300000, 'x');
  EXPECT_EQ(lib().GetMemoryUsed(), before);

  std::string realm = UniqueRealm("MEMORY-" + std::string(200, 'R'));
  ASSERT_EQ(lib().AddRealm(SS(realm)), 1);
  int32_t after_realm = lib().GetMemoryUsed();
  EXPECT_GT(after_realm, before);
  ASSERT_EQ(lib().AddUserItem(SS("ANNA"), SS("10.1.2.3"), SS(realm)), 1);
  int32_t after_user = lib().GetMemoryUsed();
  EXPECT_GE(after_user - after_realm, static_cast<int32_t>(sizeof(TUserItem)));

  ASSERT_EQ(lib().DeleteRealmUser(SS("10.1.2.3"), SS(realm)), 1);
  EXPECT_LT(lib().GetMemoryUsed(), after_user);

  // Added lines are the library's blocks too.
  int32_t before_lines = lib().GetMemoryUsed();
  ASSERT_EQ(lib().AddHeaderLine(std::string(400, 'L').c_str(), 1), 0);
  int32_t with_line = lib().GetMemoryUsed();
  EXPECT_GT(with_line, before_lines);
  ASSERT_EQ(lib().ClearHeaderLines(1), 0);
  EXPECT_LT(lib().GetMemoryUsed(), with_line);
}
