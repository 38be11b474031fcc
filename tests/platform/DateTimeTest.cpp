#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace ie;

namespace {

// Fixes the clock and restores the settings and the system clock afterwards.
class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSaved = FormatSettings();
        SetDateTimeClock([] { return 38000.75; }); // 14 January 2004, 18:00
    }
    void TearDown() override {
        FormatSettings() = FSaved;
        SetDateTimeClock(nullptr);
    }

    static std::string ConvertMessage(const std::function<void()>& f) {
        try {
            f();
        } catch (const EConvertError& e) {
            return e.Message();
        }
        return "<no EConvertError>";
    }

private:
    TFormatSettings FSaved;
};

} // namespace

TEST_F(DateTimeTest, EncodeDateCountsDaysFrom30December1899) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1899, 12, 31), 1.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
    EXPECT_EQ(EncodeDate(2004, 1, 1), 37987.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
}

TEST_F(DateTimeTest, EncodeRejectsFieldsOutOfRange) {
    const std::string dateError = "Invalid argument to date encode";
    EXPECT_EQ(ConvertMessage([] { EncodeDate(2004, 13, 1); }), dateError);
    EXPECT_EQ(ConvertMessage([] { EncodeDate(2003, 2, 29); }), dateError);
    EXPECT_EQ(ConvertMessage([] { EncodeDate(1900, 2, 29); }), dateError);
    EXPECT_EQ(ConvertMessage([] { EncodeDate(0, 1, 1); }), dateError);
    EXPECT_EQ(ConvertMessage([] { EncodeDate(2004, 4, 31); }), dateError);
    EXPECT_EQ(ConvertMessage([] { EncodeDate(2004, 1, 0); }), dateError);
    const std::string timeError = "Invalid argument to time encode";
    EXPECT_EQ(ConvertMessage([] { EncodeTime(24, 0, 0, 0); }), timeError);
    EXPECT_EQ(ConvertMessage([] { EncodeTime(0, 60, 0, 0); }), timeError);
    EXPECT_EQ(ConvertMessage([] { EncodeTime(0, 0, 60, 0); }), timeError);
    EXPECT_EQ(ConvertMessage([] { EncodeTime(0, 0, 0, 1000); }), timeError);
    EXPECT_EQ(ConvertMessage([] { EncodeTime(-1, 0, 0, 0); }), timeError);
    EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
}

TEST_F(DateTimeTest, EncodeTimeIsAFractionOfTheDay) {
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
    EXPECT_DOUBLE_EQ(EncodeTime(0, 0, 1, 0), 1.0 / 86400.0);
    EXPECT_DOUBLE_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

TEST_F(DateTimeTest, DecodeGivesBackTheEncodedFields) {
    int y, m, d, h, n, s, z;
    DecodeDate(0, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 18991230);
    DecodeDate(EncodeDate(2004, 7, 15), y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20040715);
    DecodeTime(0.75, h, n, s, z);
    EXPECT_EQ(h, 18);
    // Every millisecond of a day survives the round trip, although most are not exact doubles.
    for (int ms = 0; ms < MSecsPerDay; ms += 997) {
        const TDateTime t = EncodeDate(2024, 2, 29) +
                            EncodeTime(ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
        DecodeDateTime(t, y, m, d, h, n, s, z);
        ASSERT_EQ(((h * 60 + n) * 60 + s) * 1000 + z, ms);
        ASSERT_EQ(y * 10000 + m * 100 + d, 20240229);
    }
    DecodeTime(EncodeTime(23, 59, 59, 999), h, n, s, z);
    EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + z, 235959999);
}

TEST_F(DateTimeTest, NegativeValuesCountTheFractionForwardFromMidnight) {
    int y, m, d, h, n, s, z;
    DecodeDateTime(-1.25, y, m, d, h, n, s, z);
    EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
    EXPECT_EQ(h, 6);
    EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
}

TEST_F(DateTimeTest, DecodeOfUnrepresentableValuesGivesZeros) {
    int y = 1, m = 1, d = 1, h = 1, n = 1, s = 1, z = 1;
    DecodeDateTime(std::numeric_limits<double>::quiet_NaN(), y, m, d, h, n, s, z);
    EXPECT_EQ(y + m + d + h + n + s + z, 0);
    DecodeDateTime(1e300, y, m, d, h, n, s, z);
    EXPECT_EQ(y + m + d, 0);
    EXPECT_EQ(DayOfWeek(1e300), 0);
    EXPECT_EQ(FormatDateTime("mmmm dddd", 1e300), " ");
}

TEST_F(DateTimeTest, DayOfWeekAndLeapYears) {
    EXPECT_EQ(DayOfWeek(0), 7);                        // Saturday
    EXPECT_EQ(DayOfWeek(1.5), 1);                      // Sunday
    EXPECT_EQ(DayOfWeek(EncodeDate(2004, 1, 1)), 5);   // Thursday
    EXPECT_EQ(DayOfWeek(EncodeDate(1776, 7, 4)), 5);   // Thursday
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 12, 25)), 4); // Wednesday
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(2004));
    EXPECT_FALSE(IsLeapYear(2003));
    EXPECT_EQ(DaysInMonth(2004, 2), 29);
    EXPECT_EQ(DaysInMonth(2003, 2), 28);
    EXPECT_EQ(DaysInMonth(2003, 11), 30);
}

TEST_F(DateTimeTest, IncMonthClampsTheDay) {
    EXPECT_EQ(IncMonth(EncodeDate(2004, 1, 31), 1), EncodeDate(2004, 2, 29));
    EXPECT_EQ(IncMonth(EncodeDate(2004, 3, 15), -3), EncodeDate(2003, 12, 15));
    EXPECT_EQ(IncMonth(EncodeDate(2004, 11, 30) + 0.25, 14), EncodeDate(2006, 1, 30) + 0.25);
}

TEST_F(DateTimeTest, ClockCanBeFixed) {
    EXPECT_EQ(Now(), 38000.75);
    EXPECT_EQ(Date(), 38000.0);
    EXPECT_EQ(Time(), 0.75);
    SetDateTimeClock(nullptr);
    const TDateTime now = Now();
    EXPECT_GT(now, EncodeDate(2020, 1, 1));
    EXPECT_LT(now, EncodeDate(2200, 1, 1));
}

TEST_F(DateTimeTest, FormatSpecifiers) {
    const TDateTime t = EncodeDate(2004, 1, 2) + EncodeTime(15, 4, 5, 7);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", t), "2004-01-02 15:04:05");
    EXPECT_EQ(FormatDateTime("yyyy", EncodeDate(2004, 1, 2)), "2004");
    EXPECT_EQ(FormatDateTime("yy y", t), "04 04");
    EXPECT_EQ(FormatDateTime("d dd ddd dddd", t), "2 02 Fri Friday");
    EXPECT_EQ(FormatDateTime("m mm mmm mmmm", t), "1 01 Jan January");
    EXPECT_EQ(FormatDateTime("h hh n nn s ss z zzz", t), "15 15 4 04 5 05 7 007");
    EXPECT_EQ(FormatDateTime("e", t), "2004");
    // "m" right after an hour is the minute, also with a separator in between.
    EXPECT_EQ(FormatDateTime("hh:mm", t), "15:04");
    EXPECT_EQ(FormatDateTime("HH:MM:SS", t), "15:04:05");
    EXPECT_EQ(FormatDateTime("mm/dd/yy", t), "01/02/04");
}

TEST_F(DateTimeTest, FormatTwelveHourClock) {
    const TDateTime pm = EncodeTime(15, 4, 5, 7);
    const TDateTime am = EncodeTime(0, 30, 0, 0);
    EXPECT_EQ(FormatDateTime("h:nn am/pm", pm), "3:04 pm");
    EXPECT_EQ(FormatDateTime("h:nn AM/PM", am), "12:30 AM");
    EXPECT_EQ(FormatDateTime("h:nn Am/pM", pm), "3:04 pM");
    EXPECT_EQ(FormatDateTime("h a/p", pm), "3 p");
    EXPECT_EQ(FormatDateTime("h A/P", am), "12 A");
    EXPECT_EQ(FormatDateTime("hh ampm", EncodeTime(12, 0, 0, 0)), "12 PM");
    EXPECT_EQ(FormatDateTime("hh ampm", EncodeTime(11, 0, 0, 0)), "11 AM");
    // Only an AM/PM after the hour makes it a 12-hour hour.
    EXPECT_EQ(FormatDateTime("ampm h", pm), "PM 15");
    // A quoted "am/pm" is a literal and makes nothing 12-hour.
    EXPECT_EQ(FormatDateTime("h 'am/pm'", pm), "15 am/pm");
    EXPECT_EQ(FormatDateTime("h \"x\" a", pm), "15 x a");
}

TEST_F(DateTimeTest, FormatLiteralsAndSeparators) {
    const TDateTime t = EncodeDate(2004, 1, 2) + EncodeTime(15, 4, 5, 7);
    EXPECT_EQ(FormatDateTime("'yyyy' \"mm\"", t), "yyyy mm");
    EXPECT_EQ(FormatDateTime("'unterminated", t), "unterminated");
    EXPECT_EQ(FormatDateTime("[x]-#", t), "[x]-#");
    FormatSettings().DateSeparator = '.';
    FormatSettings().TimeSeparator = '-';
    EXPECT_EQ(FormatDateTime("d/m h:n", t), "2.1 15-4");
}

TEST_F(DateTimeTest, FormatsFromTheSettings) {
    FormatSettings().LongTimeFormat = "h:mm:ss.zzz AMPM";
    const TDateTime t = EncodeDate(2004, 1, 2) + EncodeTime(15, 4, 5, 7);
    EXPECT_EQ(TimeToStr(t), "3:04:05.007 PM");
    EXPECT_EQ(DateToStr(t), "1/2/2004");
    EXPECT_EQ(DateTimeToStr(t), "1/2/2004 3:04:05.007 PM");
    // Midnight is written as the date alone.
    EXPECT_EQ(DateTimeToStr(EncodeDate(2004, 1, 2)), "1/2/2004");
    EXPECT_EQ(FormatDateTime("", t), "1/2/2004 3:04:05.007 PM");
    EXPECT_EQ(FormatDateTime("c", 0), "12/30/1899");
    EXPECT_EQ(FormatDateTime("t", t), "3:04 PM");
    EXPECT_EQ(FormatDateTime("ddddd", t), "1/2/2004");
    EXPECT_EQ(FormatDateTime("dddddd", t), "Friday, January 2, 2004");
    EXPECT_EQ(TimeToStr(EncodeTime(0, 0, 0, 0)), "12:00:00.000 AM");
}

TEST_F(DateTimeTest, SelfNamingSettingsFormatDoesNotRecurseForEver) {
    FormatSettings().ShortDateFormat = "ddddd c";
    EXPECT_NO_THROW(FormatDateTime("c", 1.5));
}

TEST_F(DateTimeTest, ReadDates) {
    EXPECT_EQ(StrToDate("1/2/2004"), EncodeDate(2004, 1, 2));
    EXPECT_EQ(StrToDate(" 12 / 31 / 1999 "), EncodeDate(1999, 12, 31));
    EXPECT_EQ(StrToDate("2/29/2004/"), EncodeDate(2004, 2, 29));
    // Without a year the current year (2004 by the fixed clock) is taken.
    EXPECT_EQ(StrToDate("3/4"), EncodeDate(2004, 3, 4));
    // Two-digit years lie within 50 years before the current year and 50 after it.
    EXPECT_EQ(StrToDate("1/1/04"), EncodeDate(2004, 1, 1));
    EXPECT_EQ(StrToDate("1/1/60"), EncodeDate(1960, 1, 1));
    EXPECT_EQ(StrToDate("1/1/53"), EncodeDate(2053, 1, 1));
    EXPECT_EQ(StrToDate("1/1/54"), EncodeDate(1954, 1, 1));
    FormatSettings().ShortDateFormat = "dd.mm.yyyy";
    FormatSettings().DateSeparator = '.';
    EXPECT_EQ(StrToDate("2.1.2004"), EncodeDate(2004, 1, 2));
    FormatSettings().ShortDateFormat = "yyyy-mm-dd";
    FormatSettings().DateSeparator = '-';
    EXPECT_EQ(StrToDate("2004-01-02"), EncodeDate(2004, 1, 2));
}

TEST_F(DateTimeTest, ReadDatesFailsWithTheDateMessage) {
    EXPECT_EQ(ConvertMessage([] { StrToDate("13/1/2004"); }), "'13/1/2004' is not a valid date");
    EXPECT_EQ(ConvertMessage([] { StrToDate("2/30/2004"); }), "'2/30/2004' is not a valid date");
    EXPECT_EQ(ConvertMessage([] { StrToDate("abc"); }), "'abc' is not a valid date");
    EXPECT_EQ(ConvertMessage([] { StrToDate(""); }), "'' is not a valid date");
    EXPECT_EQ(ConvertMessage([] { StrToDate("1/2/2004x"); }), "'1/2/2004x' is not a valid date");
    EXPECT_EQ(ConvertMessage([] { StrToDate("12"); }), "'12' is not a valid date");
}

TEST_F(DateTimeTest, ReadTimes) {
    EXPECT_EQ(StrToTime("12:00"), 0.5);
    EXPECT_EQ(StrToTime("6"), 0.25);
    EXPECT_EQ(StrToTime("6:00 PM"), 0.75);
    EXPECT_EQ(StrToTime("12:00 am"), 0.0);
    EXPECT_EQ(StrToTime("12:00 PM"), 0.5);
    EXPECT_EQ(StrToTime("PM 6:00"), 0.75);
    EXPECT_EQ(StrToTime("1:02:03"), EncodeTime(1, 2, 3, 0));
    EXPECT_EQ(StrToTime("3:04:05.007 PM"), EncodeTime(15, 4, 5, 7));
    // A fraction of a second is read as one: ".5" is half a second.
    EXPECT_EQ(StrToTime("1:02:03.5"), EncodeTime(1, 2, 3, 500));
    EXPECT_EQ(ConvertMessage([] { StrToTime("13:00 PM"); }), "'13:00 PM' is not a valid time");
    EXPECT_EQ(ConvertMessage([] { StrToTime("25:00"); }), "'25:00' is not a valid time");
    EXPECT_EQ(ConvertMessage([] { StrToTime("1:"); }), "'1:' is not a valid time");
    EXPECT_EQ(ConvertMessage([] { StrToTime("0:00 AM"); }), "'0:00 AM' is not a valid time");
    EXPECT_EQ(ConvertMessage([] { StrToTime("1:02:03.5000"); }),
              "'1:02:03.5000' is not a valid time");
}

TEST_F(DateTimeTest, ReadDateTimes) {
    EXPECT_EQ(StrToDateTime("1/2/2004 6:00 PM"), EncodeDate(2004, 1, 2) + 0.75);
    EXPECT_EQ(StrToDateTime("1/2/2004"), EncodeDate(2004, 1, 2));
    EXPECT_EQ(StrToDateTime("18:00"), 0.75);
    EXPECT_EQ(StrToDateTime("12/29/1899 6:00"), -1.25);
    // Text after the time is refused rather than ignored.
    EXPECT_EQ(ConvertMessage([] { StrToDateTime("1/2/2004 6:00 PM junk"); }),
              "'1/2/2004 6:00 PM junk' is not a valid date and time");
    EXPECT_EQ(ConvertMessage([] { StrToDateTime("x"); }), "'x' is not a valid date and time");
}

TEST_F(DateTimeTest, TextRoundTripsThroughTheApplicationsLongTimeFormat) {
    FormatSettings().LongTimeFormat = "h:mm:ss.zzz AMPM";
    for (int ms = 0; ms < MSecsPerDay; ms += 3599993) {
        const TDateTime t = EncodeDate(2010, 6, 30) + static_cast<double>(ms) / MSecsPerDay;
        const TDateTime back = StrToDateTime(DateTimeToStr(t));
        EXPECT_NEAR(back, t, 1e-9) << DateTimeToStr(t);
    }
}
