#pragma once
// One command-line convention for every program of the repository, on QCommandLineParser:
// "--help" and "--version" print to standard output and end the program with 0; an
// unknown option or a wrong argument prints what is wrong and the usage to standard
// error and ends it with 2.  Works before any Q*Application exists, so "--help" needs
// no display.
#include <QCommandLineParser>
#include <QStringList>
#include <optional>

// The arguments as Qt takes them, argv[0] first.
QStringList ArgumentsOf(int argc, char** argv);

// Adds --help and --version to parser (whose options and positional arguments the
// program has added), parses arguments and handles those two and any error.
// name heads the usage line; maxPositional limits the plain arguments.  Returns the exit
// status when the program must end now, nullopt when it goes on.
std::optional<int> ParseProgramOptions(QCommandLineParser& parser, const QStringList& arguments,
                                       const QString& name, qsizetype maxPositional);

// Prints message and the usage to standard error; returns 2, the exit status.
int UsageError(const QCommandLineParser& parser, const QString& name, const QString& message);

// A whole number option or argument of at least minimum; nullopt for anything else.
std::optional<int> WholeNumberArgument(const QString& text, int minimum);
// A decimal number option or argument ("." only) above zero; nullopt otherwise.
std::optional<double> PositiveNumberArgument(const QString& text);
// The night's optional positional FRAMES (a whole number of at least 2) and
// CADENCE_SECONDS (above 0), at positions first and first + 1; what is not given keeps
// its value.  Returns the exit status of a usage error, nullopt when both read.
std::optional<int> NightLengthArguments(const QCommandLineParser& parser, const QString& name,
                                        qsizetype first, int& frames, double& cadenceSeconds);
