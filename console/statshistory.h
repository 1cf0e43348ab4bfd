// The console's statistics history: a rolling window of time buckets holding
// up to three integer series, and the STATS.DAT file that keeps the console's
// sixteen histories (four statistics on four time scales) across runs.
//
// Samples are summed into the open bucket; when time moves past it the bucket
// is closed into a fixed window that slides forward. Bucket boundaries follow
// Start (the moment of the last reset, to the millisecond), not the wall
// clock's minutes. Every "now" is platform::Now(). GUI thread only.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/datetime.h"

constexpr int32_t kStatMaxBuckets = 145;
constexpr int32_t kStatMaxSeries = 3;

// STATS.DAT record sizes: the fixed part, and the sample-count block that
// follows it in an averaging history.
constexpr std::size_t kStatRecordHeaderSize = 13;
constexpr std::size_t kStatTotalsRecordSize = 1805;
constexpr std::size_t kStatCountsBlockSize = 4 * kStatMaxSeries * kStatMaxBuckets;  // 1740
constexpr std::size_t kStatAveragingRecordSize = kStatTotalsRecordSize + kStatCountsBlockSize;

// The graph draws each series as a polygon of 145 vertices: the anchor at
// the bottom-left, one per shown bucket, and the rest on the baseline under
// the last shown bucket, where the outline drops and closes along the
// baseline. A window of more than 143 buckets takes BucketCount + 2, so a
// buffer of kStatPolygonVertices holds the largest.
constexpr std::size_t kStatPolygonVertices = kStatMaxBuckets + 2;
constexpr std::size_t StatPolygonVertexCount(int32_t bucket_count) {
  return bucket_count > kStatMaxBuckets - 2 ? static_cast<std::size_t>(std::min(bucket_count, kStatMaxBuckets)) + 2
                                            : static_cast<std::size_t>(kStatMaxBuckets);
}

struct TStatPoint {
  int32_t X = 0;
  int32_t Y = 0;
  bool operator==(const TStatPoint&) const = default;
};

// A plot rectangle in pixels; Right and Bottom lie just outside it.
struct TStatRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// How one STATS.DAT record was read by TStatHistory::Load.
enum class TStatRecordStatus {
  Taken,     // the record fitted the history and now stands in it
  NotTaken,  // another shape (bucket width, count, series, averaging): history left reset
  Invalid,   // the right shape but values out of range: history left reset
  Short,     // the data ended inside the record: history left reset
};

using TStatRow = int32_t[kStatMaxBuckets];

// A plain record with operations, filled in place by Init. Only the first
// SeriesCount rows and BucketCount columns of the arrays carry meaning.
// Move-only: the sample-count block is owned.
struct TStatHistory {
  int32_t BucketSeconds = 1;  // width of one bucket in whole seconds
  int32_t BucketCount = 1;    // buckets in the window, 1 to 145
  int32_t SeriesCount = 1;    // series, 1 to 3
  int32_t Values[kStatMaxSeries][kStatMaxBuckets] = {};  // total of each closed bucket
  // Samples in each closed bucket; present only in an averaging history.
  std::unique_ptr<TStatRow[]> SampleCounts;
  int32_t PreviousTotals[kStatMaxSeries] = {};  // totals of the bucket closed last
  int32_t OpenTotals[kStatMaxSeries] = {};      // running totals of the open bucket
  int32_t OpenSamples[kStatMaxSeries] = {};     // samples in the open bucket (averaging only)
  platform::TDateTime Start = 0;                // start of bucket 0
  int32_t ShownBuckets = 0;  // closed buckets at the left that the graph draws
  int32_t PaintCounter = 0;  // the graph's scale updates, 0 to 9
  int32_t OpenBucket = 0;    // index from Start of the bucket collecting samples
  double ScaleTop = 0;       // top of the graph's vertical axis; not saved
  bool Changed = false;      // the picture would differ from the last drawing
  bool PaintLock = false;    // set while the graph draws from this history

  // Stores the shape (a count above 145 buckets or 3 series is cut; values
  // below 1 count as 1), makes the sample-count block of an averaging
  // history, then Reset.
  void Init(int32_t bucket_seconds, int32_t bucket_count, int32_t series_count, bool averaging);
  // Empties the history and starts a new window at the current time.
  void Reset();
  // Advance, then adds values[s] to the open bucket of each series s.
  // Entries beyond the span's end count as absent. Totals saturate.
  void AddSample(std::span<const int32_t> values);
  // Closes the open bucket when time has moved on and slides the window;
  // resets when the clock lies before Start or more than two windows after
  // it. Does nothing while PaintLock is set.
  void Advance();
  // Slides the window steps buckets forward; Start moves with it.
  void Shift(int32_t steps);
  // acquire: false when PaintLock is already set, else sets it and gives
  // true. Release: clears it and gives true.
  bool Lock(bool acquire);

  bool Averaging() const { return SampleCounts != nullptr; }
  // The value of bucket j of series s: in an averaging history the total
  // divided by its sample count when that is not zero.
  double BucketValue(int32_t series, int32_t bucket) const;

  // The STATS.DAT record of this history: 1805 bytes, or 3545 when averaging.
  std::size_t RecordSize() const { return Averaging() ? kStatAveragingRecordSize : kStatTotalsRecordSize; }
  // Appends the record to out, little-endian; entries without meaning are 0.
  void Save(std::vector<uint8_t>& out) const;
  // Resets, then reads the record that begins at data[pos]. The record is
  // taken only when its shape matches this history and its values are in
  // range (0 <= OpenBucket = ShownBuckets <= BucketCount; Start a valid date
  // no more than one window ahead of now). pos ends just past the record
  // (past all of it whatever the result), or at the end of data when short.
  TStatRecordStatus Load(std::span<const uint8_t> data, std::size_t& pos);

  // For the graph. Updates ScaleTop from the largest bucket value of the
  // whole window: it grows at once to 1.2 x the maximum + 1 when the data
  // exceed it, and every tenth call it is fitted anew.
  void ScaleMax();
  // Series s as polygon vertices in plot: vertex 0 at the bottom-left, one
  // per shown bucket, the rest on the baseline under the last shown bucket.
  // Fills every entry of vertices (writing only what fits). Clears Changed.
  void BuildPolygon(std::span<TStatPoint> vertices, int32_t series, const TStatRect& plot);
};

// Clamped linear maps: c + a x (d - c) / b, or c when b is 0, limited to the
// closed interval between c and d (which may run downwards). The integer map
// multiplies first and truncates toward zero.
int32_t MapIntLinear(int32_t a, int32_t b, int32_t c, int32_t d);
double MapValueLinear(double a, double b, double c, double d);
platform::TDateTime MapDateLinear(double a, double b, platform::TDateTime c, platform::TDateTime d);
// To the nearest pixel, halves to even.
int32_t RoundPixel(double v);

// Whole seconds from h.Start to t (the time of day rounded to the
// millisecond, the milliseconds then dropped); negative when t is earlier.
int32_t SecondsSinceStart(const TStatHistory& h, platform::TDateTime t);
// SecondsSinceStart divided by BucketSeconds, truncated toward zero.
int32_t BucketIndex(const TStatHistory& h, platform::TDateTime t);
// t moved by exactly that many whole seconds, carried through the time
// fields so that t keeps its time of day to the millisecond.
platform::TDateTime AddSecondsToTime(int32_t seconds, platform::TDateTime t);

// --- The console's sixteen histories and STATS.DAT -------------------------

constexpr int kStatScaleCount = 4;
// Bucket widths of the scales "1 Minute", "20 Minutes", "3 Hours", "1 Day".
constexpr int32_t kStatScaleSeconds[kStatScaleCount] = {60, 1200, 10800, 86400};
constexpr int32_t kStatConsoleBuckets = 73;
constexpr int32_t kStatConsoleSeries = 2;
constexpr std::size_t kStatFileRecords = 16;
// Per scale two totals and two averaging records: 4 x (1805 + 1805 + 3545 + 3545).
constexpr std::size_t kStatFileSize = 42800;

// Initialises the console's histories, each array holding scales 1 to 4 at
// index 0 to 3: Hits and Logins keep totals, Connections and Users average.
void InitConsoleHistories(std::span<TStatHistory, 4> hits, std::span<TStatHistory, 4> logins,
                          std::span<TStatHistory, 4> connections, std::span<TStatHistory, 4> users);
// The sixteen histories in file order: for scale 1 to 4, Hits, Logins,
// Connections, Users.
std::array<TStatHistory*, kStatFileRecords> StatFileOrder(std::span<TStatHistory, 4> hits,
                                                          std::span<TStatHistory, 4> logins,
                                                          std::span<TStatHistory, 4> connections,
                                                          std::span<TStatHistory, 4> users);

// What LoadStatHistories did; loading never throws.
struct TStatLoadResult {
  bool Opened = false;  // the file was opened (counts as "Files Opened")
  bool Closed = false;  // and closed again (counts as "Files Closed")
  int32_t Taken = 0;    // records taken into their histories
  // Empty when the file was absent or read to the end of the last record;
  // otherwise why reading stopped early: "Read beyond end of file" for a
  // short file, or the system's text for a failed open or read.
  std::string Error;
};

// Loads histories in order from the file. A record that is not taken leaves
// its history reset and reading goes on at the next record. When the file
// ends early (or cannot be read), the histories read before keep their data
// and the rest are reset. An absent file touches nothing. Every entry of
// histories must point at a history (so must SaveStatHistories'). A name
// that is no regular file (a directory, FIFO or device) loads nothing and
// is reported; the open never waits.
TStatLoadResult LoadStatHistories(const std::string& file_name, std::span<TStatHistory* const> histories);

// A failed save. what() is the run-time text: "Disk full" when the disk is
// full, else the system's text for the error.
class TStatFileError : public std::runtime_error {
 public:
  TStatFileError(int error_number, const std::string& text) : std::runtime_error(text), ErrorNumber(error_number) {}
  int ErrorNumber;  // errno of the failed call
};

// The error of a name that is a FIFO, device or socket, not a file.
inline constexpr char kStatNotRegularText[] = "Not a regular file";

// The text a TStatFileError carries for an errno value.
std::string StatFileErrorText(int error_number);

// Writes the histories' records to a temporary file beside file_name,
// flushes it to disk and renames it over file_name, so a failure leaves the
// previous file as it was. Throws TStatFileError (the temporary is removed).
// A name that is no regular file is not replaced.
void SaveStatHistories(const std::string& file_name, std::span<TStatHistory* const> histories);

// Removes the temporary files that saves of file_name left when their
// programs were killed in the middle (those of processes that still run are
// kept).
void RemoveStatSaveLeftovers(const std::string& file_name);
