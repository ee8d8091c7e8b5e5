#pragma once

#include <QByteArray>
#include <QString>

// Starting at login is the user's XDG autostart entry, <configuration folder>/autostart/<app id>.desktop.
// The file is the only state: a user who deletes it by hand has turned the option off.
namespace zqn::ui {

QString loginStartEntryPath();

bool launchesAtLogin();

// Writes the entry, which starts this very executable in the current folder (where relative
// files are), or removes it. On failure returns false
// and, when error is given, the message a user reads ("path: reason").
bool setLaunchAtLogin(bool on, QString* error = nullptr);

// The entry's text for the program at programPath, started in workingFolder.
QByteArray loginStartEntry(const QString& programPath, const QString& workingFolder);

} // namespace zqn::ui
