// Date-time values and their text forms. A TDateTime is a double: whole days since
// 30 December 1899 plus the elapsed fraction of the day. For days before that origin the
// fraction still counts forward from midnight (-1.25 is 29 December 1899, 06:00).
// Decoding first rounds to whole milliseconds, so EncodeX followed by DecodeX gives back the
// fields. Text conversions follow the process-wide TFormatSettings (United States defaults).
#pragma once

#include "platform/Exceptions.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ie {

using TDateTime = double;

constexpr int HoursPerDay = 24;
constexpr int MinsPerDay = 24 * 60;
constexpr int SecsPerDay = MinsPerDay * 60;
constexpr int MSecsPerDay = SecsPerDay * 1000;

struct TFormatSettings {
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char DecimalSeparator = '.';
    std::string ShortDateFormat = "M/d/yyyy";
    std::string LongDateFormat = "dddd, MMMM d, yyyy";
    std::string ShortTimeFormat = "h:mm AMPM";
    std::string LongTimeFormat = "h:mm:ss AMPM";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::array<std::string, 12> ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames = {"January",   "February", "March",    "April",
                                                  "May",       "June",     "July",     "August",
                                                  "September", "October",  "November", "December"};
    // Index 0 is Sunday.
    std::array<std::string, 7> ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                               "Thursday", "Friday", "Saturday"};
    // A two-digit year read from text lies within this many years before the current year and
    // (100 - window) years after it; 0 puts it in the current century.
    int TwoDigitYearCenturyWindow = 50;
};

// The process-wide settings that every conversion without explicit settings uses.
TFormatSettings& FormatSettings();

// Composing and decomposing. EncodeDate / EncodeTime raise EConvertError
// ("Invalid argument to date encode", "Invalid argument to time encode") for fields out of range
// (year 1..9999, month 1..12, day within the month, hour < 24, minute and second < 60,
// millisecond < 1000).
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);
// Adds months, keeping the time of day; a day past the end of the target month becomes its last.
TDateTime IncMonth(TDateTime value, int months = 1);

// The current local date and time, through a clock that tests can replace. Date() is the
// whole-day part of Now(), Time() the fraction.
using TDateTimeClock = std::function<TDateTime()>;
void SetDateTimeClock(TDateTimeClock clock); // an empty clock restores the system clock
TDateTime Now();
TDateTime Date();
TDateTime Time();

// A count of whole milliseconds from an arbitrary start, steady against changes of the wall
// clock; it times runs. Tests can replace it.
using TMillisecondTimer = std::function<int64_t()>;
void SetMillisecondTimer(TMillisecondTimer timer); // an empty timer restores the system one
int64_t TimerMilliseconds();

// Writes Value with the date-time format specifiers (c d dd ddd dddd ddddd dddddd e ee g gg
// m mm mmm mmmm yy yyyy h hh n nn s ss z zzz t tt am/pm a/p ampm / : and quoted literals).
// An empty format means "c".
std::string FormatDateTime(std::string_view format, TDateTime value);
std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& settings);
std::string DateTimeToStr(TDateTime value); // short date, then the long time unless midnight
std::string DateToStr(TDateTime value);     // short date format
std::string TimeToStr(TDateTime value);     // long time format

// Reading texts in the order of the short date format, with the date and time separators and
// the AM/PM texts. Failures raise EConvertError "'%s' is not a valid date", "... valid time",
// "... valid date and time".
bool TryStrToDate(std::string_view text, TDateTime& value);
bool TryStrToTime(std::string_view text, TDateTime& value);
bool TryStrToDateTime(std::string_view text, TDateTime& value);
TDateTime StrToDate(std::string_view text);
TDateTime StrToTime(std::string_view text);
TDateTime StrToDateTime(std::string_view text);

} // namespace ie
