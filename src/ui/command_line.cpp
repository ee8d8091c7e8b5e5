#include "ui/command_line.h"

#include <QCommandLineParser>
#include <QDir>

#include <cstdio>

#include "zqnlist_version.h"

namespace zqn::ui {

namespace {

constexpr int kUsage = 2;

CommandLine usageError(const QString& problem)
{
    std::fprintf(stderr, "zqnlist: %s (see zqnlist --help)\n", qPrintable(problem));
    return {{}, kUsage};
}

} // namespace

CommandLine readCommandLine(const QStringList& arguments, const QString& usualSettingsPath)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Monitors the devices that announce themselves on the local network."));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Use the settings in <file> (default: %1); one program runs per settings file.")
            .arg(QDir::toNativeSeparators(usualSettingsPath)),
        QStringLiteral("file"));
    parser.addOption(settingsOption);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();

    // process() would end a usage error with status 1, and print more than one line.
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return {{}, 0};
    }
    if (parser.isSet(versionOption)) {
        std::printf("zqnlist %s\n", ZQN_VERSION);
        return {{}, 0};
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    return {parser.value(settingsOption), std::nullopt};
}

} // namespace zqn::ui
