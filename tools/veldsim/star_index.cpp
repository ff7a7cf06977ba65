#include "tools/veldsim/star_index.h"

#include "common/child_process.h"
#include "tools/veldsim/fits_bytes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// Upper quad size of index scale 0, arcminutes; each scale is sqrt(2) larger.
const double kScaleZeroQuad = 2.8;

std::string Tail(const std::string& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > 600 ? text.substr(text.size() - 600) : text;
}

} // namespace

int IndexScaleFor(double smallerSide) {
    const double quad = smallerSide * 60 / 3;
    const int scale =
        static_cast<int>(std::lround(std::log(quad / kScaleZeroQuad) / std::log(std::sqrt(2.0))));
    return std::clamp(scale, 0, 19);
}

std::string WriteStarIndex(const std::vector<CatalogueStar>& catalogue,
                           const std::string& indexPath, int scale, int indexId) {
    const std::string table = indexPath + ".catalogue.fits";
    const std::string output = indexPath + ".build.log";
    // The index usually goes into a folder of its own (INDEX_DIR), made here when missing.
    const std::filesystem::path folder = std::filesystem::path(indexPath).parent_path();
    std::error_code failed;
    if (!folder.empty() && !std::filesystem::create_directories(folder, failed) && failed)
        return "cannot make the folder " + folder.string() + ": " + failed.message();
    if (!WriteCatalogueTable(table, catalogue))
        return "cannot write " + table;
    const ChildOutcome run =
        RunGuarded({"build-astrometry-index", "-i", table, "-e", "1", "-o", indexPath, "-P",
                    std::to_string(scale), "-S", "MAG", "-E", "-M", "-I", std::to_string(indexId)},
                   output, 120, "");
    std::string error;
    if (run.end == ChildOutcome::End::NotStarted)
        error = "cannot run build-astrometry-index (install astrometry.net): " + run.startError;
    else if (run.end != ChildOutcome::End::Exited || run.exitCode != 0)
        error = "build-astrometry-index failed: " + Tail(output);
    std::remove(table.c_str());
    std::remove(output.c_str());
    return error;
}

std::string WriteStarIndexFor(const std::vector<CatalogueStar>& catalogue, const StarCamera& camera,
                              const std::string& indexPath) {
    const int scale = IndexScaleFor(std::min(FieldWidth(camera), FieldHeight(camera)));
    return WriteStarIndex(catalogue, indexPath, scale, 9000 + scale);
}
