// The text forms of the main window's values and the setup dialog's entry rules.
#include "common/date_time.h"
#include "veldra/settings/entry_rules.h"
#include "veldra/windows/main/display_formats.h"

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr double kPi = 3.14159265358979; // the program's pi

TEST(DisplayFormats, PadTwoPutsZeroBeforeAnythingBelowTen) {
    EXPECT_EQ(PadTwo(7), "07");
    EXPECT_EQ(PadTwo(0), "00");
    EXPECT_EQ(PadTwo(10), "10");
    EXPECT_EQ(PadTwo(100), "100");
    EXPECT_EQ(PadTwo(-3), "0-3");
}

TEST(DisplayFormats, FormatRaCountsHundredthsOfSecondsOfTime) {
    EXPECT_EQ(FormatRa(0), "00 00 00.00");
    // 18h 36m 56.25s: t = 6701625 hundredths exactly after rounding.
    EXPECT_EQ(FormatRa(6701625.0 / 8640000 * 2 * kPi), "18 36 56.25");
    // Just below 2 pi rounds up to 8640000 hundredths; hours are not reduced modulo 24.
    EXPECT_EQ(FormatRa(2 * kPi - 1e-9), "24 00 00.00");
}

TEST(DisplayFormats, FormatDecSignsAndTenthsOfArcseconds) {
    EXPECT_EQ(FormatDec(0), "+00 00 00.0");
    EXPECT_EQ(FormatDec(-0.5 / 360 * 2 * kPi), "-00 30 00.0");
    // +38 47 01.0 = 1396210 tenths of an arcsecond.
    EXPECT_EQ(FormatDec(1396210.0 / 12960000 * 2 * kPi), "+38 47 01.0");
}

TEST(DisplayFormats, HalfWayCountsRoundToEven) {
    // Angles found by stepping ulp by ulp from t * 2 * pi / 8640000 (RA) or
    // / 12960000 (DEC) until the program's left-to-right evaluation gives exactly
    // n + 0.5; the guards below keep the provenance honest.
    const double raTwoAndHalf = 1.8180513041607581e-06;
    const double raOneAndHalf = 1.090830782496455e-06;
    const double decTwoAndHalf = 1.2120342027738387e-06;
    const double decOneAndHalf = 7.272205216643033e-07;
    ASSERT_EQ(raTwoAndHalf / 2 / kPi * 24 * 60 * 60 * 100, 2.5);
    ASSERT_EQ(raOneAndHalf / 2 / kPi * 24 * 60 * 60 * 100, 1.5);
    ASSERT_EQ(decTwoAndHalf / 2 / kPi * 360 * 60 * 60 * 10, 2.5);
    ASSERT_EQ(decOneAndHalf / 2 / kPi * 360 * 60 * 60 * 10, 1.5);
    EXPECT_EQ(FormatRa(raTwoAndHalf), "00 00 00.02");
    EXPECT_EQ(FormatRa(raOneAndHalf), "00 00 00.02");
    EXPECT_EQ(FormatDec(decTwoAndHalf), "+00 00 00.2");
    EXPECT_EQ(FormatDec(-decOneAndHalf), "-00 00 00.2");
}

TEST(DisplayFormats, CorruptAnglesGiveEmptyText) {
    EXPECT_EQ(FormatRa(std::nan("")), "");
    EXPECT_EQ(FormatDec(1e300), "");
}

TEST(DisplayFormats, ImageTimePattern) {
    EXPECT_EQ(FormatImageTime(DaysFromCalendar({2012, 11, 22, 11, 32, 21})), "2012-11-22 11:32:21");
    EXPECT_EQ(FormatImageTime(DaysFromCalendar({2024, 1, 2, 23, 5, 9})), "2024-01-02 23:05:09");
}

TEST(DisplayFormats, OneDecimalWithTheLocalesGroupingAndSeparator) {
    EXPECT_EQ(FormatOneDecimal(0), "0.0");
    EXPECT_EQ(FormatOneDecimal(0.25), "0.2"); // an exact tie goes to the even digit
    EXPECT_EQ(FormatOneDecimal(-2.36), "-2.4");
    EXPECT_EQ(FormatOneDecimal(-0.04), "0.0");
    EXPECT_EQ(FormatOneDecimal(12345.67), "12345.7"); // the C locale does not group
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "locale de_DE.UTF-8 not installed";
    EXPECT_EQ(FormatOneDecimal(-1234567.89), "-1.234.567,9");
    EXPECT_EQ(FormatOneDecimal(999.94), "999,9");
    std::setlocale(LC_NUMERIC, "C");
}

TEST(SetupEntryRules, RaPositions) {
    for (const char* text : {"18 36 56", " 18 36 56 ", "00 00 00", "23 59 59", "05 +5 5.0"})
        EXPECT_TRUE(AcceptRaPosText(text)) << '"' << text << '"';
    for (const char* text : {"18  36 56", "18 36", "24 00 00", "18 36 56.5", "18 60 00", "18 36 60",
                             "-1 00 00", "", "a b c", "18 36 56 1"})
        EXPECT_FALSE(AcceptRaPosText(text)) << '"' << text << '"';
}

TEST(SetupEntryRules, DecPositions) {
    for (const char* text : {"+38 47 01", "-89 59 59", "-00 30 00", "89 00 00"})
        EXPECT_TRUE(AcceptDecPosText(text)) << '"' << text << '"';
    for (const char* text : {"+90 00 00", "-90 00 00", "+38 60 00", "+38 47", "+38 47 1.5"})
        EXPECT_FALSE(AcceptDecPosText(text)) << '"' << text << '"';
}

TEST(SetupEntryRules, NumbersRoundHalvesToEvenAndRefuseNegatives) {
    EXPECT_EQ(AcceptExposureText("300.5"), 300);
    EXPECT_EQ(AcceptExposureText("301.5"), 302);
    EXPECT_EQ(AcceptExposureText("-1"), std::nullopt);
    EXPECT_EQ(AcceptExposureText("32767.6"), std::nullopt); // rounds past int16
    EXPECT_EQ(AcceptMaxSolveTimeText("30.5"), 30);
    EXPECT_EQ(AcceptMaxSolveTimeText("40000"), std::nullopt);
    EXPECT_EQ(AcceptMaxSolveTimeText("-1"), std::nullopt);
    EXPECT_EQ(AcceptImageScaleText("0"), 0.0);
    EXPECT_EQ(AcceptImageScaleText("-0.1"), std::nullopt);
    EXPECT_EQ(AcceptImageScaleText(""), std::nullopt);
}

} // namespace
