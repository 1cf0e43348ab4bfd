// The minute timer's realm sweep over the interface library's realm store.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/app.h"
#include "interface/tandrel.h"
#include "platform/datetime.h"
#include "server/eventcounters.h"

namespace {

void Short(THalvShortString out, const std::string& text) {
  out[0] = static_cast<unsigned char>(text.size());
  std::memcpy(out + 1, text.data(), text.size());
}

TEST(ElapsedMinutes, CutsEachTimeToItsMinuteAndCountsTheDate) {
  using platform::EncodeDateTime;
  struct Case {
    platform::TDateTime from, to;
    int64_t minutes;
  } cases[] = {
      {EncodeDateTime(2026, 3, 2, 10, 50, 0), EncodeDateTime(2026, 3, 2, 11, 5, 0), 15},
      {EncodeDateTime(2026, 3, 2, 10, 50, 59), EncodeDateTime(2026, 3, 2, 11, 5, 0), 15},
      {EncodeDateTime(2026, 3, 2, 10, 50, 0), EncodeDateTime(2026, 3, 2, 11, 6, 0), 16},
      {EncodeDateTime(2026, 3, 2, 23, 55, 0), EncodeDateTime(2026, 3, 3, 0, 11, 0), 16},
      // Ticks missed for an hour or a day count in full.
      {EncodeDateTime(2026, 3, 2, 10, 50, 0), EncodeDateTime(2026, 3, 2, 12, 0, 0), 70},
      {EncodeDateTime(2026, 3, 2, 10, 50, 0), EncodeDateTime(2026, 3, 3, 10, 51, 0), 1441},
      {EncodeDateTime(2026, 3, 2, 10, 50, 0), EncodeDateTime(2026, 3, 2, 10, 49, 0), -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ElapsedMinutes(c.from, c.to), c.minutes)
        << platform::FormatDateTime(c.from) << " to " << platform::FormatDateTime(c.to);
}

TEST(RealmExpiry, DropsOnlyClientsIdleMoreThanFifteenMinutesInEveryRealm) {
  THalvShortString a = {}, b = {};
  Short(a, "EXPIRY-A");
  Short(b, "EXPIRY-B");
  AddRealm(a);
  AddRealm(b);
  auto add = [](const unsigned char* realm, const std::string& address, platform::TDateTime at) {
    platform::SetNow(at);
    THalvShortString user = {}, addr = {};
    Short(user, "ann");
    Short(addr, address);
    ASSERT_EQ(AddUserItem(user, addr, realm), 1);
  };
  using platform::EncodeDateTime;
  add(a, "10.0.0.1", EncodeDateTime(2026, 3, 2, 10, 50, 0));  // 16 minutes: dropped
  add(a, "10.0.0.2", EncodeDateTime(2026, 3, 2, 10, 51, 0));  // 15: kept
  add(a, "10.0.0.3", EncodeDateTime(2026, 3, 1, 10, 59, 0));  // a day back: dropped
  add(b, "10.0.0.1", EncodeDateTime(2026, 3, 2, 9, 0, 0));    // dropped
  int32_t counted = EventCount(evExpiredRealmUsers);
  EXPECT_EQ(ExpireRealmClients(EncodeDateTime(2026, 3, 2, 11, 6, 0)), 3);
  EXPECT_EQ(EventCount(evExpiredRealmUsers) - counted, 3);
  ASSERT_EQ(GetRealmUserCnt(a), 1);
  THalvShortString left = {};
  GetUserByNo(left, 0, a);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(left + 1), left[0]), "10.0.0.2");
  EXPECT_EQ(GetRealmUserCnt(b), 0);
  // The one left goes once its own sixteenth minute begins.
  EXPECT_EQ(ExpireRealmClients(EncodeDateTime(2026, 3, 2, 11, 6, 59)), 0);
  EXPECT_EQ(ExpireRealmClients(EncodeDateTime(2026, 3, 2, 11, 7, 0)), 1);
  EXPECT_EQ(GetRealmUserCnt(a), 0);
  platform::ResetClock();
}

}  // namespace
