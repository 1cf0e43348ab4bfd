#include "console/statshistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <climits>
#include <limits>
#include <system_error>

#include "platform/files.h"

using platform::TDateTime;

namespace {

constexpr int64_t kMsPerDay = 86400000;

// A save's temporary file: the file's name + "." + process id + this.
constexpr char kSaveSuffix[] = ".tmp";

// Date-times of this magnitude (about 270000 years either way) are outside
// every real clock; the integer arithmetic below stays far from overflow.
constexpr double kDayLimit = 1e8;

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int32_t SaturatingAdd(int32_t a, int32_t b) { return ClampToInt32(static_cast<int64_t>(a) + b); }

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Splits t into whole days and the time of day in milliseconds (rounded, as
// the time decoding does), carrying a time of day that rounds up to midnight
// into the next day. False for a t too far out to split.
bool SplitTime(TDateTime t, int64_t& days, int64_t& ms) {
  if (!std::isfinite(t) || std::fabs(t) > kDayLimit) return false;
  double whole = std::floor(t);
  days = static_cast<int64_t>(whole);
  ms = std::llround((t - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {
    days += 1;
    ms -= kMsPerDay;
  }
  return true;
}

TDateTime JoinTime(int64_t days, int64_t ms) {
  return static_cast<double>(days) + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

// Adding whole seconds to the integer fields (days, milliseconds of the day)
// rather than a floating fraction to t: the time of day keeps its exact
// milliseconds however often a time is moved.
TDateTime AddSeconds(int64_t seconds, TDateTime t) {
  int64_t days, ms;
  if (!SplitTime(t, days, ms)) return t + static_cast<double>(seconds) / platform::kSecondsPerDay;
  int64_t total = ms + seconds * 1000;
  return JoinTime(days + FloorDiv(total, kMsPerDay), total - FloorDiv(total, kMsPerDay) * kMsPerDay);
}

int64_t WindowSeconds(const TStatHistory& h) { return static_cast<int64_t>(h.BucketCount) * h.BucketSeconds; }

// --- Little-endian record fields ------------------------------------------

void PutInt32(std::vector<uint8_t>& out, int32_t v) {
  auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

void PutDouble(std::vector<uint8_t>& out, double v) {
  auto u = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

int32_t GetInt32(const uint8_t* p) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(p[i]) << (8 * i);
  return static_cast<int32_t>(u);
}

double GetDouble(const uint8_t* p) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= static_cast<uint64_t>(p[i]) << (8 * i);
  return std::bit_cast<double>(u);
}

// Offsets within a record, after the 13-byte header.
constexpr std::size_t kOffStart = 13;
constexpr std::size_t kOffOpenBucket = 21;
constexpr std::size_t kOffShownBuckets = 25;
constexpr std::size_t kOffOpenTotals = 29;
constexpr std::size_t kOffPreviousTotals = 41;
constexpr std::size_t kOffOpenSamples = 53;
constexpr std::size_t kOffValues = 65;
constexpr std::size_t kOffSampleCounts = kStatTotalsRecordSize;

// The earliest and the latest date-time a record may hold (years 1 to 9999).
const TDateTime kFirstDate = platform::EncodeDate(1, 1, 1);
const TDateTime kEndDate = platform::EncodeDate(9999, 12, 31) + 1;

}  // namespace

// --- Time arithmetic --------------------------------------------------------

int32_t SecondsSinceStart(const TStatHistory& h, TDateTime t) {
  double d = t - h.Start;
  if (std::isnan(d)) return 0;
  bool negative = d < 0;
  d = std::fabs(d);
  // More whole seconds than an int32 holds: saturate.
  if (d > 24856.0) return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
  double whole = std::trunc(d);
  int64_t ms = static_cast<int64_t>(whole) * kMsPerDay + std::llround((d - whole) * static_cast<double>(kMsPerDay));
  int64_t seconds = ms / 1000;
  return ClampToInt32(negative ? -seconds : seconds);
}

int32_t BucketIndex(const TStatHistory& h, TDateTime t) {
  return SecondsSinceStart(h, t) / std::max<int32_t>(h.BucketSeconds, 1);
}

TDateTime AddSecondsToTime(int32_t seconds, TDateTime t) { return AddSeconds(seconds, t); }

// --- Operations -----------------------------------------------------------

void TStatHistory::Init(int32_t bucket_seconds, int32_t bucket_count, int32_t series_count, bool averaging) {
  BucketSeconds = std::max<int32_t>(bucket_seconds, 1);
  BucketCount = std::clamp<int32_t>(bucket_count, 1, kStatMaxBuckets);
  SeriesCount = std::clamp<int32_t>(series_count, 1, kStatMaxSeries);
  if (averaging) {
    if (!SampleCounts) SampleCounts = std::make_unique<TStatRow[]>(kStatMaxSeries);
  } else {
    SampleCounts.reset();
  }
  Reset();
}

void TStatHistory::Reset() {
  Start = platform::Now();
  OpenBucket = 0;
  ShownBuckets = 0;
  ScaleTop = 0;
  PaintCounter = 0;
  Changed = true;
  PaintLock = false;
  // The whole arrays, not only the meaningful part: entries without meaning
  // then stay zero, which is also what a save writes there.
  std::memset(OpenTotals, 0, sizeof OpenTotals);
  std::memset(PreviousTotals, 0, sizeof PreviousTotals);
  std::memset(OpenSamples, 0, sizeof OpenSamples);
  std::memset(Values, 0, sizeof Values);
  if (SampleCounts) std::memset(SampleCounts.get(), 0, sizeof(TStatRow) * kStatMaxSeries);
}

void TStatHistory::AddSample(std::span<const int32_t> values) {
  Advance();
  std::size_t n = std::min<std::size_t>(values.size(), static_cast<std::size_t>(SeriesCount));
  for (std::size_t s = 0; s < n; ++s) {
    OpenTotals[s] = SaturatingAdd(OpenTotals[s], values[s]);
    if (SampleCounts) OpenSamples[s] = SaturatingAdd(OpenSamples[s], 1);
  }
}

void TStatHistory::Advance() {
  if (PaintLock) return;
  TDateTime now = platform::Now();
  if (now < Start || now > AddSeconds(2 * WindowSeconds(*this), Start)) {
    Reset();
    return;
  }
  if (BucketIndex(*this, now) == OpenBucket) return;

  // Close the open bucket, in the last slot when the window is full.
  if (OpenBucket >= BucketCount) {
    Shift(OpenBucket - BucketCount + 1);
    OpenBucket = BucketCount - 1;
  }
  for (int32_t s = 0; s < SeriesCount; ++s) {
    if (OpenTotals[s] > 0 || PreviousTotals[s] > 0) Changed = true;
    Values[s][OpenBucket] = OpenTotals[s];
    if (SampleCounts) SampleCounts[s][OpenBucket] = OpenSamples[s];
    PreviousTotals[s] = OpenTotals[s];
    OpenTotals[s] = 0;
    OpenSamples[s] = 0;
  }

  // Make room so that the present lies just past the window's right end.
  // Start may have moved, so the index is taken afresh.
  int32_t k = BucketIndex(*this, now) - 1;
  if (k >= BucketCount) Shift(k - BucketCount + 1);

  // After a slide forced by a clock set back, the present can lie a whole
  // bucket before Start; bucket 0 then collects until the next advance
  // resets the window. Kept within 0..BucketCount, OpenBucket always has a
  // slot when it closes.
  OpenBucket = std::clamp<int32_t>(BucketIndex(*this, now), 0, BucketCount);
  ShownBuckets = OpenBucket;
}

void TStatHistory::Shift(int32_t steps) {
  if (steps <= 0) return;
  // Past BucketCount steps the window only holds zeros, so the moves stop
  // there; Start still moves the full distance.
  int32_t moves = std::min(steps, BucketCount);
  for (int32_t step = 0; step < moves; ++step) {
    for (int32_t s = 0; s < SeriesCount; ++s) {
      for (int32_t j = 0; j + 1 < BucketCount; ++j) {
        if (Values[s][j] > 0) Changed = true;
        Values[s][j] = Values[s][j + 1];
        if (SampleCounts) SampleCounts[s][j] = SampleCounts[s][j + 1];
      }
      Values[s][BucketCount - 1] = 0;
      if (SampleCounts) SampleCounts[s][BucketCount - 1] = 0;
    }
  }
  Start = AddSeconds(static_cast<int64_t>(steps) * BucketSeconds, Start);
}

bool TStatHistory::Lock(bool acquire) {
  if (!acquire) {
    PaintLock = false;
    return true;
  }
  if (PaintLock) return false;
  PaintLock = true;
  return true;
}

double TStatHistory::BucketValue(int32_t series, int32_t bucket) const {
  if (series < 0 || series >= kStatMaxSeries || bucket < 0 || bucket >= kStatMaxBuckets) return 0;
  double total = Values[series][bucket];
  if (SampleCounts && SampleCounts[series][bucket] != 0) return total / SampleCounts[series][bucket];
  return total;
}

// --- STATS.DAT records ----------------------------------------------------

void TStatHistory::Save(std::vector<uint8_t>& out) const {
  auto meaningful = [this](int32_t s, int32_t j) { return s < SeriesCount && j < BucketCount; };
  PutInt32(out, BucketSeconds);
  PutInt32(out, BucketCount);
  PutInt32(out, SeriesCount);
  out.push_back(SampleCounts ? 1 : 0);
  PutDouble(out, Start);
  PutInt32(out, OpenBucket);
  PutInt32(out, ShownBuckets);
  for (const int32_t* group : {OpenTotals, PreviousTotals, OpenSamples})
    for (int32_t s = 0; s < kStatMaxSeries; ++s) PutInt32(out, s < SeriesCount ? group[s] : 0);
  for (int32_t s = 0; s < kStatMaxSeries; ++s)
    for (int32_t j = 0; j < kStatMaxBuckets; ++j) PutInt32(out, meaningful(s, j) ? Values[s][j] : 0);
  if (SampleCounts) {
    for (int32_t s = 0; s < kStatMaxSeries; ++s)
      for (int32_t j = 0; j < kStatMaxBuckets; ++j) PutInt32(out, meaningful(s, j) ? SampleCounts[s][j] : 0);
  }
}

TStatRecordStatus TStatHistory::Load(std::span<const uint8_t> data, std::size_t& pos) {
  Reset();
  pos = std::min(pos, data.size());
  std::size_t left = data.size() - pos;
  if (left < kStatRecordHeaderSize) {
    pos = data.size();
    return TStatRecordStatus::Short;
  }
  const uint8_t* rec = data.data() + pos;
  uint8_t averaging = rec[12];
  std::size_t size = averaging == 1 ? kStatAveragingRecordSize : kStatTotalsRecordSize;
  if (left < size) {
    pos = data.size();
    return TStatRecordStatus::Short;
  }
  pos += size;  // whatever follows, reading goes on at the next record

  if (GetInt32(rec) != BucketSeconds || GetInt32(rec + 4) != BucketCount || GetInt32(rec + 8) != SeriesCount ||
      averaging != (SampleCounts ? 1 : 0))
    return TStatRecordStatus::NotTaken;

  // Values that would index outside the arrays, or a Start that is no date
  // or lies in the future by more than a window, do not make a history.
  TDateTime start = GetDouble(rec + kOffStart);
  int32_t open_bucket = GetInt32(rec + kOffOpenBucket);
  int32_t shown = GetInt32(rec + kOffShownBuckets);
  if (open_bucket != shown || open_bucket < 0 || open_bucket > BucketCount) return TStatRecordStatus::Invalid;
  if (!std::isfinite(start) || start < kFirstDate || start >= kEndDate ||
      start > AddSeconds(WindowSeconds(*this), platform::Now()))
    return TStatRecordStatus::Invalid;

  Start = start;
  OpenBucket = open_bucket;
  ShownBuckets = shown;
  for (int32_t s = 0; s < SeriesCount; ++s) {
    OpenTotals[s] = GetInt32(rec + kOffOpenTotals + 4 * s);
    PreviousTotals[s] = GetInt32(rec + kOffPreviousTotals + 4 * s);
    OpenSamples[s] = GetInt32(rec + kOffOpenSamples + 4 * s);
    for (int32_t j = 0; j < BucketCount; ++j) {
      std::size_t at = 4 * (static_cast<std::size_t>(s) * kStatMaxBuckets + j);
      Values[s][j] = GetInt32(rec + kOffValues + at);
      if (SampleCounts) SampleCounts[s][j] = GetInt32(rec + kOffSampleCounts + at);
    }
  }
  return TStatRecordStatus::Taken;
}

// --- For the graph --------------------------------------------------------

double MapValueLinear(double a, double b, double c, double d) {
  double r = (b == 0) ? c : c + a * (d - c) / b;
  double lo = std::min(c, d), hi = std::max(c, d);
  if (!(r >= lo)) r = lo;  // also catches NaN
  if (r > hi) r = hi;
  return r;
}

int32_t MapIntLinear(int32_t a, int32_t b, int32_t c, int32_t d) {
  // In 64 bits, so (d - c) x a cannot overflow; the quotient lies between
  // c and d whenever a lies between 0 and b, and is clamped otherwise.
  int64_t r = (b == 0) ? c : c + (static_cast<int64_t>(d) - c) * a / b;
  return static_cast<int32_t>(std::clamp<int64_t>(r, std::min(c, d), std::max(c, d)));
}

TDateTime MapDateLinear(double a, double b, TDateTime c, TDateTime d) { return MapValueLinear(a, b, c, d); }

int32_t RoundPixel(double v) {
  double r = std::nearbyint(v);
  if (!(r > INT32_MIN)) return INT32_MIN;
  if (r >= INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(r);
}

void TStatHistory::ScaleMax() {
  double data_max = 0;
  for (int32_t s = 0; s < SeriesCount; ++s)
    for (int32_t j = 0; j < BucketCount; ++j) data_max = std::max(data_max, BucketValue(s, j));
  PaintCounter += 1;
  if (PaintCounter >= 10) {
    PaintCounter = 0;
    if (ScaleTop > 1.2 * data_max) ScaleTop = 0;
  }
  if (data_max > ScaleTop) ScaleTop = 1.2 * data_max + 1;
}

void TStatHistory::BuildPolygon(std::span<TStatPoint> vertices, int32_t series, const TStatRect& plot) {
  Changed = false;
  if (vertices.empty()) return;
  const int32_t baseline = plot.Bottom - 1;
  vertices[0] = {plot.Left, baseline};
  std::size_t shown = static_cast<std::size_t>(std::clamp<int32_t>(ShownBuckets, 0, BucketCount));
  shown = std::min(shown, vertices.size() - 1);
  bool has_series = series >= 0 && series < SeriesCount;
  for (std::size_t j = 0; j < shown; ++j) {
    double value = has_series ? BucketValue(series, static_cast<int32_t>(j)) : 0;
    vertices[j + 1] = {RoundPixel(MapValueLinear(static_cast<double>(j), BucketCount - 1, plot.Left, plot.Right - 2)),
                       RoundPixel(MapValueLinear(value, ScaleTop, baseline, plot.Top + 1))};
  }
  for (std::size_t v = shown + 1; v < vertices.size(); ++v) vertices[v] = {vertices[shown].X, baseline};
}

// --- The console's histories and STATS.DAT -----------------------------------

void InitConsoleHistories(std::span<TStatHistory, 4> hits, std::span<TStatHistory, 4> logins,
                          std::span<TStatHistory, 4> connections, std::span<TStatHistory, 4> users) {
  for (int i = 0; i < kStatScaleCount; ++i) {
    hits[i].Init(kStatScaleSeconds[i], kStatConsoleBuckets, kStatConsoleSeries, false);
    logins[i].Init(kStatScaleSeconds[i], kStatConsoleBuckets, kStatConsoleSeries, false);
    connections[i].Init(kStatScaleSeconds[i], kStatConsoleBuckets, kStatConsoleSeries, true);
    users[i].Init(kStatScaleSeconds[i], kStatConsoleBuckets, kStatConsoleSeries, true);
  }
}

std::array<TStatHistory*, kStatFileRecords> StatFileOrder(std::span<TStatHistory, 4> hits,
                                                          std::span<TStatHistory, 4> logins,
                                                          std::span<TStatHistory, 4> connections,
                                                          std::span<TStatHistory, 4> users) {
  std::array<TStatHistory*, kStatFileRecords> order{};
  for (std::size_t i = 0; i < kStatScaleCount; ++i) {
    order[4 * i] = &hits[i];
    order[4 * i + 1] = &logins[i];
    order[4 * i + 2] = &connections[i];
    order[4 * i + 3] = &users[i];
  }
  return order;
}

std::string StatFileErrorText(int error_number) {
  if (error_number == ENOSPC || error_number == EDQUOT) return "Disk full";
  return std::generic_category().message(error_number);
}

namespace {
// Only a regular file holds statistics: a directory, FIFO or device under
// the name is an error with its message.
std::string NotRegularText(mode_t mode) {
  return S_ISDIR(mode) ? StatFileErrorText(EISDIR) : std::string(kStatNotRegularText);
}
}  // namespace

TStatLoadResult LoadStatHistories(const std::string& file_name, std::span<TStatHistory* const> histories) {
  TStatLoadResult result;
  // Non-blocking, so that a FIFO under the name cannot hold up the start.
  int fd = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno != ENOENT) result.Error = StatFileErrorText(errno);
    return result;
  }
  result.Opened = true;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    result.Error = NotRegularText(st.st_mode);
    result.Closed = ::close(fd) == 0;
    return result;
  }

  // No more than the records can use; whatever follows them is ignored.
  std::vector<uint8_t> data(histories.size() * kStatAveragingRecordSize);
  std::size_t got = 0;
  while (got < data.size()) {
    ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.Error = StatFileErrorText(errno);
      break;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  data.resize(got);
  result.Closed = ::close(fd) == 0;

  std::size_t pos = 0;
  bool ended = false;
  for (TStatHistory* h : histories) {
    if (ended) {
      h->Reset();
      continue;
    }
    TStatRecordStatus status = h->Load(data, pos);
    if (status == TStatRecordStatus::Taken) result.Taken += 1;
    if (status == TStatRecordStatus::Short) {
      ended = true;
      if (result.Error.empty()) result.Error = "Read beyond end of file";
    }
  }
  return result;
}

void RemoveStatSaveLeftovers(const std::string& file_name) {
  platform::RemoveFilesOfEndedProcesses(platform::DirectoryPart(file_name), platform::FileNamePart(file_name) + ".",
                                        kSaveSuffix);
}

void SaveStatHistories(const std::string& file_name, std::span<TStatHistory* const> histories) {
  std::vector<uint8_t> data;
  data.reserve(histories.size() * kStatAveragingRecordSize);
  for (const TStatHistory* h : histories) h->Save(data);

  // Beside the target, so the rename stays within one file system; the
  // process id keeps two programs in one directory apart.
  std::string temp = file_name + "." + std::to_string(::getpid()) + kSaveSuffix;
  auto fail = [&temp](int error_number, int fd) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    throw TStatFileError(error_number, StatFileErrorText(error_number));
  };

  struct stat st {};
  if (::stat(file_name.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    throw TStatFileError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, NotRegularText(st.st_mode));

  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail(errno, -1);
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno, fd);
    if (n == 0) fail(ENOSPC, fd);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail(errno, fd);
  if (::close(fd) != 0) fail(errno, -1);
  if (::rename(temp.c_str(), file_name.c_str()) != 0) fail(errno, -1);
}
