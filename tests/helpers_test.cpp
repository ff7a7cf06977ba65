// Rounding, number and date-time text, and path helpers.
#include "common/date_time.h"
#include "common/file_utils.h"
#include "common/numbers.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>

namespace {

// Switches LC_ALL for one test and back.
struct ScopedLocale {
    explicit ScopedLocale(const char* name) : ok(std::setlocale(LC_ALL, name) != nullptr) {}
    ~ScopedLocale() { std::setlocale(LC_ALL, "C"); }
    bool ok;
};

} // namespace

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-3.5), -4);
    EXPECT_EQ(RoundHalfEven(1000.4), 1000);
    EXPECT_EQ(RoundHalfEven(1000.6), 1001);
    EXPECT_EQ(RoundHalfEven(-0.4), 0);
}

TEST(Rounding, Int16AndInt32RangesAreChecked) {
    EXPECT_EQ(RoundToInt16(32767.4), 32767);
    EXPECT_EQ(RoundToInt16(32767.5), std::nullopt); // rounds to 32768
    EXPECT_EQ(RoundToInt16(-32768.5), -32768);      // even neighbour
    EXPECT_EQ(RoundToInt16(-32769), std::nullopt);
    EXPECT_EQ(RoundToInt16(std::nan("")), std::nullopt);
    EXPECT_EQ(RoundToInt32(2147483647.0), 2147483647);
    EXPECT_EQ(RoundToInt32(2147483648.0), std::nullopt);
    EXPECT_EQ(RoundToInt32(std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(NumberText, DefaultFormsUseFifteenAndSevenDigits) {
    EXPECT_EQ(DefaultText(0.48), "0.48");
    EXPECT_EQ(DefaultText(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(DefaultText(1.5e-05), "1.5E-05");
    EXPECT_EQ(DefaultText(1e15), "1E+15");
    EXPECT_EQ(DefaultText(123456789012345.0), "123456789012345");
    EXPECT_EQ(DefaultText(-0.0), "0");
    EXPECT_EQ(DefaultText(-20.0), "-20");
    EXPECT_EQ(DefaultText(0.1f), "0.1");
    EXPECT_EQ(DefaultText(1.856385f), "1.856385");
    EXPECT_EQ(DefaultText(68400.12f), "68400.12");
}

TEST(NumberText, LocaleSeparatorOnlyWhereTheUserSeesIt) {
    ScopedLocale german("de_DE.UTF-8");
    if (!german.ok)
        GTEST_SKIP() << "locale de_DE.UTF-8 not installed";
    EXPECT_EQ(DefaultText(0.48), "0,48");
    EXPECT_EQ(PlainNumberText(0.48), "0.48");
    EXPECT_EQ(PlainNumberText(-1.5e-05), "-1.5E-05");
    EXPECT_EQ(ParseLocaleNumber("0,48"), 0.48);
    EXPECT_EQ(ParseLocaleNumber("0.48"), std::nullopt);
    EXPECT_EQ(ParseNumber("0.48"), 0.48);
}

TEST(NumberText, ParsingAcceptsOnlyWholeNumbers) {
    EXPECT_EQ(ParseNumber(" 12.5 "), 12.5);
    EXPECT_EQ(ParseNumber("+5"), 5);
    EXPECT_EQ(ParseNumber("-1E3"), -1000);
    EXPECT_EQ(ParseNumber(".5"), 0.5);
    for (const char* bad :
         {"", " ", "abc", "1.2.3", "12abc", "+-1", "++1", "inf", "nan", "1e999", "0x10"})
        EXPECT_EQ(ParseNumber(bad), std::nullopt) << bad;
}

TEST(DateTime, FractionalDaysSince18991230) {
    EXPECT_EQ(DaysFromCalendar({1899, 12, 30, 0, 0, 0}), 0);
    EXPECT_EQ(DaysFromCalendar({1900, 1, 1, 12, 0, 0}), 2.5);
    // 2012-11-22 is day 41235 (checked with a spreadsheet's DATE function).
    EXPECT_DOUBLE_EQ(DaysFromCalendar({2012, 11, 22, 11, 32, 21}),
                     41235 + (11 * 3600 + 32 * 60 + 21) / 86400.0);
    for (const CalendarTime time :
         {CalendarTime{2012, 11, 22, 11, 32, 21}, CalendarTime{2024, 2, 29, 23, 59, 59},
          CalendarTime{2000, 1, 1, 0, 0, 0}}) {
        const CalendarTime back = CalendarFromDays(DaysFromCalendar(time));
        EXPECT_EQ(std::tie(back.year, back.month, back.day, back.hour, back.minute, back.second),
                  std::tie(time.year, time.month, time.day, time.hour, time.minute, time.second));
    }
    // 18:51:51 + 150 s rounds to the second.
    const CalendarTime middle =
        CalendarFromDays(DaysFromCalendar({2012, 11, 18, 18, 51, 51}) + 150.0 / 86400.0);
    EXPECT_EQ(middle.minute, 54);
    EXPECT_EQ(middle.second, 21);
}

TEST(DateTime, SystemTimeIsTakenAsLocalTime) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    // 2012-07-01 12:00:00 UTC is 14:00 summer time in Berlin.
    const CalendarTime local = CalendarFromDays(DaysFromSystemTime(1341144000));
    EXPECT_EQ(local.hour, 14);
    EXPECT_EQ(local.day, 1);
    // Back to Unix seconds: a DATE-OBS read as UTC, a file time read as local (with the
    // fraction of a second kept).
    const double noon = DaysFromCalendar({2012, 7, 1, 12, 0, 0}) + 0.25 / 86400;
    EXPECT_NEAR(UnixSecondsFromUtcDays(noon), 1341144000.25, 1e-4);
    EXPECT_NEAR(UnixSecondsFromLocalDays(DaysFromCalendar({2012, 7, 1, 14, 0, 0})), 1341144000,
                1e-4);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(DateTime, DefaultTextFollowsTheLocale) {
    EXPECT_EQ(DateTimeText(DaysFromCalendar({2012, 11, 22, 11, 32, 21})), "11/22/12 11:32:21");
}

TEST(Paths, BothSeparatorsAreUnderstood) {
    EXPECT_EQ(DirectoryOf("c:\\a\\b.exe"), "c:\\a");
    EXPECT_EQ(DirectoryOf("C:\\"), "C:");
    EXPECT_EQ(DirectoryOf("PlateSolve2.exe"), "");
    EXPECT_EQ(DirectoryOf("/data/night/a.fit"), "/data/night");
    EXPECT_EQ(FileNameOf("PlateSolve2.exe"), "PlateSolve2.exe");
    EXPECT_EQ(FileNameOf("c:\\Program Files (x86)\\Brightfold\\PlateSolve2.exe"),
              "PlateSolve2.exe");
    EXPECT_EQ(FileNameOf("/data/night/"), "");
    EXPECT_EQ(JoinPath("/", "a.fit"), "//a.fit");
    EXPECT_FALSE(FileExists("/"));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FileExists("/proc/self/exe"));
}
