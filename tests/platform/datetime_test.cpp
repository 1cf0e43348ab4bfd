#include "platform/datetime.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(DateTime, EncodesDaysSinceTheEpochOf1899) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), kUnixEpoch);
  EXPECT_EQ(EncodeDate(2000, 3, 1), 36586.0);
}

TEST(DateTime, DecodesDateAndTimeRoundingToTheMillisecond) {
  TDateTime t = EncodeDateTime(2026, 12, 8, 23, 59, 59, 999);
  DateParts d = DecodeDate(t);
  TimeParts h = DecodeTime(t);
  EXPECT_EQ(d.year, 2026);
  EXPECT_EQ(d.month, 12);
  EXPECT_EQ(d.day, 8);
  EXPECT_EQ(h.hour, 23);
  EXPECT_EQ(h.minute, 59);
  EXPECT_EQ(h.second, 59);
  EXPECT_EQ(h.msec, 999);
  // A hair below a second boundary rounds up to it.
  TimeParts r = DecodeTime(EncodeTime(10, 0, 1, 0) - 1e-12);
  EXPECT_EQ(r.second, 1);
  EXPECT_EQ(r.msec, 0);
}

TEST(DateTime, FixedFormats) {
  TDateTime t = EncodeDateTime(2026, 1, 5, 7, 8, 9);
  EXPECT_EQ(FormatShortDate(t), "2026-01-05");
  EXPECT_EQ(FormatTime(t), "07:08:09");
  EXPECT_EQ(FormatDateTime(t), "2026-01-05 07:08:09");
}

TEST(DateTime, DayOfWeekStartsOnSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 6)), 1);   // Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 8)), 3);   // Tuesday
}

TEST(DateTime, TimeTRoundTripsInLocalTime) {
  std::time_t t = 1796000000;
  EXPECT_EQ(ToTimeT(FromTimeT(t)), t);
}

TEST(DateTime, TestClockFreezesAdvancesAndResets) {
  TDateTime at = EncodeDateTime(2026, 6, 1, 12, 0, 0);
  SetNow(at);
  EXPECT_TRUE(ClockIsFrozen());
  EXPECT_EQ(Now(), at);
  AdvanceNow(1.5);
  EXPECT_NEAR((Now() - at) * kSecondsPerDay, 1.5, 1e-6);
  ResetClock();
  EXPECT_FALSE(ClockIsFrozen());
  EXPECT_GT(Now(), EncodeDate(2020, 1, 1));
}

TEST(DateTime, ParsesTheClockText) {
  TDateTime t;
  ASSERT_TRUE(ParseDateTime("2026-02-28 13:14:15.250", t));
  EXPECT_EQ(t, EncodeDateTime(2026, 2, 28, 13, 14, 15, 250));
  EXPECT_FALSE(ParseDateTime("2026-02-30 13:14:15", t));
  EXPECT_FALSE(ParseDateTime("2026-02-28 13:14", t));
  EXPECT_FALSE(ParseDateTime("2026-02-28 13:14:15x", t));
}

}  // namespace
}  // namespace platform

TEST(DateTimeFormats, DayMonthAndShortTimeOfTheGraph) {
  using platform::EncodeDateTime;
  using platform::FormatDateTime;
  EXPECT_EQ(FormatDateTime("d-mmm", EncodeDateTime(2026, 3, 2, 9, 5, 7)), "2-Mar");
  EXPECT_EQ(FormatDateTime("d-mmm", EncodeDateTime(2026, 12, 31, 23, 59, 59)), "31-Dec");
  EXPECT_EQ(FormatDateTime("t", EncodeDateTime(2026, 3, 2, 9, 5, 7)), "09:05:07");
  EXPECT_EQ(FormatDateTime("t", 0), "00:00:00");
  EXPECT_EQ(FormatDateTime("d-mmm", 0), "30-Dec");  // day 0 is 1899-12-30
  EXPECT_EQ(FormatDateTime("yyyy", 0), "");
  EXPECT_EQ(platform::ShortMonthName(1), "Jan");
  EXPECT_EQ(platform::ShortMonthName(13), "");
}
