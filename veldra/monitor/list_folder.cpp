#include "veldra/monitor/list_folder.h"

#include "common/date_time.h"
#include "veldra/monitor/exchange_order.h"
#include "veldra/monitor/wildcard.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

struct FolderCloser {
    DIR* dir;
    ~FolderCloser() { closedir(dir); }
};

} // namespace

bool ReadFolder(const std::string& folder, const std::string& pattern, FileListing& listing) {
    listing = FileListing{};
    // The search pattern is the folder, the separator and the filter as they stand; the
    // part before its last separator is the folder searched, the rest the name pattern.
    const std::string search = folder + "/" + pattern;
    const size_t cut = search.rfind('/');
    const std::string searched = search.substr(0, cut + 1);
    const std::string namePattern = search.substr(cut + 1);

    DIR* dir = opendir(searched.c_str());
    if (dir == nullptr)
        return false;
    FolderCloser closer{dir};
    const int dirFd = dirfd(dir);

    std::vector<std::string> paths;
    std::vector<double> times;
    std::vector<time_t> seenTimes;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            if (errno != 0)
                return false; // the enumeration broke off: no partial snapshot
            break;
        }
        const std::string_view name = entry->d_name;
        // Hidden files (and "." and "..") are never listed.
        if (name.empty() || name[0] == '.' || !WildcardMatch(namePattern, name))
            continue;
        struct stat info {};
        if (fstatat(dirFd, entry->d_name, &info, 0) != 0) {
            // A file deleted since it was enumerated, or a link to nowhere, is simply
            // absent.  When the entry itself cannot be looked at, the folder cannot be read.
            struct stat self {};
            if (errno != ENOENT && fstatat(dirFd, entry->d_name, &self, AT_SYMLINK_NOFOLLOW) != 0 &&
                errno != ENOENT)
                return false;
            continue;
        }
        if (!S_ISREG(info.st_mode))
            continue;
        paths.push_back(searched + entry->d_name);
        seenTimes.push_back(info.st_mtime);
    }

    // Converting to local days is the costly part per file; equal seconds convert once.
    times.reserve(seenTimes.size());
    time_t lastSeen = 0;
    double lastDays = 0;
    for (size_t i = 0; i < seenTimes.size(); ++i) {
        if (i == 0 || seenTimes[i] != lastSeen) {
            lastSeen = seenTimes[i];
            lastDays = DaysFromSystemTime(lastSeen);
        }
        times.push_back(lastDays);
    }

    const std::vector<int> order = ExchangeSortOrder(times);
    const size_t keep = std::min(order.size(), static_cast<size_t>(kMaxListingCount));
    listing.paths.reserve(keep);
    listing.times.reserve(keep);
    for (size_t k = order.size() - keep; k < order.size(); ++k) {
        listing.paths.push_back(std::move(paths[static_cast<size_t>(order[k])]));
        listing.times.push_back(times[static_cast<size_t>(order[k])]);
    }
    listing.count = static_cast<int16_t>(keep);
    return true;
}

FileListing ListFolder(const std::string& folder, const std::string& pattern) {
    FileListing listing;
    ReadFolder(folder, pattern, listing);
    return listing;
}
