// Date-times as the system keeps them: days since 30 December 1899 as a
// double, the time of day as the fraction, local time. Every "now" of the
// system goes through Now(), which tests can freeze and move.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/export.h"

HALV_EXPORT_BEGIN
namespace platform {

using TDateTime = double;

constexpr double kSecondsPerDay = 86400.0;
constexpr double kMSecsPerDay = 86400000.0;
constexpr double kUnixEpoch = 25569.0;  // 1970-01-01 as a TDateTime

// The current local date-time: the real clock, or the test clock when set.
TDateTime Now();

// Test clock. SetNow freezes the clock at t; AdvanceNow moves a frozen clock
// (or freezes the real one first); ResetClock returns to the real clock.
// The environment variable HALVORINE_CLOCK ("YYYY-MM-DD hh:mm:ss[.zzz]")
// freezes the clock of a whole process at start-up.
void SetNow(TDateTime t);
void AdvanceNow(double seconds);
void ResetClock();
bool ClockIsFrozen();

// Seconds from an arbitrary origin that never go back; for caps measured in
// wall-clock time whatever the date-time clock does.
double MonotonicSeconds();

struct DateParts {
  int year = 0, month = 0, day = 0;
};
struct TimeParts {
  int hour = 0, minute = 0, second = 0, msec = 0;
};

// Proleptic Gregorian calendar; day 0 is 1899-12-30.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec = 0);
bool IsValidDate(int year, int month, int day);
DateParts DecodeDate(TDateTime t);
// The time of day rounded to the millisecond. A value that rounds up to
// midnight reads 00:00:00.000, and DecodeDate then gives the next day.
TimeParts DecodeTime(TDateTime t);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime t);

TDateTime FromTimeT(std::time_t t, int msec = 0);  // local time
std::time_t ToTimeT(TDateTime t);                  // local time

// The system's fixed formats: short date "YYYY-MM-DD", time "hh:mm:ss".
std::string FormatShortDate(TDateTime t);
std::string FormatTime(TDateTime t);
std::string FormatDateTime(TDateTime t);  // short date, blank, time
// The abbreviated month names "Jan" .. "Dec" for 1 .. 12; empty otherwise.
std::string ShortMonthName(int month);
// t in one of the format patterns the console's graph uses: "d-mmm" (the
// day without a leading zero, "-", the abbreviated month name: "2-Mar") and
// "t" (the short time format, which is the time format "hh:mm:ss" here).
// Any other pattern gives the empty string.
std::string FormatDateTime(std::string_view format, TDateTime t);

// Parses "YYYY-MM-DD hh:mm:ss[.zzz]"; false when the text is not that.
bool ParseDateTime(const std::string& text, TDateTime& out);

}  // namespace platform
HALV_EXPORT_END
