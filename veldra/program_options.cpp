#include "veldra/program_options.h"

#include "veldra/version_info.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

// Without an application object Qt names the program "<executable_name>".
QString UsageText(const QCommandLineParser& parser, const QString& name) {
    return parser.helpText().replace("<executable_name>", name);
}

} // namespace

QStringList ArgumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

std::optional<int> ParseProgramOptions(QCommandLineParser& parser, const QStringList& arguments,
                                       const QString& name, qsizetype maxPositional) {
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    parser.addOption(help);
    parser.addOption(version);
    if (!parser.parse(arguments))
        return UsageError(parser, name, parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(UsageText(parser, name)), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(name), VersionText().c_str());
        return 0;
    }
    if (parser.positionalArguments().size() > maxPositional)
        return UsageError(parser, name,
                          "Unexpected argument '" + parser.positionalArguments().constLast() +
                              "'.");
    return std::nullopt;
}

int UsageError(const QCommandLineParser& parser, const QString& name, const QString& message) {
    std::fprintf(stderr, "%s: %s\n%s", qPrintable(name), qPrintable(message),
                 qPrintable(UsageText(parser, name)));
    return 2;
}

std::optional<int> WholeNumberArgument(const QString& text, int minimum) {
    const std::string digits = text.toStdString();
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value < minimum)
        return std::nullopt;
    return value;
}

std::optional<double> PositiveNumberArgument(const QString& text) {
    const std::string digits = text.toStdString();
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value) ||
        value <= 0)
        return std::nullopt;
    return value;
}

std::optional<int> NightLengthArguments(const QCommandLineParser& parser, const QString& name,
                                        qsizetype first, int& frames, double& cadenceSeconds) {
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > first) {
        const auto count = WholeNumberArgument(positional[first], 2);
        if (!count)
            return UsageError(parser, name, "FRAMES must be a whole number of at least 2.");
        frames = *count;
    }
    if (positional.size() > first + 1) {
        const auto cadence = PositiveNumberArgument(positional[first + 1]);
        if (!cadence)
            return UsageError(parser, name, "CADENCE_SECONDS must be a number above 0.");
        cadenceSeconds = *cadence;
    }
    return std::nullopt;
}
