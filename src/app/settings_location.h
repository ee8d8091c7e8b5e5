#pragma once

#include <QString>

#include "settings/settings.h"
#include "storage/result.h"

namespace zqn::app {

// The executable's path with the extension ".Ini".
QString settingsFileBeside(const QString& executablePath);

// The settings file beside the executable, or, when that
// folder cannot be written and holds no such file, zqnlist.Ini in the user's configuration folder.
QString settingsFilePath(const QString& executablePath);

// Writes settings into the file at path, keeping what else the file holds. A file that cannot be
// read is written afresh; the result tells of one that cannot be written.
storage::Status saveSettingsFile(const QString& path, const settings::Settings& settings);

} // namespace zqn::app
