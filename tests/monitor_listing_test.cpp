// The folder listing: which files, their times, and the exchange-sort order.
#include "tests/monitor_fakes.h"
#include "tests/test_support.h"
#include "tools/bench-monitor/naive_exchange_order.h"
#include "veldra/monitor/exchange_order.h"
#include "veldra/monitor/list_folder.h"
#include "veldra/monitor/wildcard.h"

#include <dirent.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <utility>

namespace {

const UtcZone utc;
const std::time_t kBase = 1700000000; // 2023-11-14 22:13:20 UTC
const double kBaseDays = 25569.0 + 1700000000.0 / 86400.0;

// "f<i>.fit", built by appending (GCC 12 warns wrongly about "f" + string when optimising).
std::string NumberedName(int i) {
    std::string name(1, 'f');
    name.append(std::to_string(i)).append(".fit");
    return name;
}

TEST(Wildcard, StarAndQuestionMarkOnlyWithoutRegardToCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*.fit", "m31.fit", true},
        {"*.fit", "m31.fits", false},
        {"*.fit", "IMG.FIT", true}, // letter case never matters
        {"*.FIT", "img.fit", true},
        {"*.fit*", "m31.Fits", true},
        {"*.fit", ".fit", true},
        {"*", "", true},
        {"", "a", false},
        {"a?c.fit", "abc.fit", true},
        {"a?c.fit", "ac.fit", false},
        {"?.fit", "\xC3\xA9.fit", true},
        {"??.fit", "\xC3\xA9.fit", false},
        {"*a*b", "xaYaab", true},
        {"*a*b", "xaYaa", false},
        {"*.*", "noextension", false},
        {"[ab].fit", "a.fit", false},
        {"[ab].fit", "[ab].fit", true},
        {"img_**_?.fit", "img_L_003_1.fit", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

TEST(ListFolder, NormalMatchingFilesWithWholeSecondLocalTimesOldestFirst) {
    TempDir folder;
    MakeFile(folder.file("late.fit"), kBase + 120);
    MakeFile(folder.file("early.fit"), kBase, 999999999); // the fraction is dropped
    MakeFile(folder.file("middle.fit"), kBase + 60);
    MakeFile(folder.file(".hidden.fit"), kBase + 10);
    MakeFile(folder.file("notes.txt"), kBase + 10);
    std::filesystem::create_directory(folder.file("folder.fit"));
    std::filesystem::create_symlink(folder.file("nowhere"), folder.file("dangling.fit"));

    const FileListing listing = ListFolder(folder.path, "*.fit");
    ASSERT_EQ(listing.count, 3);
    EXPECT_EQ(listing.paths,
              (std::vector<std::string>{folder.file("early.fit"), folder.file("middle.fit"),
                                        folder.file("late.fit")}));
    EXPECT_EQ(listing.times,
              (std::vector<double>{Days(kBase), Days(kBase + 60), Days(kBase + 120)}));
    EXPECT_DOUBLE_EQ(listing.times[0], kBaseDays);

    // Folder and pattern are joined as they stand.
    const FileListing slashed = ListFolder(folder.path + "/", "m*.fit");
    ASSERT_EQ(slashed.count, 1);
    EXPECT_EQ(slashed.paths[0], folder.path + "//middle.fit");
}

TEST(ListFolder, MissingFolderIsEmptyButTellsItWasUnreadable) {
    TempDir folder;
    FileListing listing;
    EXPECT_TRUE(ReadFolder(folder.path, "*.fit", listing));
    EXPECT_EQ(listing.count, 0);

    listing.count = 5;
    EXPECT_FALSE(ReadFolder(folder.file("gone"), "*.fit", listing));
    EXPECT_EQ(listing.count, 0);
    EXPECT_TRUE(listing.paths.empty());
    EXPECT_EQ(ListFolder(folder.file("gone"), "*.fit").count, 0);
}

TEST(ListFolder, MoreFilesThanAnInt16KeepsTheNewest) {
    TempDir folder;
    const int total = kMaxListingCount + 3;
    for (int i = 0; i < total; ++i)
        MakeFile(folder.file(NumberedName(i)), kBase + i);
    const FileListing listing = ListFolder(folder.path, "*.fit");
    ASSERT_EQ(listing.count, kMaxListingCount);
    ASSERT_EQ(listing.paths.size(), static_cast<size_t>(kMaxListingCount));
    EXPECT_EQ(listing.paths.front(), folder.file("f3.fit"));
    EXPECT_EQ(listing.paths.back(), folder.file(NumberedName(total - 1)));
}

TEST(ExchangeOrder, MatchesTheExchangeSortOnRandomListingsWithManyEqualTimes) {
    std::mt19937 random(20261208);
    int checked = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const int n = static_cast<int>(random() % 40);
        const int distinct = 1 + static_cast<int>(random() % 8); // few values: many ties
        std::vector<double> times(static_cast<size_t>(n));
        for (double& t : times)
            t = kBaseDays + static_cast<double>(random() % distinct) / 86400.0;
        ASSERT_EQ(ExchangeSortOrder(times), NaiveExchangeOrder(times)) << "trial " << trial;
        ++checked;
    }
    // Larger listings: long runs of equal seconds among distinct ones, as cameras write.
    for (int trial = 0; trial < 20; ++trial) {
        const int n = 500 + static_cast<int>(random() % 1500);
        std::vector<double> times(static_cast<size_t>(n));
        for (double& t : times)
            t = static_cast<double>(random() % (trial % 2 == 0 ? 30 : 3 * n));
        ASSERT_EQ(ExchangeSortOrder(times), NaiveExchangeOrder(times)) << "large trial " << trial;
        ++checked;
    }
    EXPECT_EQ(checked, 4020);
}

TEST(ListFolder, EqualTimesFollowTheExchangeSortOfTheFolderOrder) {
    TempDir folder;
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i)
        MakeFile(folder.file("img" + std::to_string(i) + ".fit"), kBase + random() % 5);

    // The order the file system gives, read independently.
    std::vector<std::string> paths;
    std::vector<double> times;
    DIR* dir = opendir(folder.path.c_str());
    ASSERT_NE(dir, nullptr);
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        paths.push_back(folder.path + "/" + entry->d_name);
        times.push_back(Days(std::filesystem::last_write_time(paths.back()).time_since_epoch() /
                             std::chrono::seconds(1)));
    }
    closedir(dir);
    std::vector<std::string> expected;
    for (int index : NaiveExchangeOrder(times))
        expected.push_back(paths[static_cast<size_t>(index)]);

    EXPECT_EQ(ListFolder(folder.path, "*.fit").paths, expected);
}

} // namespace
