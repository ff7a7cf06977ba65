// The texts the pipeline reads and writes: sexagesimal and date texts, the user
// command's tokens, the hand-back file, the solver's command line and result file.
#include "veldra/measure/new_image_command.h"
#include "veldra/measure/sky_text.h"
#include "veldra/measure/solver_runner.h"
#include "veldra/settings/entry_rules.h"

#include <clocale>
#include <gtest/gtest.h>

namespace {

// Expected radians computed as the program does: seconds of arc / 1296000 * pi * 2 with
// pi = 3.14159265358979 (and 86400 seconds of time for RA), e.g. 05 30 00 is
// 19800 / 86400 * 2 * pi = 1.4398966328953204 and 00 30 00 of DEC 0.008726646259971639.
const double kRa053000 = 1.4398966328953204;
const double kDec003000 = 0.008726646259971639;

// Whatever the setup dialog stores, the pipeline converts, with the same rule.
TEST(SkyText, SettingTextsTheDialogAcceptsGiveRadians) {
    const std::vector<std::pair<const char*, double>> ras = {
        {"05 30 00", kRa053000},  {" 05 30 00 ", kRa053000},
        {"+5 30 00", kRa053000},  {"05 +30 00", kRa053000},
        {"5.0 30 00", kRa053000}, {"05 30 1e1", 1.4406238534169846}, // 05 30 10
    };
    for (const auto& [text, radians] : ras) {
        EXPECT_TRUE(AcceptRaPosText(text)) << text;
        ASSERT_TRUE(RaFromSettingText(text)) << text;
        EXPECT_DOUBLE_EQ(*RaFromSettingText(text), radians) << text;
    }
    const std::vector<std::pair<const char*, double>> decs = {
        {"-00 30 00", -kDec003000},
        {" +00 30 00 ", kDec003000},
        {"+38 +47 01", 0.6769017097019445}, // 38 47 01
        {"+5 30 00", 0.09599310885968802},  // 5 30 00
    };
    for (const auto& [text, radians] : decs) {
        EXPECT_TRUE(AcceptDecPosText(text)) << text;
        ASSERT_TRUE(DecFromSettingText(text)) << text;
        EXPECT_DOUBLE_EQ(*DecFromSettingText(text), radians) << text;
    }
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    const bool accepted = AcceptRaPosText("5,0 30 00");
    const auto ra = RaFromSettingText("5,0 30 00");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_TRUE(accepted);
    ASSERT_TRUE(ra);
    EXPECT_DOUBLE_EQ(*ra, kRa053000);
}

TEST(SkyText, SettingTextsTheDialogRefusesAreRejected) {
    for (const char* text : {"", "18 36", "18  36 56", "18 3a 56", "18 36 56.5", "5 30 0 extra",
                             "24 00 00", "99 99 99", "18 -1 56"})
        EXPECT_FALSE(RaFromSettingText(text)) << text;
    for (const char* text : {"-", "-00 30", "--00 30 00", "+38 47 1x", "+90 00 00", "+38 60 00"})
        EXPECT_FALSE(DecFromSettingText(text)) << text;
}

// The fixed form by character position as always (a fraction of a second ignored);
// otherwise the forms capture programs write, with the fraction kept.
TEST(SkyText, HeaderTexts) {
    const std::vector<std::pair<const char*, double>> ras = {
        {"05 30 00.25", kRa053000},          // fixed, fraction ignored
        {"05:30:00", kRa053000},             // fixed
        {"05:35:17.3", 1.4629495234320788},  // fixed: 05 35 17
        {" 5 35 17.30", 1.4629713400477287}, // 5 35 17.30
        {"5:30", kRa053000},                 // two fields
        {"23 59 59.99", 6.283112585127414},  // fixed: 23 59 59
    };
    for (const auto& [text, radians] : ras) {
        ASSERT_TRUE(RaFromHeaderText(text)) << text;
        EXPECT_DOUBLE_EQ(*RaFromHeaderText(text), radians) << text;
    }
    const std::vector<std::pair<const char*, double>> decs = {
        {"-00 30 00", -kDec003000},          // fixed
        {"+00 30 00.9", kDec003000},         // fixed, fraction ignored
        {"-0 30 00", -kDec003000},           // negative although the degrees are 0
        {"89 51 14.76", 1.5682498914162353}, // no sign, fraction kept
        {"+05 30", 0.09599310885968802},     // two fields
        {"  -00:30:00  ", -kDec003000},      {"+90 00 00", 1.570796326794895},
    };
    for (const auto& [text, radians] : decs) {
        ASSERT_TRUE(DecFromHeaderText(text)) << text;
        EXPECT_DOUBLE_EQ(*DecFromHeaderText(text), radians) << text;
    }
    for (const char* text : {"abc", "95 00 00", "+90 00 01", "10 61 00", "10 30 60", "", "+", "10",
                             "10 30 00 00", "10.5 30", "10 30.5 00", "10  :30", "1 2 3x"})
        EXPECT_FALSE(DecFromHeaderText(text)) << text;
    for (const char* text : {"abc", "10 61 00", "24 00 00", "-05 30 00", "05 3x 00", "05"})
        EXPECT_FALSE(RaFromHeaderText(text)) << text;
}

TEST(SkyText, DateObsIsReadByPosition) {
    const auto time = CalendarFromDateObs("2026-03-14T18:51:51.120");
    ASSERT_TRUE(time);
    EXPECT_EQ(time->year, 2026);
    EXPECT_EQ(time->month, 3);
    EXPECT_EQ(time->day, 14);
    EXPECT_EQ(time->hour, 18);
    EXPECT_EQ(time->minute, 51);
    EXPECT_EQ(time->second, 51);
    for (const char* text : {"2026-03-14", "2026-3-14T18:51:51", "2026-02-30T18:51:51",
                             "2026-13-01T00:00:00", "2026-03-14T24:00:00", "14/03/2026 18:51:51"})
        EXPECT_FALSE(CalendarFromDateObs(text)) << text;
}

TEST(NewImageCommand, TokensAreReplaced) {
    const SkyPosition none;
    EXPECT_EQ(ExpandCommand("conv %F %N.fit", "D:\\img", "D:\\img\\a.cr2", none),
              "conv D:\\img\\a.cr2 D:\\img\\a.fit");
    EXPECT_EQ(ExpandCommand("%n|%N|%f|%p", "/data", "D:\\img\\b.old.fit", none),
              "b.old|D:\\img\\b.old|b.old.fit|/data");
    EXPECT_EQ(ExpandCommand("%P %% 100%", "", "a.fit", none), "P % 100");
    EXPECT_EQ(ExpandCommand("x %r %d", "", "a.fit", none), "x 0 0");
    // A dot in a folder name is no extension.
    EXPECT_EQ(ExpandCommand("%n %N", "", "/night/v1.2/raw", none), "raw /night/v1.2/raw");
    // Split first, then replaced: a name's blanks and quotes stay inside their argument.
    const std::string hostile = "/in/x\" --force --outdir=.. \"y.cr2";
    EXPECT_EQ(CommandArguments("\"/my tools/conv\" \"%F\" -o %n.fit \"\" %%", "/in", hostile, none),
              (std::vector<std::string>{"/my tools/conv", hostile, "-o",
                                        "x\" --force --outdir=.. \"y.fit", "", "%"}));
}

TEST(NewImageCommand, PositionUsesTheLocaleSeparator) {
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    const std::string text = ExpandCommand("%r %d", "", "a.fit", {1.5, -0.25});
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(text, "1,5 -0,25");
}

TEST(NewImageCommand, HandBackFieldIsTheFirstField) {
    EXPECT_EQ(HandBackField("  /img/b.fit,more\r\nline"), "/img/b.fit");
    EXPECT_EQ(HandBackField("/img/b.fit \r\n"), "/img/b.fit");
    EXPECT_EQ(HandBackField("\"/img/a,b c.fit\",x"), "/img/a,b c.fit");
    EXPECT_EQ(HandBackField("C:\\img\\c.fit"), "C:\\img\\c.fit");
    EXPECT_FALSE(HandBackField(""));
    EXPECT_FALSE(HandBackField("  \r\n/img/late.fit"));
}

TEST(SolverText, ArgumentIsExactAndIgnoresTheLocale) {
    EXPECT_EQ(SolverArgument({1.5, -0.25}, {0, 0.03, 0.02}, "D:\\img\\a.fit"),
              "1.5,-0.25,0.03,0.02,999,D:\\img\\a.fit");
    EXPECT_EQ(SolverArgument({0, 1.5e-05}, {0, 0.1234567890123456, 2}, "/a b.fit"),
              "0,1.5E-05,0.123456789012346,2,999,/a b.fit");
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    const std::string argument = SolverArgument({1.5, -0.25}, {0, 0.03, 0.02}, "/a.fit");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(argument, "1.5,-0.25,0.03,0.02,999,/a.fit");
}

TEST(SolverText, ResultFileNameReplacesTheExtension) {
    EXPECT_EQ(ResultFileName("D:\\img\\a.fit"), "D:\\img\\a.apm");
    EXPECT_EQ(ResultFileName("/img/b.old.fits"), "/img/b.old.apm");
    EXPECT_EQ(ResultFileName("/night/v1.2/raw"), "/night/v1.2/raw.apm");
}

TEST(SolverText, ApmTextGivesThreeNumbers) {
    const auto solved = ParseApmText("1.25,-0.5,1\r\n0.5,2,3,more");
    ASSERT_TRUE(solved);
    EXPECT_EQ(solved->ra, 1.25);
    EXPECT_EQ(solved->dec, -0.5);
    EXPECT_EQ(solved->flag, 1);
    const auto lines = ParseApmText("1.25\r\n-0.5\n0");
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->dec, -0.5);
    EXPECT_EQ(lines->flag, 0);
    for (const char* text :
         {"", "1.25,-0.5", "1.25,-0.5,", "1,25;-0,5;1", "x,1,1", "1,,1", "nan,1,1"})
        EXPECT_FALSE(ParseApmText(text)) << text;
}

} // namespace
