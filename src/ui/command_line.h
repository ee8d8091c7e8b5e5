#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace zqn::ui {

// The window program's own options, read after Qt took its own (-platform, -display, ...).
struct CommandLine {
    QString settingsPath;          // empty: the usual settings file
    std::optional<int> exitStatus; // the program ends at once: 0 after --help or --version, 2 on a usage error
};

// Prints what --help and --version ask for on stdout, a usage error as one line on stderr.
CommandLine readCommandLine(const QStringList& arguments, const QString& usualSettingsPath);

} // namespace zqn::ui
