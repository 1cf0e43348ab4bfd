#include "platform/datetime.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

std::mutex clock_mutex;
bool frozen = false;
std::atomic<bool> frozen_flag{false};  // frozen, readable without the lock
TDateTime frozen_at = 0;
std::once_flag env_once;

void ReadClockFromEnvironment() {
  const char* text = std::getenv("HALVORINE_CLOCK");
  TDateTime t;
  if (text && ParseDateTime(text, t)) {
    frozen = true;
    frozen_at = t;
    frozen_flag.store(true);
  }
}

TDateTime RealNow() {
  using namespace std::chrono;
  auto now = system_clock::now();
  auto secs = time_point_cast<seconds>(now);
  int ms = static_cast<int>(duration_cast<milliseconds>(now - secs).count());
  return FromTimeT(system_clock::to_time_t(secs), ms);
}

// Days from 1970-01-01 for a civil date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

}  // namespace

TDateTime Now() {
  std::call_once(env_once, [] {
    std::lock_guard<std::mutex> lock(clock_mutex);
    ReadClockFromEnvironment();
  });
  if (frozen_flag.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(clock_mutex);
    if (frozen) return frozen_at;
  }
  return RealNow();
}

void SetNow(TDateTime t) {
  std::call_once(env_once, [] {});
  std::lock_guard<std::mutex> lock(clock_mutex);
  frozen = true;
  frozen_at = t;
  frozen_flag.store(true);
}

void AdvanceNow(double seconds) {
  TDateTime base = Now();
  std::lock_guard<std::mutex> lock(clock_mutex);
  frozen_at = (frozen ? frozen_at : base) + seconds / kSecondsPerDay;
  frozen = true;
  frozen_flag.store(true);
}

void ResetClock() {
  std::call_once(env_once, [] {});
  std::lock_guard<std::mutex> lock(clock_mutex);
  frozen = false;
  frozen_flag.store(false);
}

bool ClockIsFrozen() {
  Now();
  std::lock_guard<std::mutex> lock(clock_mutex);
  return frozen;
}

double MonotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool IsValidDate(int year, int month, int day) {
  static const int days_in_month[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int limit = days_in_month[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= limit;
}

TDateTime EncodeDate(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) +
         kUnixEpoch;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMSecsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
  return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, msec);
}

DateParts DecodeDate(TDateTime t) {
  DateParts p;
  // Whole days after rounding the time of day to the millisecond, so a
  // value a hair below midnight belongs to the day DecodeTime shows.
  int64_t ms_total = static_cast<int64_t>(std::llround(t * kMSecsPerDay));
  int64_t days = ms_total >= 0 ? ms_total / 86400000 : -((-ms_total + 86399999) / 86400000);
  CivilFromDays(days - static_cast<int64_t>(kUnixEpoch), p.year, p.month, p.day);
  return p;
}

TimeParts DecodeTime(TDateTime t) {
  int64_t ms_total = static_cast<int64_t>(std::llround(t * kMSecsPerDay));
  int64_t ms = ms_total % 86400000;
  if (ms < 0) ms += 86400000;
  TimeParts p;
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.msec = static_cast<int>(ms % 1000);
  return p;
}

int DayOfWeek(TDateTime t) {
  int64_t days = static_cast<int64_t>(std::floor(t));
  // 1899-12-30 was a Saturday (7).
  int64_t r = (days + 6) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

TDateTime FromTimeT(std::time_t t, int msec) {
  // Converted once per second and thread: most callers ask about now.
  thread_local std::time_t last_t = 0;
  thread_local bool have_last = false;
  thread_local std::tm tm{};
  if (!have_last || t != last_t) {
    localtime_r(&t, &tm);
    last_t = t;
    have_last = true;
  }
  return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, msec);
}

std::time_t ToTimeT(TDateTime t) {
  DateParts d = DecodeDate(t);
  TimeParts h = DecodeTime(t);
  std::tm tm{};
  tm.tm_year = d.year - 1900;
  tm.tm_mon = d.month - 1;
  tm.tm_mday = d.day;
  tm.tm_hour = h.hour;
  tm.tm_min = h.minute;
  tm.tm_sec = h.second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::string FormatShortDate(TDateTime t) {
  DateParts d = DecodeDate(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::string FormatTime(TDateTime t) {
  TimeParts h = DecodeTime(t);
  char buf[8];
  int i = 0;
  for (int v : {h.hour, h.minute, h.second}) {
    if (i) buf[i++] = ':';
    buf[i++] = static_cast<char>('0' + v / 10 % 10);
    buf[i++] = static_cast<char>('0' + v % 10);
  }
  return std::string(buf, 8);
}

std::string FormatDateTime(TDateTime t) { return FormatShortDate(t) + " " + FormatTime(t); }

std::string ShortMonthName(int month) {
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (month < 1 || month > 12) return {};
  return kMonths[month - 1];
}

std::string FormatDateTime(std::string_view format, TDateTime t) {
  if (format == "d-mmm") {
    DateParts d = DecodeDate(t);
    return std::to_string(d.day) + "-" + ShortMonthName(d.month);
  }
  if (format == "t") return FormatTime(t);
  return {};
}

bool ParseDateTime(const std::string& text, TDateTime& out) {
  int y, mo, d, h, mi, s, ms = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) != 6) return false;
  std::string rest = text.substr(static_cast<size_t>(used));
  if (!rest.empty()) {
    int more = 0;
    if (std::sscanf(rest.c_str(), ".%3d%n", &ms, &more) != 1 || static_cast<size_t>(more) != rest.size())
      return false;
  }
  if (!IsValidDate(y, mo, d) || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0) return false;
  out = EncodeDateTime(y, mo, d, h, mi, s, ms);
  return true;
}

}  // namespace platform
