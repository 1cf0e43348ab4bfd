// The realm user store, alone and under calls from several threads.
#include <atomic>
#include <cctype>
#include <thread>
#include <vector>

#include "platform/datetime.h"
#include "tests/interface/tandrel_support.h"

namespace {

class RealmStoreTest : public AttachedFixture {
 protected:
  void SetUp() override {
    AttachedFixture::SetUp();
    realm_ = UniqueRealm("REALM");
    ASSERT_EQ(lib().AddRealm(SS(realm_)), 1);
  }
  void TearDown() override {
    platform::ResetClock();
    AttachedFixture::TearDown();
  }
  std::string RealmByNo(int32_t index) {
    SS out("garbage");
    lib().GetRealmByNo(out, index);
    return out.str();
  }
  std::string UserByNo(int32_t index, const std::string& realm) {
    SS out("garbage");
    lib().GetUserByNo(out, index, SS(realm));
    return out.str();
  }
  std::string realm_;
};

}  // namespace

TEST_F(RealmStoreTest, ARealmIsFoundWhateverItsCase) {
  int32_t index = lib().GetRealmIndex(SS(realm_));
  ASSERT_GE(index, 0);
  std::string lower = realm_;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(lib().GetRealmIndex(SS(lower)), index);
  EXPECT_EQ(RealmByNo(index), realm_);
  EXPECT_EQ(lib().GetRealmIndex(SS(UniqueRealm("ABSENT"))), -1);
}

TEST_F(RealmStoreTest, AddingARealmAgainInAnotherCaseGivesFalseAndKeepsTheFirstName) {
  int32_t count = lib().GetRealmCnt();
  std::string name = UniqueRealm("MixedCase");
  ASSERT_EQ(lib().AddRealm(SS(name)), 1);
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(lib().AddRealm(SS(upper)), 0);
  EXPECT_EQ(lib().AddRealm(SS(name)), 0);
  EXPECT_EQ(lib().GetRealmCnt(), count + 1);
  EXPECT_EQ(RealmByNo(lib().GetRealmIndex(SS(upper))), name);
}

TEST_F(RealmStoreTest, RealmsKeepTheOrderOfAdding) {
  std::string a = UniqueRealm("ORDER-A"), b = UniqueRealm("ORDER-B");
  ASSERT_EQ(lib().AddRealm(SS(a)), 1);
  ASSERT_EQ(lib().AddRealm(SS(b)), 1);
  int32_t n = lib().GetRealmCnt();
  EXPECT_EQ(RealmByNo(n - 2), a);
  EXPECT_EQ(RealmByNo(n - 1), b);
  EXPECT_EQ(lib().GetRealmIndex(SS(b)), n - 1);
}

TEST_F(RealmStoreTest, RealmByNoOutsideTheRangeGivesTheEmptyString) {
  EXPECT_EQ(RealmByNo(-1), "");
  EXPECT_EQ(RealmByNo(lib().GetRealmCnt()), "");
  EXPECT_EQ(RealmByNo(1 << 30), "");
  lib().GetRealmByNo(nullptr, 0);  // nothing to write into: no effect
}

TEST_F(RealmStoreTest, AddUserItemRecordsTheClientWithTheTimeAndUser) {
  platform::TDateTime when = platform::EncodeDateTime(2024, 5, 17, 10, 30, 0);
  platform::SetNow(when);
  EXPECT_EQ(lib().AddUserItem(SS("ANNA"), SS("10.0.0.1"), SS(realm_)), 1);
  TUserItem* item = nullptr;
  ASSERT_EQ(lib().GetUserItem(&item, SS("10.0.0.1"), SS(realm_)), 1);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->LastAccess, when);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(item->UserName + 1), item->UserName[0]), "ANNA");
  EXPECT_EQ(lib().GetRealmUserCnt(SS(realm_)), 1);
  EXPECT_EQ(UserByNo(0, realm_), "10.0.0.1");
}

TEST_F(RealmStoreTest, AddUserItemForAnAbsentRealmCreatesNothing) {
  int32_t realms = lib().GetRealmCnt();
  std::string absent = UniqueRealm("NOWHERE");
  EXPECT_EQ(lib().AddUserItem(SS("ANNA"), SS("10.0.0.1"), SS(absent)), 0);
  EXPECT_EQ(lib().GetRealmCnt(), realms);
  EXPECT_EQ(lib().GetRealmIndex(SS(absent)), -1);
  EXPECT_EQ(lib().GetRealmUserCnt(SS(absent)), 0);
}

TEST_F(RealmStoreTest, AddUserItemForAKnownAddressLeavesTheItem) {
  ASSERT_EQ(lib().AddUserItem(SS("ANNA"), SS("host.example"), SS(realm_)), 1);
  EXPECT_EQ(lib().AddUserItem(SS("BERT"), SS("HOST.EXAMPLE"), SS(realm_)), 0);
  EXPECT_EQ(lib().GetRealmUserCnt(SS(realm_)), 1);
  TUserItem* item = nullptr;
  ASSERT_EQ(lib().GetUserItem(&item, SS("Host.Example"), SS(realm_)), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(item->UserName + 1), item->UserName[0]), "ANNA");
}

TEST_F(RealmStoreTest, GetUserItemForAnUnknownClientLeavesTheReference) {
  TUserItem sentinel{};
  TUserItem* item = &sentinel;
  EXPECT_EQ(lib().GetUserItem(&item, SS("10.9.9.9"), SS(realm_)), 0);
  EXPECT_EQ(item, &sentinel);
  EXPECT_EQ(lib().GetUserItem(&item, SS("10.9.9.9"), SS(UniqueRealm("NONE"))), 0);
  EXPECT_EQ(item, &sentinel);
}

TEST_F(RealmStoreTest, TheServerWritesTheItemInPlaceAndUpdateConfirmsIt) {
  ASSERT_EQ(lib().AddUserItem(SS(""), SS("10.0.0.2"), SS(realm_)), 1);
  TUserItem* item = nullptr;
  ASSERT_EQ(lib().GetUserItem(&item, SS("10.0.0.2"), SS(realm_)), 1);
  item->LastAccess = 45000.25;
  SS user("CARLA");
  std::memcpy(item->UserName, user.s, sizeof item->UserName);
  EXPECT_EQ(lib().UpdateUserItem(item, SS("10.0.0.2"), SS(realm_)), 1);
  TUserItem* again = nullptr;
  ASSERT_EQ(lib().GetUserItem(&again, SS("10.0.0.2"), SS(realm_)), 1);
  EXPECT_EQ(again, item);
  EXPECT_EQ(again->LastAccess, 45000.25);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(again->UserName + 1), again->UserName[0]), "CARLA");
  EXPECT_EQ(lib().UpdateUserItem(item, SS("10.0.0.3"), SS(realm_)), 0);
  EXPECT_EQ(lib().UpdateUserItem(nullptr, SS("10.0.0.2"), SS(UniqueRealm("NONE"))), 0);
}

TEST_F(RealmStoreTest, DeleteRealmUserOnceThenNoMore) {
  ASSERT_EQ(lib().AddUserItem(SS("ANNA"), SS("10.0.0.1"), SS(realm_)), 1);
  ASSERT_EQ(lib().AddUserItem(SS("BERT"), SS("10.0.0.2"), SS(realm_)), 1);
  EXPECT_EQ(lib().DeleteRealmUser(SS("10.0.0.1"), SS(realm_)), 1);
  EXPECT_EQ(lib().DeleteRealmUser(SS("10.0.0.1"), SS(realm_)), 0);
  EXPECT_EQ(lib().DeleteRealmUser(SS("10.0.0.2"), SS(UniqueRealm("NONE"))), 0);
  EXPECT_EQ(lib().GetRealmUserCnt(SS(realm_)), 1);
  EXPECT_EQ(UserByNo(0, realm_), "10.0.0.2");
  TUserItem* item = nullptr;
  EXPECT_EQ(lib().GetUserItem(&item, SS("10.0.0.1"), SS(realm_)), 0);
}

// Deleting moves the later clients up; each is still found under its own
// address in any case, with its own item, and a deleted one can come back
// at the end.
TEST_F(RealmStoreTest, ClientsAfterADeletedOneKeepTheirItemsAndOrder) {
  auto address = [](int n) { return "host" + std::to_string(n) + ".example"; };
  std::vector<std::string> kept;
  for (int n = 0; n < 40; ++n) ASSERT_EQ(lib().AddUserItem(SS("U" + std::to_string(n)), SS(address(n)), SS(realm_)), 1);
  for (int n = 0; n < 40; ++n)
    if (n % 3 == 0 || n > 30)
      ASSERT_EQ(lib().DeleteRealmUser(SS(address(n)), SS(realm_)), 1);
    else
      kept.push_back(address(n));
  ASSERT_EQ(lib().AddUserItem(SS("AGAIN"), SS("HOST0.EXAMPLE"), SS(realm_)), 1);
  kept.push_back("HOST0.EXAMPLE");
  ASSERT_EQ(lib().GetRealmUserCnt(SS(realm_)), static_cast<int32_t>(kept.size()));
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(UserByNo(static_cast<int32_t>(i), realm_), kept[i]);
    std::string upper = kept[i];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    TUserItem* item = nullptr;
    ASSERT_EQ(lib().GetUserItem(&item, SS(upper), SS(realm_)), 1) << kept[i];
    std::string user(reinterpret_cast<const char*>(item->UserName + 1), item->UserName[0]);
    EXPECT_EQ(user, i + 1 == kept.size() ? "AGAIN" : "U" + kept[i].substr(4, kept[i].find('.') - 4));
  }
  TUserItem* item = nullptr;
  EXPECT_EQ(lib().GetUserItem(&item, SS(address(3)), SS(realm_)), 0);
  EXPECT_EQ(lib().GetUserItem(&item, SS(address(35)), SS(realm_)), 0);
}

TEST_F(RealmStoreTest, UserByNoOutsideTheRangeOrRealmGivesTheEmptyString) {
  ASSERT_EQ(lib().AddUserItem(SS("ANNA"), SS("10.0.0.1"), SS(realm_)), 1);
  EXPECT_EQ(UserByNo(1, realm_), "");
  EXPECT_EQ(UserByNo(-1, realm_), "");
  EXPECT_EQ(UserByNo(0, UniqueRealm("NONE")), "");
}

TEST_F(RealmStoreTest, LongNamesRoundTripAt255) {
  std::string realm = UniqueRealm("R") + std::string(300, 'x');  // cut to 255 by SS
  ASSERT_EQ(lib().AddRealm(SS(realm)), 1);
  std::string address(255, 'a');
  ASSERT_EQ(lib().AddUserItem(SS(std::string(255, 'u')), SS(address), SS(realm)), 1);
  EXPECT_EQ(RealmByNo(lib().GetRealmIndex(SS(realm))).size(), 255u);
  EXPECT_EQ(UserByNo(0, realm), address);
}

TEST_F(RealmStoreTest, MissingShortStringsCountAsEmpty) {
  EXPECT_EQ(lib().GetRealmUserCnt(nullptr), 0);
  EXPECT_EQ(lib().AddUserItem(nullptr, nullptr, SS(realm_)), 1) << "an empty address is an address";
  EXPECT_EQ(lib().AddUserItem(nullptr, SS(""), SS(realm_)), 0);
  EXPECT_EQ(lib().GetUserItem(nullptr, SS(""), SS(realm_)), 1);
  EXPECT_EQ(lib().DeleteRealmUser(nullptr, SS(realm_)), 1);
}

TEST_F(RealmStoreTest, UserCountAndInfoOfTheConnectionsRealm) {
  // The connection's realm is looked up upper-cased.
  std::string realm = UniqueRealm("CONNREALM");
  std::string lower = realm;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  Request(1).Realm = lower;
  int32_t n = -1;
  EXPECT_EQ(lib().GetUserCnt(&n, 1), 0);
  EXPECT_EQ(n, 0) << "an absent realm has no clients";

  ASSERT_EQ(lib().AddRealm(SS(realm)), 1);
  ASSERT_EQ(lib().AddUserItem(SS("ANNA"), SS("10.0.0.1"), SS(realm)), 1);
  ASSERT_EQ(lib().AddUserItem(SS("BERT"), SS("10.0.0.2"), SS(realm)), 1);
  EXPECT_EQ(lib().GetUserCnt(&n, 1), 0);
  EXPECT_EQ(n, 2);

  char address[256], user[256];
  TUserInfo info{address, user};
  EXPECT_EQ(lib().GetUserInfo(&info, 1, 1), 0);
  EXPECT_STREQ(address, "10.0.0.2");
  EXPECT_STREQ(user, "BERT");
  for (int32_t index : {2, -1}) {
    std::strcpy(address, "x");
    std::strcpy(user, "y");
    EXPECT_EQ(lib().GetUserInfo(&info, index, 1), 4) << index;
    EXPECT_STREQ(address, "") << index;
    EXPECT_STREQ(user, "") << index;
  }
  EXPECT_EQ(lib().GetUserInfo(&info, 0, 2), 2);
  EXPECT_EQ(lib().GetUserInfo(nullptr, 0, 1), 0);
  TUserInfo half{address, nullptr};
  EXPECT_EQ(lib().GetUserInfo(&half, 0, 1), 0);
  EXPECT_STREQ(address, "10.0.0.1");

  Request(1).Realm = UniqueRealm("GONE");
  EXPECT_EQ(lib().GetUserInfo(&info, 0, 1), 4) << "the connection's realm is absent";
}

TEST_F(RealmStoreTest, TheStoreWorksWhetherOrNotTheServerIsAttached) {
  Detach();
  ASSERT_EQ(lib().AddUserItem(SS("ANNA"), SS("10.0.0.7"), SS(realm_)), 1);
  EXPECT_EQ(lib().GetRealmUserCnt(SS(realm_)), 1);
  int32_t n = 9;
  EXPECT_EQ(lib().GetUserCnt(&n, 1), 1);
  EXPECT_EQ(n, 9);
}

// Threads of extension libraries and the server's own calls at once: every
// export takes the lock, so counts come out exact and nothing is read while
// another thread changes the lists.
TEST_F(RealmStoreTest, CallsFromSeveralThreadsAtOnce) {
  constexpr int kThreads = 6;
  constexpr int kClients = 150;
  std::vector<std::string> realms;
  for (int t = 0; t < kThreads; ++t) realms.push_back(UniqueRealm("THREAD"));
  Request(1).Realm = realms[0];

  std::atomic<bool> stop{false};
  std::atomic<long> sweeps{0};
  // The console's expiry sweep: by position, skipping a client that is gone.
  std::thread sweeper([&] {
    while (!stop.load()) {
      for (int32_t r = 0; r < lib().GetRealmCnt(); ++r) {
        SS name;
        lib().GetRealmByNo(name, r);
        for (int32_t u = 0; u < lib().GetRealmUserCnt(name); ++u) {
          SS address;
          lib().GetUserByNo(address, u, name);
          TUserItem* item = nullptr;
          if (!lib().GetUserItem(&item, address, name)) continue;
          (void)lib().GetRealmIndex(name);
        }
      }
      int32_t n = 0;
      char a[256], b[256];
      TUserInfo info{a, b};
      (void)lib().GetUserCnt(&n, 1);
      (void)lib().GetUserInfo(&info, 0, 1);
      sweeps.fetch_add(1);
    }
  });

  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      const std::string& realm = realms[static_cast<std::size_t>(t)];
      // Every thread also tries to add every other thread's realm.
      for (const std::string& r : realms) lib().AddRealm(SS(r));
      for (int i = 0; i < kClients; ++i) {
        std::string address = "10." + std::to_string(t) + ".0." + std::to_string(i);
        EXPECT_EQ(lib().AddUserItem(SS("U" + std::to_string(i)), SS(address), SS(realm)), 1);
        if (i % 2 == 1) {
          EXPECT_EQ(lib().DeleteRealmUser(SS(address), SS(realm)), 1);
        }
      }
    });
  }
  for (std::thread& w : workers) w.join();
  while (sweeps.load() < 2) std::this_thread::yield();
  stop.store(true);
  sweeper.join();

  for (const std::string& r : realms) {
    EXPECT_EQ(lib().GetRealmUserCnt(SS(r)), kClients / 2) << r;
    EXPECT_EQ(lib().AddRealm(SS(r)), 0) << r << " was added exactly once";
  }
  EXPECT_EQ(UserByNo(0, realms[2]), "10.2.0.0");
  EXPECT_EQ(UserByNo(1, realms[2]), "10.2.0.2");
}
