#include "console/statshistory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <vector>

namespace fs = std::filesystem;
using platform::TDateTime;

namespace {

constexpr int64_t kMsPerDay = 86400000;

// 2024-03-10 12:00:00.250: every history below starts here unless it says.
TDateTime T0() { return platform::EncodeDateTime(2024, 3, 10, 12, 0, 0, 250); }

// T0 moved by ms milliseconds, held as whole days plus the time of day, the
// way the clock's date-times are built.
TDateTime At(int64_t ms) {
  int64_t total = (12 * 3600 + 0) * 1000LL + 250 + ms;
  int64_t days = total >= 0 ? total / kMsPerDay : -((-total + kMsPerDay - 1) / kMsPerDay);
  int64_t rest = total - days * kMsPerDay;
  return platform::EncodeDate(2024, 3, 10) + static_cast<double>(days) + static_cast<double>(rest) / kMsPerDay;
}

void ExpectDateTime(TDateTime t, int y, int mo, int d, int h, int mi, int s, int ms) {
  platform::DateParts dp = platform::DecodeDate(t);
  platform::TimeParts tp = platform::DecodeTime(t);
  EXPECT_EQ(dp.year, y);
  EXPECT_EQ(dp.month, mo);
  EXPECT_EQ(dp.day, d);
  EXPECT_EQ(tp.hour, h);
  EXPECT_EQ(tp.minute, mi);
  EXPECT_EQ(tp.second, s);
  EXPECT_EQ(tp.msec, ms);
}

void Add(TStatHistory& h, std::initializer_list<int32_t> values) {
  std::vector<int32_t> v(values);
  h.AddSample(v);
}

std::vector<int32_t> Row(const TStatHistory& h, int32_t s) {
  return std::vector<int32_t>(h.Values[s], h.Values[s] + h.BucketCount);
}

std::vector<int32_t> CountRow(const TStatHistory& h, int32_t s) {
  return std::vector<int32_t>(h.SampleCounts[s], h.SampleCounts[s] + h.BucketCount);
}

void ExpectEmptyWindowAt(const TStatHistory& h, TDateTime start) {
  EXPECT_EQ(h.Start, start);
  EXPECT_EQ(h.OpenBucket, 0);
  EXPECT_EQ(h.ShownBuckets, 0);
  for (int32_t s = 0; s < h.SeriesCount; ++s) {
    EXPECT_EQ(h.OpenTotals[s], 0) << "series " << s;
    EXPECT_EQ(h.PreviousTotals[s], 0) << "series " << s;
    EXPECT_EQ(h.OpenSamples[s], 0) << "series " << s;
    EXPECT_EQ(Row(h, s), std::vector<int32_t>(h.BucketCount, 0)) << "series " << s;
  }
}

void ExpectSameHistory(const TStatHistory& a, const TStatHistory& b) {
  ASSERT_EQ(a.BucketSeconds, b.BucketSeconds);
  ASSERT_EQ(a.BucketCount, b.BucketCount);
  ASSERT_EQ(a.SeriesCount, b.SeriesCount);
  ASSERT_EQ(a.Averaging(), b.Averaging());
  EXPECT_EQ(a.Start, b.Start);
  EXPECT_EQ(a.OpenBucket, b.OpenBucket);
  EXPECT_EQ(a.ShownBuckets, b.ShownBuckets);
  for (int32_t s = 0; s < a.SeriesCount; ++s) {
    EXPECT_EQ(a.OpenTotals[s], b.OpenTotals[s]) << "series " << s;
    EXPECT_EQ(a.PreviousTotals[s], b.PreviousTotals[s]) << "series " << s;
    EXPECT_EQ(a.OpenSamples[s], b.OpenSamples[s]) << "series " << s;
    EXPECT_EQ(Row(a, s), Row(b, s)) << "series " << s;
    if (a.Averaging()) {
      EXPECT_EQ(CountRow(a, s), CountRow(b, s)) << "series " << s;
    }
  }
}

class StatHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetNow(T0()); }
  void TearDown() override { platform::ResetClock(); }
  TStatHistory h;
};

}  // namespace

// --- Time arithmetic --------------------------------------------------------

TEST(StatTimeTest, SecondsSinceStartCountsWholeSecondsToTheMillisecond) {
  TStatHistory h;
  h.BucketSeconds = 60;
  h.Start = T0();
  EXPECT_EQ(SecondsSinceStart(h, T0()), 0);
  EXPECT_EQ(SecondsSinceStart(h, platform::EncodeDateTime(2024, 3, 10, 12, 0, 10, 249)), 9);
  EXPECT_EQ(SecondsSinceStart(h, platform::EncodeDateTime(2024, 3, 10, 12, 0, 10, 250)), 10);
  EXPECT_EQ(SecondsSinceStart(h, platform::EncodeDateTime(2024, 3, 10, 12, 0, 10, 0)), 9);
  // One day and 23 hours: whole days count too.
  EXPECT_EQ(SecondsSinceStart(h, platform::EncodeDateTime(2024, 3, 12, 11, 0, 0, 250)), 169200);
  EXPECT_EQ(SecondsSinceStart(h, platform::EncodeDateTime(2024, 3, 10, 11, 59, 59, 250)), -1);

  EXPECT_EQ(BucketIndex(h, platform::EncodeDateTime(2024, 3, 10, 12, 2, 0, 249)), 1);
  EXPECT_EQ(BucketIndex(h, platform::EncodeDateTime(2024, 3, 10, 12, 2, 0, 250)), 2);
}

TEST(StatTimeTest, AddSecondsToTimeCarriesThroughTheFields) {
  // 1 day, 1 hour, 1 minute and 1 second onto the last millisecond of
  // 28 February of a leap year.
  ExpectDateTime(AddSecondsToTime(90061, platform::EncodeDateTime(2024, 2, 28, 23, 59, 59, 999)), 2024, 3, 1, 1, 1, 0,
                 999);
  ExpectDateTime(AddSecondsToTime(0, T0()), 2024, 3, 10, 12, 0, 0, 250);
  EXPECT_EQ(AddSecondsToTime(60, T0()), platform::EncodeDateTime(2024, 3, 10, 12, 1, 0, 250));
}

TEST(StatTimeTest, AddSecondsToTimeKeepsMillisecondsOverManySteps) {
  TDateTime t = T0();
  for (int i = 0; i < 10000; ++i) t = AddSecondsToTime(60, t);
  // 10000 minutes are 6 days 22 hours 40 minutes.
  ExpectDateTime(t, 2024, 3, 17, 10, 40, 0, 250);
  EXPECT_EQ(t, platform::EncodeDateTime(2024, 3, 17, 10, 40, 0, 250));
}

// --- Init and reset ---------------------------------------------------------

TEST_F(StatHistoryTest, InitCutsTheShapeAndResets) {
  h.Init(60, 200, 5, false);
  EXPECT_EQ(h.BucketSeconds, 60);
  EXPECT_EQ(h.BucketCount, 145);
  EXPECT_EQ(h.SeriesCount, 3);
  EXPECT_FALSE(h.Averaging());
  EXPECT_EQ(h.RecordSize(), 1805u);
  ExpectEmptyWindowAt(h, T0());
  EXPECT_TRUE(h.Changed);
  EXPECT_FALSE(h.PaintLock);

  TStatHistory avg;
  avg.Init(1200, 73, 2, true);
  EXPECT_TRUE(avg.Averaging());
  EXPECT_EQ(avg.RecordSize(), 3545u);
  EXPECT_EQ(CountRow(avg, 1), std::vector<int32_t>(73, 0));
}

TEST_F(StatHistoryTest, ResetEmptiesEverythingAtTheCurrentTime) {
  h.Init(10, 4, 2, true);
  Add(h, {3, 4});
  platform::SetNow(At(15000));
  Add(h, {1, 2});
  h.ScaleTop = 9;
  h.PaintCounter = 4;
  h.PaintLock = true;
  h.Changed = false;
  platform::SetNow(At(17000));
  h.Reset();
  ExpectEmptyWindowAt(h, At(17000));
  EXPECT_EQ(CountRow(h, 0), std::vector<int32_t>(4, 0));
  EXPECT_EQ(h.ScaleTop, 0);
  EXPECT_EQ(h.PaintCounter, 0);
  EXPECT_FALSE(h.PaintLock);
  EXPECT_TRUE(h.Changed);
}

TEST_F(StatHistoryTest, ShortSampleArrayAddsOnlyWhatIsThere) {
  h.Init(10, 4, 3, false);
  Add(h, {5});
  EXPECT_EQ(h.OpenTotals[0], 5);
  EXPECT_EQ(h.OpenTotals[1], 0);
  EXPECT_EQ(h.OpenTotals[2], 0);
}

// --- Buckets ------------------------------------------------------------------

TEST_F(StatHistoryTest, BucketBoundaryFollowsStartToTheMillisecond) {
  h.Init(10, 4, 2, false);
  Add(h, {3, 5});
  platform::SetNow(At(9999));  // 12:00:10.249, still bucket 0
  Add(h, {1, 1});
  EXPECT_EQ(h.OpenBucket, 0);
  EXPECT_EQ(h.ShownBuckets, 0);
  EXPECT_EQ(h.OpenTotals[0], 4);
  EXPECT_EQ(h.OpenTotals[1], 6);
  EXPECT_EQ(h.Values[0][0], 0);

  platform::SetNow(At(10000));  // 12:00:10.250, the first moment of bucket 1
  Add(h, {2, 0});
  EXPECT_EQ(h.Values[0][0], 4);
  EXPECT_EQ(h.Values[1][0], 6);
  EXPECT_EQ(h.OpenBucket, 1);
  EXPECT_EQ(h.ShownBuckets, 1);
  EXPECT_EQ(h.OpenTotals[0], 2);
  EXPECT_EQ(h.OpenTotals[1], 0);
  EXPECT_EQ(h.PreviousTotals[0], 4);
  EXPECT_EQ(h.PreviousTotals[1], 6);
  EXPECT_EQ(h.Start, T0());
}

TEST_F(StatHistoryTest, PauseStoresTotalWhereCollectedAndSkippedBucketsReadZero) {
  h.Init(10, 6, 1, false);
  platform::SetNow(At(1000));
  Add(h, {7});
  platform::SetNow(At(35000));  // bucket 3
  Add(h, {2});
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{7, 0, 0, 0, 0, 0}));
  EXPECT_EQ(h.OpenBucket, 3);
  EXPECT_EQ(h.ShownBuckets, 3);
  EXPECT_EQ(h.PreviousTotals[0], 7);
  platform::SetNow(At(41000));
  h.Advance();
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{7, 0, 0, 2, 0, 0}));
  EXPECT_EQ(h.OpenBucket, 4);
  EXPECT_EQ(h.PreviousTotals[0], 2);
}

TEST_F(StatHistoryTest, FullWindowSlidesOneBucketPerClosingAndStartKeepsItsMilliseconds) {
  h.Init(10, 3, 1, false);
  for (int k = 0; k < 4; ++k) {
    platform::SetNow(At(k * 10000));
    Add(h, {k + 1});
  }
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(h.OpenBucket, 3);
  EXPECT_EQ(h.Start, T0());

  platform::SetNow(At(40000));
  Add(h, {5});
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{2, 3, 4}));
  EXPECT_EQ(h.OpenBucket, 3);
  EXPECT_EQ(h.ShownBuckets, 3);
  ExpectDateTime(h.Start, 2024, 3, 10, 12, 0, 10, 250);

  platform::SetNow(At(50000));
  Add(h, {6});
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{3, 4, 5}));
  EXPECT_EQ(h.OpenTotals[0], 6);
  EXPECT_EQ(h.Start, platform::EncodeDateTime(2024, 3, 10, 12, 0, 20, 250));
}

TEST_F(StatHistoryTest, MinuteScaleRunsFullAcrossMidnight) {
  const TDateTime start = platform::EncodeDateTime(2024, 3, 10, 23, 30, 0, 789);
  platform::SetNow(start);
  h.Init(60, 73, 2, false);
  for (int m = 0; m < 200; ++m) {
    platform::SetNow(AddSecondsToTime(m * 60, start) + 0.5 / 86400.0);
    Add(h, {1, m});
  }
  // The window holds minutes 126 .. 198 and starts 126 minutes later.
  ExpectDateTime(h.Start, 2024, 3, 11, 1, 36, 0, 789);
  std::vector<int32_t> expected(73);
  for (int j = 0; j < 73; ++j) expected[j] = 126 + j;
  EXPECT_EQ(Row(h, 1), expected);
  EXPECT_EQ(Row(h, 0), std::vector<int32_t>(73, 1));
  EXPECT_EQ(h.OpenBucket, 73);
  EXPECT_EQ(h.ShownBuckets, 73);
  EXPECT_EQ(h.OpenTotals[1], 199);
  EXPECT_EQ(h.PreviousTotals[1], 198);
}

// --- The clock set back and jumping ahead ------------------------------------

TEST_F(StatHistoryTest, ClockBeforeStartResets) {
  h.Init(10, 4, 1, false);
  Add(h, {5});
  platform::SetNow(At(25000));
  Add(h, {2});
  ASSERT_EQ(h.Values[0][0], 5);
  platform::SetNow(At(-1));  // one millisecond before Start
  Add(h, {7});
  EXPECT_EQ(h.Start, At(-1));
  EXPECT_EQ(Row(h, 0), std::vector<int32_t>(4, 0));
  EXPECT_EQ(h.OpenBucket, 0);
  EXPECT_EQ(h.ShownBuckets, 0);
  EXPECT_EQ(h.OpenTotals[0], 7);
  EXPECT_EQ(h.PreviousTotals[0], 0);
}

TEST_F(StatHistoryTest, ClockSetBackWithinWindowResumesAtEarlierBucket) {
  h.Init(10, 6, 1, false);
  platform::SetNow(At(1000));
  Add(h, {5});
  platform::SetNow(At(21000));
  Add(h, {8});
  platform::SetNow(At(52000));
  Add(h, {6});
  ASSERT_EQ(Row(h, 0), (std::vector<int32_t>{5, 0, 8, 0, 0, 0}));
  ASSERT_EQ(h.OpenBucket, 5);

  platform::SetNow(At(22000));  // back into bucket 2
  Add(h, {7});
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{5, 0, 8, 0, 0, 6}));
  EXPECT_EQ(h.OpenBucket, 2);
  EXPECT_EQ(h.ShownBuckets, 2);
  EXPECT_EQ(h.OpenTotals[0], 7);

  platform::SetNow(At(31000));
  h.Advance();
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{5, 0, 7, 0, 0, 6}));
  EXPECT_EQ(h.OpenBucket, 3);
  EXPECT_EQ(h.ShownBuckets, 3);
  EXPECT_EQ(h.Start, T0());
}

TEST_F(StatHistoryTest, ClockSetBackToStartOfFullWindowKeepsOpenBucketInRange) {
  h.Init(10, 3, 1, false);
  for (int k = 0; k < 4; ++k) {
    platform::SetNow(At(k * 10000));
    Add(h, {k + 1});
  }
  ASSERT_EQ(h.OpenBucket, 3);
  // Closing the full window slides it, so Start passes the clock by a
  // whole bucket.
  platform::SetNow(T0());
  Add(h, {9});
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{2, 3, 4}));
  EXPECT_EQ(h.Start, At(10000));
  EXPECT_EQ(h.OpenBucket, 0);
  EXPECT_EQ(h.ShownBuckets, 0);
  EXPECT_EQ(h.OpenTotals[0], 9);

  platform::SetNow(At(15000));  // bucket 0 of the moved window
  h.Advance();
  EXPECT_EQ(h.OpenBucket, 0);
  platform::SetNow(At(20000));
  h.Advance();
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{9, 3, 4}));
  EXPECT_EQ(h.OpenBucket, 1);
}

TEST_F(StatHistoryTest, ExactlyTwiceTheWindowDoesNotResetOneMillisecondMoreDoes) {
  // Window 30 s, limit 60 s after Start.
  h.Init(10, 3, 1, false);
  Add(h, {4});
  platform::SetNow(At(60000));
  h.Advance();
  ExpectDateTime(h.Start, 2024, 3, 10, 12, 0, 30, 250);
  EXPECT_EQ(h.OpenBucket, 3);
  EXPECT_EQ(h.ShownBuckets, 3);
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(h.PreviousTotals[0], 4);

  for (int64_t late : {60001, 61000}) {
    platform::SetNow(T0());
    TStatHistory g;
    g.Init(10, 3, 1, false);
    Add(g, {4});
    platform::SetNow(At(late));
    g.Advance();
    ExpectEmptyWindowAt(g, At(late));
  }
}

TEST_F(StatHistoryTest, MinuteScaleResetsAtTwiceTheWindowPlusOneSecond) {
  // 73 one-minute buckets: twice the window is 8760 seconds.
  h.Init(60, 73, 2, false);
  Add(h, {1, 1});
  platform::SetNow(At(8760000));
  h.Advance();
  EXPECT_EQ(h.Start, At(4380000));
  EXPECT_EQ(h.OpenBucket, 73);

  platform::SetNow(T0());
  TStatHistory g;
  g.Init(60, 73, 2, false);
  Add(g, {1, 1});
  platform::SetNow(At(8761000));
  g.Advance();
  ExpectEmptyWindowAt(g, At(8761000));
}

// --- Averaging, locking, Changed, Shift ---------------------------------------

TEST_F(StatHistoryTest, AveragingBucketShowsTotalOverSamples) {
  h.Init(10, 4, 2, true);
  Add(h, {0, 3});
  Add(h, {0, 4});
  Add(h, {0, 8});
  platform::SetNow(At(10000));
  Add(h, {0, 1});
  platform::SetNow(At(11000));
  Add(h, {0, 2});
  EXPECT_EQ(h.OpenSamples[0], 2);
  EXPECT_EQ(h.OpenSamples[1], 2);
  platform::SetNow(At(30000));
  h.Advance();
  EXPECT_EQ(Row(h, 1), (std::vector<int32_t>{15, 3, 0, 0}));
  EXPECT_EQ(CountRow(h, 1), (std::vector<int32_t>{3, 2, 0, 0}));
  EXPECT_EQ(CountRow(h, 0), (std::vector<int32_t>{3, 2, 0, 0}));
  EXPECT_EQ(h.OpenSamples[1], 0);
  EXPECT_DOUBLE_EQ(h.BucketValue(1, 0), 5.0);
  EXPECT_DOUBLE_EQ(h.BucketValue(1, 1), 1.5);
  EXPECT_DOUBLE_EQ(h.BucketValue(1, 2), 0.0);
  EXPECT_DOUBLE_EQ(h.BucketValue(0, 0), 0.0);
}

TEST_F(StatHistoryTest, TotalsHistoryCountsNoSamples) {
  h.Init(10, 4, 2, false);
  Add(h, {1, 6});
  Add(h, {1, 6});
  EXPECT_EQ(h.OpenSamples[0], 0);
  EXPECT_EQ(h.OpenSamples[1], 0);
  platform::SetNow(At(10000));
  h.Advance();
  EXPECT_DOUBLE_EQ(h.BucketValue(1, 0), 12.0);
}

TEST_F(StatHistoryTest, PaintLockHoldsTheClosingBackButSamplesAddUp) {
  h.Init(10, 4, 1, false);
  Add(h, {2});
  EXPECT_TRUE(h.Lock(true));
  EXPECT_FALSE(h.Lock(true));
  platform::SetNow(At(12000));
  Add(h, {3});
  EXPECT_EQ(h.OpenBucket, 0);
  EXPECT_EQ(h.OpenTotals[0], 5);
  EXPECT_EQ(h.Values[0][0], 0);
  EXPECT_TRUE(h.Lock(false));
  EXPECT_FALSE(h.PaintLock);
  h.Advance();
  EXPECT_EQ(h.Values[0][0], 5);
  EXPECT_EQ(h.OpenBucket, 1);
}

TEST_F(StatHistoryTest, ChangedOnlyWhenAClosingOrSlideAltersThePicture) {
  h.Init(10, 4, 1, false);
  EXPECT_TRUE(h.Changed);
  h.Changed = false;
  platform::SetNow(At(10000));
  h.Advance();  // an empty bucket after an empty one
  EXPECT_FALSE(h.Changed);
  Add(h, {3});
  EXPECT_FALSE(h.Changed);  // the open bucket is not drawn
  platform::SetNow(At(20000));
  h.Advance();
  EXPECT_TRUE(h.Changed);
  h.Changed = false;
  platform::SetNow(At(30000));
  h.Advance();  // empty, but the bucket before held 3
  EXPECT_TRUE(h.Changed);
  h.Changed = false;
  platform::SetNow(At(40000));
  h.Advance();
  EXPECT_FALSE(h.Changed);
  ASSERT_EQ(Row(h, 0), (std::vector<int32_t>{0, 3, 0, 0}));
  ASSERT_EQ(h.OpenBucket, 4);
  platform::SetNow(At(50000));
  h.Advance();  // the slide moves the 3
  EXPECT_TRUE(h.Changed);
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{3, 0, 0, 0}));
}

TEST_F(StatHistoryTest, ShiftSlidesValuesAndMovesStartByWholeBuckets) {
  h.Init(10, 4, 1, true);
  for (int j = 0; j < 4; ++j) {
    h.Values[0][j] = j + 1;
    h.SampleCounts[0][j] = 10 * (j + 1);
  }
  h.Shift(0);
  h.Shift(-3);
  EXPECT_EQ(h.Start, T0());
  h.Shift(2);
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{3, 4, 0, 0}));
  EXPECT_EQ(CountRow(h, 0), (std::vector<int32_t>{30, 40, 0, 0}));
  EXPECT_EQ(h.Start, At(20000));
  h.Shift(100);  // 1000 seconds
  EXPECT_EQ(Row(h, 0), (std::vector<int32_t>{0, 0, 0, 0}));
  ExpectDateTime(h.Start, 2024, 3, 10, 12, 17, 0, 250);
}

// --- For the graph: ScaleMax and BuildPolygon --------------------------------

TEST_F(StatHistoryTest, ScaleMaxGrowsAtOnceAndRefitsOnEveryTenthUpdate) {
  h.Init(10, 5, 2, false);
  h.ScaleMax();
  EXPECT_EQ(h.ScaleTop, 0);  // all zero: stays 0
  EXPECT_EQ(h.PaintCounter, 1);

  h.Values[0][1] = 10;  // not shown (ShownBuckets is 0), still counted
  h.ScaleMax();
  EXPECT_DOUBLE_EQ(h.ScaleTop, 13.0);
  h.ScaleMax();
  EXPECT_DOUBLE_EQ(h.ScaleTop, 13.0);
  h.Values[1][3] = 20;
  h.ScaleMax();
  EXPECT_DOUBLE_EQ(h.ScaleTop, 25.0);
  EXPECT_EQ(h.PaintCounter, 4);

  h.Values[1][3] = 0;
  h.Values[0][1] = 5;
  for (int call = 5; call <= 9; ++call) {
    h.ScaleMax();
    EXPECT_DOUBLE_EQ(h.ScaleTop, 25.0) << "update " << call;
  }
  h.ScaleMax();  // the tenth
  EXPECT_EQ(h.PaintCounter, 0);
  EXPECT_DOUBLE_EQ(h.ScaleTop, 7.0);
  h.ScaleMax();
  EXPECT_DOUBLE_EQ(h.ScaleTop, 7.0);
  EXPECT_EQ(h.PaintCounter, 1);
}

TEST_F(StatHistoryTest, ScaleMaxReadsTheWindowOnly) {
  h.Init(10, 5, 2, false);
  h.Values[0][5] = 100;  // beyond BucketCount
  h.Values[2][0] = 100;  // beyond SeriesCount
  h.Values[1][4] = 4;
  h.ScaleMax();
  EXPECT_DOUBLE_EQ(h.ScaleTop, 1.2 * 4 + 1);
}

TEST_F(StatHistoryTest, ScaleMaxUsesAveragesOfAnAveragingHistory) {
  h.Init(10, 5, 2, true);
  h.Values[1][0] = 15;
  h.SampleCounts[1][0] = 3;  // average 5
  h.ScaleMax();
  EXPECT_DOUBLE_EQ(h.ScaleTop, 7.0);
  h.Values[1][2] = 9;  // no samples: the total counts
  h.ScaleMax();
  EXPECT_DOUBLE_EQ(h.ScaleTop, 1.2 * 9 + 1);
}

TEST_F(StatHistoryTest, PolygonOfAFillingWindow) {
  h.Init(60, 73, 2, false);
  h.OpenBucket = h.ShownBuckets = 3;
  h.Values[0][0] = 10;
  h.Values[0][1] = 0;
  h.Values[0][2] = 5;
  h.ScaleTop = 20;
  std::array<TStatPoint, kStatPolygonVertices> v;
  h.BuildPolygon(v, 0, TStatRect{40, 35, 397, 262});
  EXPECT_EQ(v[0], (TStatPoint{40, 261}));
  EXPECT_EQ(v[1], (TStatPoint{40, 148}));  // 148.5 rounds to even
  EXPECT_EQ(v[2], (TStatPoint{45, 261}));
  EXPECT_EQ(v[3], (TStatPoint{50, 205}));
  for (std::size_t i = 4; i < v.size(); ++i) EXPECT_EQ(v[i], (TStatPoint{50, 261})) << "vertex " << i;
  EXPECT_FALSE(h.Changed);
}

TEST_F(StatHistoryTest, PolygonOfAFullWindow) {
  h.Init(10, 3, 1, false);
  h.OpenBucket = h.ShownBuckets = 3;
  h.Values[0][0] = 4;
  h.Values[0][1] = 12;  // above the scale: one pixel below the top edge
  h.Values[0][2] = 2;
  h.ScaleTop = 8;
  std::array<TStatPoint, kStatPolygonVertices> v;
  h.BuildPolygon(v, 0, TStatRect{0, 0, 100, 50});
  EXPECT_EQ(v[0], (TStatPoint{0, 49}));
  EXPECT_EQ(v[1], (TStatPoint{0, 25}));
  EXPECT_EQ(v[2], (TStatPoint{49, 1}));
  EXPECT_EQ(v[3], (TStatPoint{98, 37}));
  for (std::size_t i = 4; i < v.size(); ++i) EXPECT_EQ(v[i], (TStatPoint{98, 49})) << "vertex " << i;
}

TEST_F(StatHistoryTest, PolygonOfAFullConsoleWindowWithScaleZeroLiesOnTheBaseline) {
  h.Init(60, 73, 2, false);
  h.OpenBucket = h.ShownBuckets = 73;
  for (int j = 0; j < 73; ++j) h.Values[1][j] = j;
  h.ScaleTop = 0;
  std::array<TStatPoint, kStatPolygonVertices> v;
  h.BuildPolygon(v, 1, TStatRect{40, 35, 397, 262});
  EXPECT_EQ(v[1], (TStatPoint{40, 261}));
  EXPECT_EQ(v[37], (TStatPoint{218, 261}));  // x 217.5 rounds to even
  EXPECT_EQ(v[73], (TStatPoint{395, 261}));  // last bucket two pixels inside
  for (std::size_t i = 74; i < v.size(); ++i) EXPECT_EQ(v[i], (TStatPoint{395, 261})) << "vertex " << i;
}

TEST_F(StatHistoryTest, PolygonOfAveragesAndOfAnEmptyWindow) {
  h.Init(10, 3, 1, true);
  h.OpenBucket = h.ShownBuckets = 2;
  h.Values[0][0] = 15;
  h.SampleCounts[0][0] = 2;  // 7.5
  h.Values[0][1] = 9;        // no samples: 9
  h.ScaleTop = 10;
  std::array<TStatPoint, kStatPolygonVertices> v;
  h.BuildPolygon(v, 0, TStatRect{0, 0, 100, 50});
  EXPECT_EQ(v[1], (TStatPoint{0, 13}));
  EXPECT_EQ(v[2], (TStatPoint{49, 6}));
  EXPECT_EQ(v[3], (TStatPoint{49, 49}));

  h.Reset();
  h.BuildPolygon(v, 0, TStatRect{0, 0, 100, 50});
  for (std::size_t i = 0; i < v.size(); ++i) EXPECT_EQ(v[i], (TStatPoint{0, 49})) << "vertex " << i;
}

TEST_F(StatHistoryTest, PolygonWritesNoMoreThanItsBuffer) {
  h.Init(10, 3, 1, false);
  h.OpenBucket = h.ShownBuckets = 3;
  h.Values[0][0] = h.Values[0][1] = h.Values[0][2] = 8;
  h.ScaleTop = 8;
  std::array<TStatPoint, 4> buf;
  buf.fill(TStatPoint{-7, -7});
  h.BuildPolygon(std::span<TStatPoint>(buf.data(), 2), 0, TStatRect{0, 0, 100, 50});
  EXPECT_EQ(buf[0], (TStatPoint{0, 49}));
  EXPECT_EQ(buf[1], (TStatPoint{0, 1}));
  EXPECT_EQ(buf[2], (TStatPoint{-7, -7}));
  EXPECT_EQ(buf[3], (TStatPoint{-7, -7}));
}

// --- STATS.DAT ---------------------------------------------------------------

namespace {

struct Console {
  std::array<TStatHistory, 4> hits, logins, connections, users;
  std::array<TStatHistory*, kStatFileRecords> Order() { return StatFileOrder(hits, logins, connections, users); }
  void Init() { InitConsoleHistories(hits, logins, connections, users); }
};

// Minutes 0 .. minutes-1, half a second into each: history i gets the pair
// (i + 1, 10 (i + 1) + minute).
void Feed(Console& c, int minutes) {
  auto order = c.Order();
  for (int m = 0; m < minutes; ++m) {
    platform::SetNow(At(m * 60000 + 500));
    for (int i = 0; i < 16; ++i) Add(*order[i], {i + 1, 10 * (i + 1) + m});
  }
}

int32_t Int32At(const std::vector<uint8_t>& d, std::size_t at) {
  return static_cast<int32_t>(static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 |
                              static_cast<uint32_t>(d[at + 2]) << 16 | static_cast<uint32_t>(d[at + 3]) << 24);
}

void PutInt32At(std::vector<uint8_t>& d, std::size_t at, int32_t v) {
  auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(u >> (8 * i));
}

void PutDoubleAt(std::vector<uint8_t>& d, std::size_t at, double v) {
  auto u = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) d[at + i] = static_cast<uint8_t>(u >> (8 * i));
}

class StatsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetNow(T0());
    dir = fs::temp_directory_path() /
          ("stats_test_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    file = (dir / "STATS.DAT").string();
  }
  void TearDown() override {
    platform::ResetClock();
    fs::remove_all(dir);
  }
  std::vector<uint8_t> ReadAll() {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void WriteAll(const std::vector<uint8_t>& d) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
  }
  std::vector<std::string> Entries() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
  }
  fs::path dir;
  std::string file;
};

// Record offsets of the console's file.
constexpr std::size_t kRec1 = 1805, kRec2 = 3610, kRec3 = 7155, kScale2 = 10700;

}  // namespace

TEST_F(StatsFileTest, ConsoleFileIs42800BytesInTheRecordLayout) {
  Console c;
  c.Init();
  Feed(c, 5);
  SaveStatHistories(file, c.Order());
  std::vector<uint8_t> d = ReadAll();
  ASSERT_EQ(d.size(), 42800u);

  // Record 0: Hits, 1 minute, after four closed minutes.
  EXPECT_EQ(Int32At(d, 0), 60);
  EXPECT_EQ(Int32At(d, 4), 73);
  EXPECT_EQ(Int32At(d, 8), 2);
  EXPECT_EQ(d[12], 0);
  uint64_t start_bits = 0;
  for (int i = 0; i < 8; ++i) start_bits |= static_cast<uint64_t>(d[13 + i]) << (8 * i);
  EXPECT_EQ(std::bit_cast<double>(start_bits), T0());
  EXPECT_EQ(Int32At(d, 21), 4);   // OpenBucket
  EXPECT_EQ(Int32At(d, 25), 4);   // ShownBuckets
  EXPECT_EQ(Int32At(d, 29), 1);   // OpenTotals
  EXPECT_EQ(Int32At(d, 33), 14);
  EXPECT_EQ(Int32At(d, 37), 0);   // no third series
  EXPECT_EQ(Int32At(d, 41), 1);   // PreviousTotals
  EXPECT_EQ(Int32At(d, 45), 13);
  EXPECT_EQ(Int32At(d, 53), 0);   // OpenSamples: a totals history counts none
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(Int32At(d, 65 + 4 * j), 1) << "bucket " << j;
    EXPECT_EQ(Int32At(d, 65 + 580 + 4 * j), 10 + j) << "bucket " << j;
  }
  for (int j = 4; j < 145; ++j) EXPECT_EQ(Int32At(d, 65 + 4 * j), 0) << "bucket " << j;
  for (int j = 0; j < 145; ++j) EXPECT_EQ(Int32At(d, 65 + 1160 + 4 * j), 0) << "series 2, bucket " << j;

  // Record 1: Logins, 1 minute.
  EXPECT_EQ(Int32At(d, kRec1 + 29), 2);
  EXPECT_EQ(Int32At(d, kRec1 + 33), 24);
  // Record 2: Connections, 1 minute, averaging, with its count block.
  EXPECT_EQ(d[kRec2 + 12], 1);
  EXPECT_EQ(Int32At(d, kRec2 + 53), 1);  // OpenSamples
  EXPECT_EQ(Int32At(d, kRec2 + 65), 3);
  EXPECT_EQ(Int32At(d, kRec2 + 1805), 1);  // SampleCounts[0][0]
  EXPECT_EQ(Int32At(d, kRec2 + 1805 + 4 * 4), 0);
  // Record 3: Users, 1 minute.
  EXPECT_EQ(d[kRec3 + 12], 1);
  EXPECT_EQ(Int32At(d, kRec3 + 65 + 580), 40);
  // Scale 2 begins at 10700; the last record is Users, 1 day.
  EXPECT_EQ(Int32At(d, kScale2), 1200);
  EXPECT_EQ(Int32At(d, kScale2 + 29 + 4), 5 * 50 + 0 + 1 + 2 + 3 + 4);
  EXPECT_EQ(Int32At(d, 42800 - 3545), 86400);
  EXPECT_EQ(d[42800 - 3545 + 12], 1);
}

TEST_F(StatsFileTest, ConsoleFileLoadsBackEqual) {
  Console c;
  c.Init();
  Feed(c, 5);
  SaveStatHistories(file, c.Order());

  platform::SetNow(At(301000));
  Console back;
  back.Init();
  TStatLoadResult r = LoadStatHistories(file, back.Order());
  EXPECT_TRUE(r.Opened);
  EXPECT_TRUE(r.Closed);
  EXPECT_EQ(r.Taken, 16);
  EXPECT_EQ(r.Error, "");
  auto a = c.Order(), b = back.Order();
  for (int i = 0; i < 16; ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    ExpectSameHistory(*a[i], *b[i]);
  }
}

TEST_F(StatsFileTest, LoadedWindowAdvancesToThePresentOrResetsWhenTooOld) {
  Console c;
  c.Init();
  Feed(c, 5);
  SaveStatHistories(file, c.Order());

  platform::SetNow(At(600500));  // minute 10
  Console back;
  back.Init();
  ASSERT_EQ(LoadStatHistories(file, back.Order()).Taken, 16);
  back.hits[0].Advance();
  std::vector<int32_t> minutes(73, 0);
  for (int j = 0; j < 5; ++j) minutes[j] = 10 + j;
  EXPECT_EQ(Row(back.hits[0], 1), minutes);
  EXPECT_EQ(back.hits[0].OpenBucket, 10);
  EXPECT_EQ(back.hits[0].Start, T0());

  // More than two windows of the minute scale (8760 s) later.
  platform::SetNow(At(8761000));
  Console late;
  late.Init();
  ASSERT_EQ(LoadStatHistories(file, late.Order()).Taken, 16);
  late.hits[0].Advance();
  ExpectEmptyWindowAt(late.hits[0], At(8761000));
  late.hits[1].Advance();  // the 20-minute scale still holds its data
  EXPECT_EQ(late.hits[1].Start, T0());
  EXPECT_EQ(late.hits[1].Values[1][0], 5 * 50 + 0 + 1 + 2 + 3 + 4);
}

TEST_F(StatsFileTest, RecordsOfAnotherShapeAreLeftEmptyAndReadingResumesAtTheNext) {
  Console c;
  c.Init();
  c.logins[0].Init(60, 72, 2, false);        // bucket count
  c.connections[0].Init(60, 73, 2, false);   // totals where averaging is kept
  c.hits[1].Init(1200, 73, 3, false);        // series count
  c.users[1].Init(600, 73, 2, true);         // bucket width
  c.hits[3].Init(86400, 73, 2, true);        // averaging where totals are kept
  Feed(c, 3);
  SaveStatHistories(file, c.Order());
  // One averaging record written as totals, one totals record as averaging.
  ASSERT_EQ(ReadAll().size(), 42800u);

  platform::SetNow(At(200000));
  Console back;
  back.Init();
  Feed(back, 1);  // data that a record not taken must not leave behind
  platform::SetNow(At(200000));
  TStatLoadResult r = LoadStatHistories(file, back.Order());
  EXPECT_EQ(r.Taken, 11);
  EXPECT_EQ(r.Error, "");
  for (TStatHistory* h : {&back.logins[0], &back.connections[0], &back.hits[1], &back.users[1], &back.hits[3]}) {
    ExpectEmptyWindowAt(*h, At(200000));
  }
  ExpectSameHistory(c.users[0], back.users[0]);  // right after a shorter record
  ExpectSameHistory(c.hits[0], back.hits[0]);
  ExpectSameHistory(c.logins[1], back.logins[1]);
  ExpectSameHistory(c.logins[3], back.logins[3]);  // right after a longer record
  ExpectSameHistory(c.users[3], back.users[3]);
}

TEST_F(StatsFileTest, TruncatedFileKeepsTheRecordsReadAndResetsTheRest) {
  Console c;
  c.Init();
  Feed(c, 3);
  SaveStatHistories(file, c.Order());
  const std::vector<uint8_t> whole = ReadAll();

  struct Case {
    std::size_t size;
    int32_t taken;
  };
  for (Case k : {Case{42800 - 100, 15}, Case{kScale2 + 5, 4}, Case{kRec2 + 1805, 2}, Case{0, 0}}) {
    SCOPED_TRACE("size " + std::to_string(k.size));
    WriteAll(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(k.size)));
    platform::SetNow(At(200000));
    Console back;
    back.Init();
    Feed(back, 1);
    platform::SetNow(At(200000));
    TStatLoadResult r = LoadStatHistories(file, back.Order());
    EXPECT_TRUE(r.Opened);
    EXPECT_EQ(r.Taken, k.taken);
    EXPECT_EQ(r.Error, "Read beyond end of file");
    auto a = c.Order(), b = back.Order();
    for (int i = 0; i < 16; ++i) {
      SCOPED_TRACE("record " + std::to_string(i));
      if (i < k.taken) {
        ExpectSameHistory(*a[i], *b[i]);
      } else {
        ExpectEmptyWindowAt(*b[i], At(200000));
      }
    }
  }
}

TEST_F(StatsFileTest, RecordsWithValuesOutOfRangeAreNotTaken) {
  Console c;
  c.Init();
  Feed(c, 3);
  SaveStatHistories(file, c.Order());
  std::vector<uint8_t> d = ReadAll();

  const std::size_t rec5 = kScale2 + 1805, rec6 = rec5 + 1805, rec8 = 2 * kScale2, rec12 = 3 * kScale2;
  const std::size_t rec13 = rec12 + 1805;
  PutDoubleAt(d, 0 + 13, At(2 * 3600 * 1000));  // 2 hours ahead; the window is 73 minutes
  PutInt32At(d, kRec1 + 21, -5);
  PutInt32At(d, kRec1 + 25, -5);
  PutDoubleAt(d, kRec3 + 13, At(3600 * 1000));  // 1 hour ahead: within a window, taken
  PutInt32At(d, rec5 + 21, 200);
  PutInt32At(d, rec5 + 25, 200);
  PutInt32At(d, rec6 + 21, 3);  // OpenBucket and ShownBuckets differ
  PutInt32At(d, rec6 + 25, 2);
  PutDoubleAt(d, rec8 + 13, std::numeric_limits<double>::quiet_NaN());
  d[rec12 + 12] = 7;  // neither totals nor averaging: a totals-sized record not taken
  PutDoubleAt(d, rec13 + 13, -1e300);
  WriteAll(d);

  platform::SetNow(At(200000));
  Console back;
  back.Init();
  TStatLoadResult r = LoadStatHistories(file, back.Order());
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(r.Taken, 9);
  auto a = c.Order(), b = back.Order();
  for (int i : {0, 1, 5, 6, 8, 12, 13}) {
    SCOPED_TRACE("record " + std::to_string(i));
    ExpectEmptyWindowAt(*b[i], At(200000));
  }
  for (int i : {2, 4, 7, 9, 10, 11, 14, 15}) {
    SCOPED_TRACE("record " + std::to_string(i));
    ExpectSameHistory(*a[i], *b[i]);
  }
  EXPECT_EQ(back.users[0].Start, At(3600 * 1000));
  // A Start ahead of the clock resets at the first advance.
  back.users[0].Advance();
  ExpectEmptyWindowAt(back.users[0], At(200000));
}

TEST_F(StatsFileTest, RecordLoadReportsWhereReadingStands) {
  TStatHistory src;
  src.Init(60, 73, 2, true);
  Add(src, {1, 2});
  std::vector<uint8_t> d;
  src.Save(d);
  ASSERT_EQ(d.size(), 3545u);
  src.Save(d);

  TStatHistory h;
  h.Init(60, 73, 2, true);
  std::size_t pos = 0;
  EXPECT_EQ(h.Load(d, pos), TStatRecordStatus::Taken);
  EXPECT_EQ(pos, 3545u);
  EXPECT_EQ(h.OpenTotals[1], 2);
  EXPECT_EQ(h.OpenSamples[1], 1);

  TStatHistory totals;
  totals.Init(60, 73, 2, false);
  EXPECT_EQ(totals.Load(d, pos), TStatRecordStatus::NotTaken);
  EXPECT_EQ(pos, 7090u);  // past the whole averaging record
  EXPECT_EQ(h.Load(d, pos), TStatRecordStatus::Short);
  EXPECT_EQ(pos, 7090u);

  std::vector<uint8_t> cut(d.begin(), d.begin() + 3000);
  pos = 0;
  EXPECT_EQ(h.Load(cut, pos), TStatRecordStatus::Short);
  EXPECT_EQ(pos, 3000u);
  ExpectEmptyWindowAt(h, T0());
}

TEST_F(StatsFileTest, AbsentFileTouchesNothing) {
  Console c;
  c.Init();
  Feed(c, 2);
  TStatLoadResult r = LoadStatHistories(file, c.Order());
  EXPECT_FALSE(r.Opened);
  EXPECT_FALSE(r.Closed);
  EXPECT_EQ(r.Taken, 0);
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(c.hits[0].Values[1][0], 10);
  EXPECT_EQ(c.hits[0].OpenBucket, 1);
}

TEST_F(StatsFileTest, ANameThatIsNoFileIsReportedLoadsNothingAndIsNotReplaced) {
  struct Case {
    const char* what;
    std::function<void()> make;
    const char* error;
  };
  const Case cases[] = {
      {"directory", [this] { fs::create_directory(file); }, "Is a directory"},
      // A FIFO without a writer would hold a blocking open for ever.
      {"FIFO", [this] { ASSERT_EQ(mkfifo(file.c_str(), 0666), 0); }, "Not a regular file"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    fs::remove_all(file);
    k.make();
    Console c;
    c.Init();
    Feed(c, 2);
    TStatLoadResult r = LoadStatHistories(file, c.Order());
    EXPECT_EQ(r.Taken, 0);
    EXPECT_EQ(r.Error, k.error);
    EXPECT_EQ(c.hits[0].Values[1][0], 10) << "nothing loaded over the histories";
    try {
      SaveStatHistories(file, c.Order());
      ADD_FAILURE() << "no error";
    } catch (const TStatFileError& e) {
      EXPECT_STREQ(e.what(), k.error);
    }
    EXPECT_FALSE(fs::is_regular_file(file));
    EXPECT_EQ(Entries(), std::vector<std::string>{"STATS.DAT"});
  }
}

TEST_F(StatsFileTest, SaveReplacesTheOldFileAndLeavesNoTemporary) {
  WriteAll(std::vector<uint8_t>(100000, 0xAB));
  Console c;
  c.Init();
  Feed(c, 2);
  SaveStatHistories(file, c.Order());
  EXPECT_EQ(ReadAll().size(), 42800u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"STATS.DAT"});
}

TEST_F(StatsFileTest, FailedSaveThrowsAndRemovesTheTemporary) {
  Console c;
  c.Init();
  fs::create_directory(file);  // the rename over a directory fails
  try {
    SaveStatHistories(file, c.Order());
    FAIL() << "no error";
  } catch (const TStatFileError& e) {
    EXPECT_EQ(e.ErrorNumber, EISDIR);
    EXPECT_STREQ(e.what(), "Is a directory");
  }
  EXPECT_EQ(Entries(), std::vector<std::string>{"STATS.DAT"});
  EXPECT_TRUE(fs::is_directory(file));

  try {
    SaveStatHistories((dir / "missing" / "STATS.DAT").string(), c.Order());
    FAIL() << "no error";
  } catch (const TStatFileError& e) {
    EXPECT_EQ(e.ErrorNumber, ENOENT);
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
}

TEST_F(StatsFileTest, WriteFailingHalfwayKeepsThePreviousFile) {
  Console c;
  c.Init();
  Feed(c, 2);
  SaveStatHistories(file, c.Order());
  const std::vector<uint8_t> before = ReadAll();
  Feed(c, 4);

  // Files may grow to 10000 bytes only; the write past it fails with EFBIG.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 10000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  int error_number = 0;
  std::string text;
  try {
    SaveStatHistories(file, c.Order());
  } catch (const TStatFileError& e) {
    error_number = e.ErrorNumber;
    text = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &old, nullptr);

  EXPECT_EQ(error_number, EFBIG);
  EXPECT_EQ(text, "File too large");
  EXPECT_EQ(ReadAll(), before);
  EXPECT_EQ(Entries(), std::vector<std::string>{"STATS.DAT"});
}

TEST(StatsFileErrorTest, FullDiskReadsDiskFull) {
  EXPECT_EQ(StatFileErrorText(ENOSPC), "Disk full");
  EXPECT_EQ(StatFileErrorText(EDQUOT), "Disk full");
  EXPECT_EQ(StatFileErrorText(EACCES), "Permission denied");
}
