#pragma once

#include <QString>

#include <optional>

#include "settings/settings.h"
#include "storage/result.h"

namespace zqn::app {

// The executable's path with the extension ".Ini".
QString settingsFileBeside(const QString& executablePath);

// The settings file beside the executable, or, when that
// folder cannot be written and holds no such file, zqnlist.Ini in the user's configuration folder.
QString settingsFilePath(const QString& executablePath);

// The settings in the file at path; nothing where there is no file, the reason where it cannot be
// read.
storage::Result<std::optional<settings::Settings>> readSettingsFile(const QString& path);

// Writes settings into the file at path, keeping what else the file holds. A file that cannot be
// read is written afresh; the result tells of one that cannot be written.
storage::Status saveSettingsFile(const QString& path, const settings::Settings& settings);

} // namespace zqn::app
