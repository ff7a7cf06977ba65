#include "fitstag/fitstag_run.h"

#include "fitstag/metadata_lines.h"
#include "fitstag/options.h"
#include "fitstag/sky_position.h"
#include "hdrlib/hdrlib.h"

namespace {

constexpr int kFailure = -1;

void PrintUsage(const std::string& program, std::ostream& out) {
    out << "usage: " << program << " [-r RA_rad] [-d DEC_rad] <fits file>\r\n"
        << "send cr2 metadata to stdin\n";
}

// One loaded file; every write is checked, and the first failure is reported once
// with the file's name.
struct Target {
    FitsInfo info{};
    std::string path;
    std::ostream& err;

    bool WriteText(const char* keyword, const std::string& value) {
        return Check(writeFitsStrParam(keyword, &info, value.c_str()), keyword);
    }
    bool WriteNumber(const char* keyword, float value) {
        return Check(writeFitsFloatParam(keyword, &info, value), keyword);
    }
    bool Check(int32_t result, const char* keyword) {
        if (result == 0)
            return true;
        err << "couldn't write " << keyword << " to fits file: " << path << "\n";
        freeFits(&info);
        return false;
    }
};

bool WriteLine(Target& target, const LineValue& value) {
    switch (value.kind) {
    case LineValue::Kind::Exposure:
        return target.WriteNumber("EXPOSURE", value.number) &&
               target.WriteNumber("EXPTIME", value.number);
    case LineValue::Kind::DateObs:
        return target.WriteText("DATE-OBS", value.text);
    case LineValue::Kind::CcdTemp:
        return target.WriteNumber("CCD-TEMP", value.number);
    }
    return false;
}

} // namespace

int RunFitstag(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err) {
    const std::string program = args.empty() ? "fitstag" : args[0];
    const Options options =
        ParseOptions(args.empty() ? args : std::vector<std::string>(args.begin() + 1, args.end()));
    if (options.help) {
        PrintUsage(program, out);
        return 0;
    }
    // A position outside the sky is a usage error; the file is not touched.
    const auto raSeconds = options.hasRa ? RaSeconds(options.ra) : std::optional<int>(0);
    const auto decSeconds = options.hasDec ? DecSeconds(options.dec) : std::optional<int>(0);
    std::string refusal = options.refusal;
    if (refusal.empty() && !raSeconds)
        refusal = "-r " + options.raText + " refused: RA " +
                  (options.ra < 0 ? "below 0" : "of 24h or more (2 pi radians)");
    if (refusal.empty() && !decSeconds)
        refusal = "-d " + options.decText + " refused: DEC beyond +-90 degrees (pi/2 radians)";
    if (options.usage || !raSeconds || !decSeconds) {
        if (!refusal.empty())
            err << "fitstag: " << refusal << "\n";
        PrintUsage(program, out);
        return kFailure;
    }

    Target target{{}, options.path, err};
    if (loadFitsFile(options.path.c_str(), &target.info) != 0) {
        err << "couldn't load fits file: " << options.path << "\n";
        return kFailure;
    }
    if (options.hasRa) {
        out << "ra sec = " << *raSeconds << "\n";
        if (!target.WriteText("OBJCTRA", RaText(*raSeconds)))
            return kFailure;
    }
    if (options.hasDec) {
        out << "dec sec = " << *decSeconds << "\n";
        if (!target.WriteText("OBJCTDEC", DecText(options.dec, *decSeconds)))
            return kFailure;
    }
    if (!target.WriteText("IMAGETYP", "Light Frame"))
        return kFailure;

    std::string piece;
    while (ReadPiece(in, piece))
        if (const auto value = ParseLine(piece); value && !WriteLine(target, *value))
            return kFailure;

    // The save also releases the load.
    if (saveFitsFile(target.info.handle, &target.info) != 0) {
        err << "couldn't save fits file: " << options.path << "\n";
        return kFailure;
    }
    return 0;
}
