#include "veldra/measure/image_metadata.h"

#include "common/numbers.h"
#include "hdrlib/hdrlib.h"
#include "veldra/settings/activity_log.h"

#include <array>
#include <string>

namespace {

bool SolverMethod(const Settings& settings) {
    return settings.PLATE_SOLVE_METHOD != 0; // the solver, or stars with a solve to fall back on
}

// One failure: a log line and the timed error; the caller then leaves the run.
bool Fail(const std::string& programFolder, const Platform& platform, const std::string& logMessage,
          const std::string& errorText) {
    LogEvent(programFolder, logMessage);
    platform.showTimedError(errorText);
    return false;
}

// A text keyword; the buffer holds what hdrlib may copy (28 or 20 characters) and the end.
template <size_t Capacity> bool ReadText(FitsInfo& fits, const char* keyword, std::string& text) {
    std::array<char, Capacity + 1> buffer{};
    buffer.fill(' ');
    buffer[Capacity] = '\0';
    if (readFitsStrParam(keyword, &fits, buffer.data()) != 0)
        return false;
    buffer[Capacity] = '\0';
    text = buffer.data();
    return true;
}

// A float keyword into a preset value; the preset stays when the keyword is missing.
void ReadFloat(FitsInfo& fits, const char* keyword, float& value) {
    readFitsFloatParam(keyword, &fits, &value);
}

// A float keyword that must be there and not zero; its absence is logged and shown.
bool ReadNonZeroFloat(FitsInfo& fits, const std::string& keyword, const std::string& programFolder,
                      const Platform& platform, float& value) {
    value = 0;
    ReadFloat(fits, keyword.c_str(), value);
    if (value != 0)
        return true;
    return Fail(programFolder, platform,
                " :    could not read " + keyword + " from fits file, or is zero",
                "fits file does not have " + keyword + " tag or " + keyword + "=0");
}

bool BadHeaderText(const std::string& programFolder, const Platform& platform,
                   const std::string& keyword, const std::string& text) {
    return Fail(programFolder, platform,
                " :    could not convert " + keyword + " from fits file: \"" + text + "\"",
                "fits file " + keyword + " tag is not readable: \"" + text + "\"");
}

} // namespace

bool StartPositionFromSettings(const Settings& settings, const std::string& programFolder,
                               const Platform& platform, SkyPosition& position) {
    const auto ra = RaFromSettingText(settings.RA_POS);
    if (!ra)
        return Fail(programFolder, platform,
                    " :    RA_POS is not three whole numbers: \"" + settings.RA_POS + "\"",
                    "Setting RA_POS is not three whole numbers: \"" + settings.RA_POS + "\"");
    const auto dec = DecFromSettingText(settings.DEC_POS);
    if (!dec)
        return Fail(programFolder, platform,
                    " :    DEC_POS is not three whole numbers: \"" + settings.DEC_POS + "\"",
                    "Setting DEC_POS is not three whole numbers: \"" + settings.DEC_POS + "\"");
    position = {*ra, *dec};
    return true;
}

bool ReadImageTime(FitsInfo& fits, const Settings& settings, const std::string& programFolder,
                   const Platform& platform, double fileTime, BaseTime& base) {
    if (SolverMethod(settings) && settings.OVERRIDE_TIMESTAMP) {
        base = {fileTime, true};
        return true;
    }
    std::string text;
    if (!ReadText<28>(fits, "DATE-OBS", text))
        return Fail(programFolder, platform, " :    could not read DATE-OBS from fits file",
                    "fits file does not have DATE-OBS tag");
    const auto calendar = CalendarFromDateObs(text);
    if (!calendar)
        return BadHeaderText(programFolder, platform, "DATE-OBS", text);
    base = {DaysFromCalendar(*calendar), false};
    return true;
}

bool ReadExposure(FitsInfo& fits, const Settings& settings, const std::string& programFolder,
                  const Platform& platform, float& exposure) {
    if (SolverMethod(settings) && settings.OVERRIDE_EXPOSURE) {
        exposure = static_cast<float>(settings.EXPOSURE);
        return true;
    }
    exposure = 0;
    ReadFloat(fits, "EXPOSURE", exposure);
    if (exposure == 0)
        ReadFloat(fits, "EXPTIME", exposure);
    if (exposure == 0)
        return Fail(programFolder, platform,
                    " :    could not read EXPOSURE or EXPTIME from fits file",
                    "fits file does not have EXPOSURE or EXPTIME tag");
    return true;
}

double FinishImageTime(const std::string& programFolder, const BaseTime& base, float exposure) {
    const double halfExposure = exposure / 86400.0 / 2.0;
    const double imageTime = base.fromFile ? base.days - halfExposure : base.days + halfExposure;
    LogEvent(programFolder, " :    exposure = " + DefaultText(exposure));
    LogEvent(programFolder, " :    fits time = " + DateTimeText(imageTime));
    return imageTime;
}

bool StartPositionFromHeader(FitsInfo& fits, const std::string& programFolder,
                             const Platform& platform, SkyPosition& position) {
    std::string raText;
    if (!ReadText<20>(fits, "OBJCTRA", raText))
        return Fail(programFolder, platform, " :    could not read OBJCTRA from fits file",
                    "fits file does not have OBJCTRA tag");
    std::string decText;
    if (!ReadText<20>(fits, "OBJCTDEC", decText))
        return Fail(programFolder, platform, " :    could not read OBJCTDEC from fits file",
                    "fits file does not have OBJCTDEC tag");
    LogEvent(programFolder, " :    RA = " + raText + ", DEC = " + decText);
    const auto ra = RaFromHeaderText(raText);
    if (!ra)
        return BadHeaderText(programFolder, platform, "OBJCTRA", raText);
    const auto dec = DecFromHeaderText(decText);
    if (!dec)
        return BadHeaderText(programFolder, platform, "OBJCTDEC", decText);
    position = {*ra, *dec};
    return true;
}

bool ImageScaleAndField(FitsInfo& fits, Settings& settings, const std::string& programFolder,
                        const Platform& platform, SolverField& field) {
    double scale = settings.IMAGE_SCALE;
    if (!settings.OVERRIDE_IMAGE_SCALE) {
        float focalLength = 0, pixelSize = 0;
        if (!ReadNonZeroFloat(fits, "FOCALLEN", programFolder, platform, focalLength) ||
            !ReadNonZeroFloat(fits, "XPIXSZ", programFolder, platform, pixelSize))
            return false;
        // Micrometres per pixel over millimetres of focal length, in arcseconds per pixel.
        scale = static_cast<double>(pixelSize) * 206265.0 / 1000.0 / focalLength;
        scale = RoundHalfEven(scale * 1000.0) / 1000.0;
        settings.IMAGE_SCALE = scale;
        SaveSettings(settings, programFolder);
        LogEvent(programFolder, " :    focalLen = " + DefaultText(focalLength) +
                                    ", xpixsz = " + DefaultText(pixelSize) +
                                    ", imageScale = " + DefaultText(scale));
    }
    field.scale = scale;
    field.width = RadiansFromArcseconds(fits.width * scale);
    field.height = RadiansFromArcseconds(fits.height * scale);
    return true;
}

bool PositionFromWcs(FitsInfo& fits, const std::string& programFolder, const Platform& platform,
                     SkyPosition& position) {
    float crval1 = -1.0f;
    ReadFloat(fits, "CRVAL1", crval1);
    if (crval1 == -1.0f)
        return Fail(programFolder, platform, " :    unable to read CRVAL1 from fits file",
                    "fits file does not have CRVAL1 (WCS) tag");
    const double ra = RadiansFromDegrees(crval1);
    float crval2 = -1.0f;
    ReadFloat(fits, "CRVAL2", crval2);
    if (crval2 == -1.0f)
        return Fail(programFolder, platform, " :    unable to read CRVAL2 from fits file",
                    "fits file does not have CRVAL2 (WCS) tag");
    position = {ra, RadiansFromDegrees(crval2)};
    if (!OnTheSky(position))
        return Fail(programFolder, platform,
                    " :    CRVAL1/CRVAL2 is no sky position: " + DefaultText(crval1) + ", " +
                        DefaultText(crval2),
                    "fits file has CRVAL1/CRVAL2 outside the sky");
    return true;
}
