#pragma once

#include <QString>

namespace zqn::app {

// The settings file beside the executable (its path with the extension ".Ini"), or, when that
// folder cannot be written and holds no such file, zqnlist.Ini in the user's configuration folder.
QString settingsFilePath(const QString& executablePath);

} // namespace zqn::app
