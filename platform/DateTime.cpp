// Calendar arithmetic is the proleptic Gregorian calendar on day numbers; the day number of
// 30 December 1899 is 0. Texts are built and read without the C locale.
#include "platform/DateTime.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>

namespace ie {

namespace {

// Days from 1970-01-01 to 1899-12-30.
constexpr int64_t UnixEpochOffset = 25569;
// Day numbers of 1 January 0001 and 31 December 9999.
constexpr int64_t MinDayNumber = -693593;
constexpr int64_t MaxDayNumber = 2958465;

int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + UnixEpochOffset;
}

void CivilFromDays(int64_t dayNumber, int& year, int& month, int& day) {
    const int64_t z = dayNumber - UnixEpochOffset + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// Splits a value into its day number and the milliseconds of its day, rounding to whole
// milliseconds first. False for values outside years 1..9999 (and for NaN and infinities).
bool SplitDateTime(TDateTime value, int64_t& dayNumber, int& msOfDay) {
    if (!std::isfinite(value) || value < MinDayNumber - 1 || value > MaxDayNumber + 1) return false;
    const int64_t total = static_cast<int64_t>(std::nearbyint(value * MSecsPerDay));
    // The day is the integer part (toward zero), the time the magnitude of the fraction.
    dayNumber = total / MSecsPerDay;
    const int64_t rest = total % MSecsPerDay;
    msOfDay = static_cast<int>(rest < 0 ? -rest : rest);
    return dayNumber >= MinDayNumber && dayNumber <= MaxDayNumber;
}

TDateTimeClock& Clock() {
    static TDateTimeClock clock;
    return clock;
}

TDateTime SystemNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&t, &local);
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                      static_cast<int>(ms < 0 ? ms + 1000 : ms));
}

} // namespace

TFormatSettings& FormatSettings() {
    static TFormatSettings settings;
    return settings;
}

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    result = static_cast<TDateTime>(DaysFromCivil(year, month, day));
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
    if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 ||
        msec >= 1000)
        return false;
    result = static_cast<TDateTime>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
    return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime r;
    if (!TryEncodeTime(hour, min, sec, msec, r))
        throw EConvertError("Invalid argument to time encode");
    return r;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
    const TDateTime d = EncodeDate(year, month, day);
    const TDateTime t = EncodeTime(hour, min, sec, msec);
    // Before the origin the fraction counts forward from midnight of the (negative) day.
    return d >= 0 ? d + t : d - t;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec) {
    int64_t dayNumber = 0;
    int ms = 0;
    if (!SplitDateTime(value, dayNumber, ms)) {
        year = month = day = hour = min = sec = msec = 0;
        return;
    }
    CivilFromDays(dayNumber, year, month, day);
    msec = ms % 1000;
    ms /= 1000;
    sec = ms % 60;
    ms /= 60;
    min = ms % 60;
    hour = ms / 60;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    int h, n, s, z;
    DecodeDateTime(value, year, month, day, h, n, s, z);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
    int y, m, d;
    DecodeDateTime(value, y, m, d, hour, min, sec, msec);
}

int DayOfWeek(TDateTime value) {
    int64_t dayNumber = 0;
    int ms = 0;
    if (!SplitDateTime(value, dayNumber, ms)) return 0;
    // Day 0 (30 December 1899) was a Saturday.
    int64_t r = (dayNumber + 6) % 7;
    if (r < 0) r += 7;
    return static_cast<int>(r) + 1;
}

TDateTime IncMonth(TDateTime value, int months) {
    int y, m, d, h, n, s, z;
    DecodeDateTime(value, y, m, d, h, n, s, z);
    if (y == 0) throw EConvertError("Invalid argument to date encode");
    int64_t total = static_cast<int64_t>(y) * 12 + (m - 1) + months;
    int64_t ny = total >= 0 ? total / 12 : (total - 11) / 12;
    const int nm = static_cast<int>(total - ny * 12) + 1;
    if (ny < 1 || ny > 9999) throw EConvertError("Invalid argument to date encode");
    const int maxDay = DaysInMonth(static_cast<int>(ny), nm);
    return EncodeDateTime(static_cast<int>(ny), nm, d > maxDay ? maxDay : d, h, n, s, z);
}

void SetDateTimeClock(TDateTimeClock clock) {
    Clock() = std::move(clock);
}

TDateTime Now() {
    return Clock() ? Clock()() : SystemNow();
}

namespace {
TMillisecondTimer& MillisecondTimer() {
    static TMillisecondTimer timer;
    return timer;
}
} // namespace

void SetMillisecondTimer(TMillisecondTimer timer) {
    MillisecondTimer() = std::move(timer);
}

int64_t TimerMilliseconds() {
    if (MillisecondTimer()) return MillisecondTimer()();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TDateTime Date() {
    return std::trunc(Now());
}

TDateTime Time() {
    const TDateTime now = Now();
    return std::fabs(now - std::trunc(now));
}

// ---- Formatting ----------------------------------------------------------------------------

namespace {

struct TDecoded {
    int Year, Month, Day, Hour, Min, Sec, MSec, DayOfWeek;
};

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWithNoCase(std::string_view text, size_t pos, std::string_view what) {
    if (what.empty() || text.size() - pos < what.size()) return false;
    for (size_t i = 0; i < what.size(); ++i)
        if (Upper(text[pos + i]) != Upper(what[i])) return false;
    return true;
}

void AppendNumber(std::string& out, int value, int minDigits) {
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, value < 0 ? -value : value);
    if (value < 0) out += '-';
    for (int i = static_cast<int>(res.ptr - buf); i < minDigits; ++i)
        out += '0';
    out.append(buf, res.ptr);
}

// Whether an AM/PM specifier follows from Pos on (quoted texts skipped): it makes the hours
// before it 12-hour hours.
bool AmPmFollows(std::string_view fmt, size_t pos) {
    while (pos < fmt.size()) {
        const char c = fmt[pos];
        if (c == '"' || c == '\'') {
            const size_t close = fmt.find(c, pos + 1);
            if (close == std::string_view::npos) return false;
            pos = close + 1;
            continue;
        }
        if (StartsWithNoCase(fmt, pos, "AM/PM") || StartsWithNoCase(fmt, pos, "A/P") ||
            StartsWithNoCase(fmt, pos, "AMPM"))
            return true;
        ++pos;
    }
    return false;
}

void AppendDateTime(std::string& out, std::string_view fmt, const TDecoded& dt,
                    const TFormatSettings& fs, int level) {
    // Formats named inside a format (c, ddddd, t, ...) are expanded one level deep only, so a
    // settings format that names itself cannot recurse for ever.
    auto nested = [&](std::string_view inner) {
        if (level < 2) AppendDateTime(out, inner, dt, fs, level + 1);
    };
    char lastToken = ' ';
    size_t i = 0;
    const size_t n = fmt.size();
    while (i < n) {
        const char starter = fmt[i];
        char token = Upper(starter);
        const bool letter = token >= 'A' && token <= 'Z';
        if (letter) {
            // "m" right after an hour is the minute.
            if (token == 'M' && lastToken == 'H') token = 'N';
            lastToken = token;
        }
        size_t count = 1;
        auto takeCount = [&] {
            count = 1;
            while (i + count < n && fmt[i + count] == starter)
                ++count;
            i += count;
        };
        switch (letter ? token : starter) {
        case 'Y':
            takeCount();
            if (count <= 2)
                AppendNumber(out, dt.Year % 100, 2);
            else
                AppendNumber(out, dt.Year, 4);
            break;
        case 'M':
            takeCount();
            if (count <= 2)
                AppendNumber(out, dt.Month, static_cast<int>(count));
            else if (dt.Month >= 1)
                out +=
                    count == 3 ? fs.ShortMonthNames[dt.Month - 1] : fs.LongMonthNames[dt.Month - 1];
            break;
        case 'D':
            takeCount();
            if (count <= 2)
                AppendNumber(out, dt.Day, static_cast<int>(count));
            else if (count == 3 && dt.DayOfWeek >= 1)
                out += fs.ShortDayNames[dt.DayOfWeek - 1];
            else if (count == 4 && dt.DayOfWeek >= 1)
                out += fs.LongDayNames[dt.DayOfWeek - 1];
            else if (count == 5)
                nested(fs.ShortDateFormat);
            else if (count >= 6)
                nested(fs.LongDateFormat);
            break;
        case 'E':
            takeCount();
            AppendNumber(out, dt.Year, count == 1 ? 1 : 2);
            break;
        case 'G':
            takeCount();
            out += "A.D.";
            break;
        case 'H': {
            takeCount();
            int hour = dt.Hour;
            if (AmPmFollows(fmt, i)) {
                hour %= 12;
                if (hour == 0) hour = 12;
            }
            AppendNumber(out, hour, count == 1 ? 1 : 2);
            break;
        }
        case 'N':
            takeCount();
            AppendNumber(out, dt.Min, count == 1 ? 1 : 2);
            break;
        case 'S':
            takeCount();
            AppendNumber(out, dt.Sec, count == 1 ? 1 : 2);
            break;
        case 'Z':
            takeCount();
            AppendNumber(out, dt.MSec, count <= 2 ? 1 : 3);
            break;
        case 'T':
            takeCount();
            nested(count == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat);
            break;
        case 'C':
            takeCount();
            nested(fs.ShortDateFormat);
            if (dt.Hour != 0 || dt.Min != 0 || dt.Sec != 0 || dt.MSec != 0) {
                out += ' ';
                nested(fs.LongTimeFormat);
            }
            break;
        case 'A': {
            const bool pm = dt.Hour >= 12;
            if (StartsWithNoCase(fmt, i, "AM/PM")) {
                // The letters are copied from the format, so "am/pm" writes lower case.
                out.append(fmt.substr(pm ? i + 3 : i, 2));
                i += 5;
            } else if (StartsWithNoCase(fmt, i, "A/P")) {
                out += fmt[pm ? i + 2 : i];
                i += 3;
            } else if (StartsWithNoCase(fmt, i, "AMPM")) {
                out += pm ? fs.TimePMString : fs.TimeAMString;
                i += 4;
            } else if (StartsWithNoCase(fmt, i, "AAAA")) {
                if (dt.DayOfWeek >= 1) out += fs.LongDayNames[dt.DayOfWeek - 1];
                i += 4;
            } else if (StartsWithNoCase(fmt, i, "AAA")) {
                if (dt.DayOfWeek >= 1) out += fs.ShortDayNames[dt.DayOfWeek - 1];
                i += 3;
            } else {
                out += starter;
                ++i;
            }
            break;
        }
        case '/':
            out += fs.DateSeparator;
            ++i;
            break;
        case ':':
            out += fs.TimeSeparator;
            ++i;
            break;
        case '"':
        case '\'': {
            size_t close = fmt.find(starter, i + 1);
            if (close == std::string_view::npos) close = n;
            out.append(fmt.substr(i + 1, close - i - 1));
            i = close < n ? close + 1 : n;
            break;
        }
        default:
            out += starter;
            ++i;
            break;
        }
    }
}

} // namespace

std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& settings) {
    TDecoded dt{};
    DecodeDateTime(value, dt.Year, dt.Month, dt.Day, dt.Hour, dt.Min, dt.Sec, dt.MSec);
    dt.DayOfWeek = DayOfWeek(value);
    std::string out;
    AppendDateTime(out, format.empty() ? std::string_view("c") : format, dt, settings, 0);
    return out;
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
    return FormatDateTime(format, value, FormatSettings());
}

std::string DateTimeToStr(TDateTime value) {
    return FormatDateTime("c", value);
}
std::string DateToStr(TDateTime value) {
    return FormatDateTime("ddddd", value);
}
std::string TimeToStr(TDateTime value) {
    return FormatDateTime("tt", value);
}

// ---- Reading -------------------------------------------------------------------------------

namespace {

class TDateTimeScanner {
public:
    TDateTimeScanner(std::string_view text, const TFormatSettings& fs) : FText(text), FS(fs) {}

    bool AtEnd() const { return FPos >= FText.size(); }

    void SkipBlanks() {
        while (FPos < FText.size() && FText[FPos] == ' ')
            ++FPos;
    }

    // At most four digits, as a date field never has more.
    bool Number(int& value, int& digits) {
        SkipBlanks();
        value = 0;
        digits = 0;
        while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9' && digits < 4) {
            value = value * 10 + (FText[FPos] - '0');
            ++digits;
            ++FPos;
        }
        return digits > 0;
    }

    bool Char(char c) {
        SkipBlanks();
        if (FPos < FText.size() && FText[FPos] == c) {
            ++FPos;
            return true;
        }
        return false;
    }

    bool Word(std::string_view word) {
        SkipBlanks();
        if (!StartsWithNoCase(FText, FPos, word)) return false;
        FPos += word.size();
        return true;
    }

    bool Date(TDateTime& value) {
        enum { MDY, DMY, YMD } order = MDY;
        for (char c : FS.ShortDateFormat) {
            const char u = Upper(c);
            if (u == 'D') {
                order = DMY;
                break;
            }
            if (u == 'Y' || u == 'E') {
                order = YMD;
                break;
            }
            if (u == 'M') break;
        }
        int n1, n2, n3, l1, l2, l3;
        if (!Number(n1, l1) || !Char(FS.DateSeparator) || !Number(n2, l2)) return false;
        int y, m, d;
        if (Char(FS.DateSeparator)) {
            if (!Number(n3, l3)) return false;
            int yearDigits;
            switch (order) {
            case MDY:
                y = n3, yearDigits = l3, m = n1, d = n2;
                break;
            case DMY:
                y = n3, yearDigits = l3, m = n2, d = n1;
                break;
            default:
                y = n1, yearDigits = l1, m = n2, d = n3;
                break;
            }
            if (yearDigits <= 2) {
                int yy, mm, dd;
                DecodeDate(Now(), yy, mm, dd);
                const int pivot = yy - FS.TwoDigitYearCenturyWindow;
                y += (pivot / 100) * 100;
                if (FS.TwoDigitYearCenturyWindow > 0 && y < pivot) y += 100;
            }
        } else {
            int mm, dd;
            DecodeDate(Now(), y, mm, dd);
            if (order == DMY)
                d = n1, m = n2;
            else
                m = n1, d = n2;
        }
        Char(FS.DateSeparator);
        SkipBlanks();
        return TryEncodeDate(y, m, d, value);
    }

    bool Time(TDateTime& value) {
        int baseHour = -1;
        if (Word(FS.TimeAMString) || Word("AM"))
            baseHour = 0;
        else if (Word(FS.TimePMString) || Word("PM"))
            baseHour = 12;
        int hour, min = 0, sec = 0, msec = 0, digits;
        if (!Number(hour, digits)) return false;
        if (Char(FS.TimeSeparator)) {
            if (!Number(min, digits)) return false;
            if (Char(FS.TimeSeparator)) {
                if (!Number(sec, digits)) return false;
                if (Char(FS.DecimalSeparator)) {
                    // A fraction of a second: ".5" is 500 milliseconds.
                    if (!Number(msec, digits) || digits > 3) return false;
                    for (; digits < 3; ++digits)
                        msec *= 10;
                }
            }
        }
        if (baseHour < 0) {
            if (Word(FS.TimeAMString) || Word("AM"))
                baseHour = 0;
            else if (Word(FS.TimePMString) || Word("PM"))
                baseHour = 12;
        }
        if (baseHour >= 0) {
            if (hour == 0 || hour > 12) return false;
            if (hour == 12) hour = 0;
            hour += baseHour;
        }
        SkipBlanks();
        return TryEncodeTime(hour, min, sec, msec, value);
    }

private:
    std::string_view FText;
    const TFormatSettings& FS;
    size_t FPos = 0;
};

[[noreturn]] void RaiseInvalid(std::string_view text, const char* what) {
    std::string msg = "'";
    msg.append(text);
    msg += "' is not a valid ";
    msg += what;
    throw EConvertError(msg);
}

} // namespace

bool TryStrToDate(std::string_view text, TDateTime& value) {
    TDateTimeScanner scan(text, FormatSettings());
    TDateTime d;
    if (!scan.Date(d) || !scan.AtEnd()) return false;
    value = d;
    return true;
}

bool TryStrToTime(std::string_view text, TDateTime& value) {
    TDateTimeScanner scan(text, FormatSettings());
    TDateTime t;
    if (!scan.Time(t) || !scan.AtEnd()) return false;
    value = t;
    return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value) {
    TDateTimeScanner scan(text, FormatSettings());
    TDateTime d, t = 0;
    // Text after the time is refused: a date and time followed by anything else is no date and
    // time.
    if (scan.Date(d) && (scan.AtEnd() || (scan.Time(t) && scan.AtEnd()))) {
        value = d >= 0 ? d + t : d - t;
        return true;
    }
    return TryStrToTime(text, value);
}

TDateTime StrToDate(std::string_view text) {
    TDateTime v;
    if (!TryStrToDate(text, v)) RaiseInvalid(text, "date");
    return v;
}

TDateTime StrToTime(std::string_view text) {
    TDateTime v;
    if (!TryStrToTime(text, v)) RaiseInvalid(text, "time");
    return v;
}

TDateTime StrToDateTime(std::string_view text) {
    TDateTime v;
    if (!TryStrToDateTime(text, v)) RaiseInvalid(text, "date and time");
    return v;
}

} // namespace ie
