#pragma once

#include <QByteArray>
#include <QString>

// Starting at login is the user's XDG autostart entry, one per settings file, as each settings
// file has a program of its own: <configuration folder>/autostart/<app id>-<key>.desktop, the key
// being the one the single-program socket is named after. The file is the only state: a user
// who deletes it by hand has turned the option off.
namespace zqn::ui {

QString loginStartEntryPath(const QString& settingsPath);

// Also true for a shared entry, <app id>.desktop, that starts this executable without options,
// when settingsPath is the file it then uses: users who ticked the option have one.
bool launchesAtLogin(const QString& settingsPath);

// Writes the entry, which starts this very executable with settingsPath in the current folder
// (where relative files are), or removes it. On failure returns false and, when error is given,
// the message a user reads ("path: reason").
bool setLaunchAtLogin(const QString& settingsPath, bool on, QString* error = nullptr);

// The entry's text for the program at programPath with settingsPath, started in workingFolder.
QByteArray loginStartEntry(const QString& programPath, const QString& settingsPath, const QString& workingFolder);

} // namespace zqn::ui
