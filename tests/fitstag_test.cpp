// fitstag's pieces: the command line, the position text and the metadata lines.
#include "fitstag/metadata_lines.h"
#include "fitstag/options.h"
#include "fitstag/sky_position.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <sstream>

namespace {

// Central European time with its daylight-saving rule, independent of the tz database.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (saved_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved_.c_str(), 1);
        tzset();
    }

  private:
    std::string saved_;
};

} // namespace

TEST(FitstagOptions, FollowTheOptionRules) {
    Options o = ParseOptions({"-r", "1.5", "-d", "-0.5", "a.fit"});
    EXPECT_FALSE(o.usage);
    EXPECT_TRUE(o.hasRa && o.hasDec);
    EXPECT_EQ(o.ra, 1.5);
    EXPECT_EQ(o.dec, -0.5);
    EXPECT_EQ(o.path, "a.fit");

    o = ParseOptions({"a.fit"});
    EXPECT_FALSE(o.usage || o.hasRa || o.hasDec);
    EXPECT_EQ(o.path, "a.fit");

    // "-r" without a value ends the options and is left as the path.
    o = ParseOptions({"-r"});
    EXPECT_FALSE(o.usage || o.hasRa);
    EXPECT_EQ(o.path, "-r");
    o = ParseOptions({"-d", "0.1", "-r"});
    EXPECT_TRUE(o.hasDec);
    EXPECT_EQ(o.path, "-r");

    // The value is the whole next argument, even when it looks like an option: no
    // number then.
    EXPECT_TRUE(ParseOptions({"-d", "-r", "a.fit"}).usage);
    EXPECT_TRUE(ParseOptions({"-r", "abc", "a.fit"}).usage);

    // Help where an option may stand.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-h"}, {"--help"}, {"-r", "1", "--help", "a.fit"}}) {
        o = ParseOptions(args);
        EXPECT_TRUE(o.help && !o.usage) << args.size();
    }

    EXPECT_TRUE(ParseOptions({}).usage);
    EXPECT_TRUE(ParseOptions({"-x", "a.fit"}).usage);
    EXPECT_TRUE(ParseOptions({"a.fit", "b.fit"}).usage);
    // A value glued to the letter is not an option: two arguments remain.
    EXPECT_TRUE(ParseOptions({"-r1.5", "a.fit"}).usage);
    // An argument that is not an option ends them: "-r" after it is an argument.
    EXPECT_TRUE(ParseOptions({"a.fit", "-r", "1"}).usage);
}

TEST(FitstagOptions, ValuesMustBeWholeNumbers) {
    EXPECT_EQ(OptionNumber("1.5707963267948966"), 1.5707963267948966);
    EXPECT_EQ(OptionNumber("  -0.5 "), -0.5);
    EXPECT_EQ(OptionNumber("+2e-1"), 0.2);
    EXPECT_EQ(OptionNumber(".5"), 0.5);
    for (const char* text :
         {"", " ", "abc", "--1", "+-1", "-+1", "inf", "nan", "1e999", "1.25rad", "0x1", "1 2"})
        EXPECT_FALSE(OptionNumber(text).has_value()) << text;
}

TEST(FitstagPosition, SecondsAndTexts) {
    EXPECT_EQ(RaSeconds(1.5707963267948966), 21600);
    EXPECT_EQ(RaText(21600), "06 00 00");
    EXPECT_EQ(DecSeconds(-0.5), 103132); // 0.5 / 2pi * 1296000 = 103132.403
    EXPECT_EQ(DecText(-0.5, 103132), "-28 38 52");
    EXPECT_EQ(DecText(0.0, 0), "+00 00 00");
    // 86399.6 seconds of time round up to a whole day: 24h00m00s is 00 00 00.
    const double pi = 3.141592653589793;
    EXPECT_EQ(RaSeconds(86399.6 / 86400 * 2 * pi), 0);
    EXPECT_EQ(RaSeconds(2 * pi), 0);
    EXPECT_EQ(RaSeconds(-1e-6), 0); // -0.01 s rounds to 0
    EXPECT_EQ(DecSeconds(-pi / 2), 324000);
    // Outside [0, 2 pi) and beyond +-90 degrees after the rounding.
    EXPECT_FALSE(RaSeconds(-0.0001).has_value());
    EXPECT_FALSE(RaSeconds(2 * pi + 0.0001).has_value());
    EXPECT_FALSE(RaSeconds(7).has_value());
    EXPECT_FALSE(DecSeconds(1.5708).has_value()); // 90.0002 degrees
    EXPECT_FALSE(DecSeconds(-2).has_value());

    EXPECT_EQ(RoundAwayFromZero(2.5), 3);
    EXPECT_EQ(RoundAwayFromZero(-2.5), -3);
    EXPECT_EQ(RoundAwayFromZero(0.5), 1);
    EXPECT_EQ(RoundAwayFromZero(2.4999), 2);
    EXPECT_FALSE(RaSeconds(1e20).has_value());
    EXPECT_FALSE(DecSeconds(-1e20).has_value());
}

TEST(FitstagLines, NumbersFromShutterAndTemperatureLines) {
    using Kind = LineValue::Kind;
    struct Case {
        const char* line;
        Kind kind;
        float number;
    };
    const Case cases[] = {
        {"Shutter: 30.0 sec", Kind::Exposure, 30.0f},
        {"Shutter:1/200.0 sec", Kind::Exposure, 1.0f},
        {"Shutter Speed                   : 1/200", Kind::Exposure, 1.0f},
        {"Shutter Speed Value             : 0.5", Kind::Exposure, 0.5f},
        {"Camera Temperature              : -7 C", Kind::CcdTemp, -7.0f},
        // The first form that fits decides.
        {"Shutter: 4 Camera Temperature : 9", Kind::Exposure, 4.0f},
    };
    for (const Case& c : cases) {
        const auto value = ParseLine(c.line);
        ASSERT_TRUE(value.has_value()) << c.line;
        EXPECT_EQ(value->kind, c.kind) << c.line;
        EXPECT_EQ(value->number, c.number) << c.line;
    }
    for (const char* line : {"Shutter:", "Shutter: sec", "Shutter: nan", "Shutter Speed",
                             "Shutter Speed :", "Shutter Speed : ", "Camera Temperature : n/a",
                             "Exposure Time : 1/200", "", "Camera Temperature:"})
        EXPECT_FALSE(ParseLine(line).has_value()) << line;
}

TEST(FitstagLines, DateTimeOriginalIsWrittenAsItStands) {
    auto value = ParseLine("Date/Time Original              : 2012:11:18 20:13:42");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->kind, LineValue::Kind::DateObs);
    EXPECT_EQ(value->text, "2012-11-18T20:13:42");
    value = ParseLine("Date/Time Original : 2012:11:18 20:13:42.35+01:00");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->text, "2012-11-18T20:13:42");
    EXPECT_FALSE(ParseLine("Date/Time Original : 2012:11:18 20:13").has_value());
    EXPECT_FALSE(ParseLine("Date/Time Original").has_value());
}

TEST(FitstagLines, TimestampIsLocalTimeTurnedIntoUtc) {
    ScopedTimeZone zone(kBerlin);
    EXPECT_EQ(TimestampToUtc("Timestamp: Sun Nov 18 20:13:42 2012"), "2012-11-18T19:13:42");
    EXPECT_EQ(TimestampToUtc("Timestamp: Sat Jul 14 01:30:00 2012"), "2012-07-13T23:30:00");
    EXPECT_EQ(TimestampToUtc("Timestamp: Thu Nov  8 00:05:09 2012"), "2012-11-07T23:05:09");
    const auto value = ParseLine("Timestamp: Sun Nov 18 20:13:42 2012\r");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->kind, LineValue::Kind::DateObs);

    for (const char* line :
         {"Timestamp: Sun Foo 18 20:13:42 2012", "Timestamp: Sun Nov 18 20:13",
          "Timestamp: Sun Nov 18 2x:13:42 2012", "Timestamp: Sun Nov 18 20:13:42 20x2",
          "Timestamp: Sun Nov 00 20:13:42 2012", "Timestamp: Sun Nov 18 25:13:42 2012",
          "Timestamp:"})
        EXPECT_FALSE(ParseLine(line).has_value()) << line;
}

TEST(FitstagLines, LongLinesArriveInPiecesOf999) {
    std::istringstream in(std::string(2500, 'a') + "\n" + std::string(999, 'b') + "\nline\r\nlast");
    std::vector<size_t> lengths;
    std::string piece;
    while (ReadPiece(in, piece))
        lengths.push_back(piece.size());
    EXPECT_EQ(lengths, (std::vector<size_t>{999, 999, 502, 999, 0, 4, 4}));
    std::istringstream empty("");
    EXPECT_FALSE(ReadPiece(empty, piece));
}
