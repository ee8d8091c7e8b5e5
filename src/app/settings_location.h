#pragma once

#include <QString>

namespace zqn::app {

// The executable's path with the extension ".Ini".
QString settingsFileBeside(const QString& executablePath);

// The settings file beside the executable, or, when that
// folder cannot be written and holds no such file, zqnlist.Ini in the user's configuration folder.
QString settingsFilePath(const QString& executablePath);

} // namespace zqn::app
