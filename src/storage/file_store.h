#pragma once

#include <QFileDevice>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "storage/result.h"
#include "text/byte_sink.h"

// File access for the monitor: whole-file reads and atomic replaces. Paths that come from the
// settings are code page 932 bytes and are turned into native names here, and only here.
// Failures come back as results carrying the message for the user; nothing here throws.
namespace zqn::storage {

// The native file name of a code page 932 path.
QString nativeName(std::string_view cp932Path);

// True for an existing regular file (links followed); a folder of that name does not count.
bool isRegularFile(const QString& path);
bool isRegularFile(std::string_view cp932Path);

// The whole file, byte for byte, or "ファイル %1 は開けません" when it cannot be read.
Result<std::string> readFile(const QString& path);
Result<std::string> readFile(std::string_view cp932Path);

// The whole file when it is a regular file, nothing when there is none; fails like readFile.
Result<std::optional<std::string>> readExistingFile(const QString& path);
Result<std::optional<std::string>> readExistingFile(std::string_view cp932Path);

// Writes to a temporary file beside the target, flushes it and renames it over the target, so a
// failure at any point leaves the old file whole. Links are followed and mode bits kept. Where
// the folder takes no new file but the file itself is writable, the file is rewritten in place:
// its space is reserved first (see setSpaceReserver), so that a full disk fails before a byte of
// it changes; any other failure there can leave it cut short. A failure says "path: reason".
Status replaceFile(const QString& path, std::string_view bytes);
Status replaceFile(std::string_view cp932Path, std::string_view bytes);
// The same with the bytes written piece by piece by produce. inPlace, when given, tells whether
// the file itself was rewritten (whether or not that succeeded), so that who holds it open sees it.
Status replaceFileWith(const QString& path, const std::function<void(text::ByteSink&)>& produce,
                       bool* inPlace = nullptr);

// Makes sure that the open file can take size bytes before any of it is rewritten; fails with
// the reason when it cannot. Where the file system cannot reserve space it succeeds, and the
// write itself finds out. The platform supplies it; storage knows no platform.
using SpaceReserver = std::function<Status(QFileDevice& file, qint64 size)>;
// Used by every rewrite in place from then on; at first there is none.
void setSpaceReserver(SpaceReserver reserver);

} // namespace zqn::storage
