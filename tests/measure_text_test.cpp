// The texts the pipeline reads and writes: sexagesimal and date texts, the user
// command's tokens, the hand-back file, the solver's command line and result file.
#include "veldra/measure/new_image_command.h"
#include "veldra/measure/sky_text.h"
#include "veldra/measure/solver_runner.h"

#include <clocale>
#include <gtest/gtest.h>

namespace {

// Expected radians computed as the program does: seconds of arc / 1296000 * pi * 2 with
// pi = 3.14159265358979 (and 86400 seconds of time for RA).
TEST(SkyText, SettingTextsGiveRadians) {
    EXPECT_DOUBLE_EQ(*DecFromSettingText("-00 30 00"), -0.008726646259971639);
    EXPECT_DOUBLE_EQ(*DecFromSettingText(" +00 30 00 "), 0.008726646259971639);
    EXPECT_DOUBLE_EQ(*RaFromSettingText("05 30 00"), 1.4398966328953204);
    // Whole numbers of any width; fields after the third are ignored.
    EXPECT_DOUBLE_EQ(*RaFromSettingText("5 30 0 extra"), 1.4398966328953204);
}

TEST(SkyText, MalformedSettingTextsAreRejected) {
    for (const char* text :
         {"", "18 36", "18  36 56", "18 3a 56", "18 36 56.5", "+18 36 56", "18 -36 56"})
        EXPECT_FALSE(RaFromSettingText(text)) << text;
    for (const char* text : {"-", "-00 30", "--00 30 00", "+38 47 1x"})
        EXPECT_FALSE(DecFromSettingText(text)) << text;
}

TEST(SkyText, HeaderTextsAreReadByPosition) {
    EXPECT_DOUBLE_EQ(*RaFromHeaderText("05 30 00.25"), 1.4398966328953204); // fraction ignored
    EXPECT_DOUBLE_EQ(*RaFromHeaderText("05:30:00"), 1.4398966328953204);
    EXPECT_DOUBLE_EQ(*DecFromHeaderText("-00 30 00"), -0.008726646259971639);
    EXPECT_DOUBLE_EQ(*DecFromHeaderText("+00 30 00.9"), 0.008726646259971639);
    // Without a sign the fields would sit one place off: not the stated form.
    for (const char* text : {"12 34 56", "-0 30 00", "+00 30", "+0a 30 00", ""})
        EXPECT_FALSE(DecFromHeaderText(text)) << text;
    for (const char* text : {"5 30 00", "05 30", "05 3x 00"})
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

TEST(SolverText, CommandLineIsExact) {
    EXPECT_EQ(SolverCommandLine("C:\\Solver\\PlateSolve2.exe", {1.5, -0.25}, {0, 0.03, 0.02},
                                "D:\\img\\a.fit"),
              "\"C:\\Solver\\PlateSolve2.exe\" 1.5,-0.25,0.03,0.02,999,D:\\img\\a.fit");
    EXPECT_EQ(SolverCommandLine("/s", {0, 1.5e-05}, {0, 0.1234567890123456, 2}, "/a b.fit"),
              "\"/s\" 0,1.5E-05,0.123456789012346,2,999,/a b.fit");
}

TEST(SolverText, CommandLineIgnoresTheLocale) {
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    const std::string line = SolverCommandLine("/s", {1.5, -0.25}, {0, 0.03, 0.02}, "/a.fit");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(line, "\"/s\" 1.5,-0.25,0.03,0.02,999,/a.fit");
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
