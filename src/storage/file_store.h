#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "report/list_page.h"

// File access for the monitor: whole-file reads and atomic replaces. Paths that come from the
// settings are code page 932 bytes and are turned into native names here, and only here.
namespace zqn::storage {

// Carries a message for the user, in UTF-8.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

QString fromCp932(std::string_view bytes);
std::string toCp932(const QString& text);

// The native file name of a code page 932 path.
QString nativeName(std::string_view cp932Path);

// True for an existing regular file (links followed); a folder of that name does not count.
bool isRegularFile(const QString& path);
bool isRegularFile(std::string_view cp932Path);

// The whole file, byte for byte. Throws FileError "ファイル %s は開けません" when it cannot be read.
std::string readFile(const QString& path);
std::string readFile(std::string_view cp932Path);

// The whole file when it is a regular file, nothing when there is none; throws like readFile.
std::optional<std::string> readExistingFile(const QString& path);
std::optional<std::string> readExistingFile(std::string_view cp932Path);

// Writes to a temporary file beside the target, flushes it and renames it over the target, so a
// failure at any point leaves the old file whole. Links are followed and mode bits kept.
// Throws FileError naming the file and the reason.
void replaceFile(const QString& path, std::string_view bytes);
// The same with the bytes written piece by piece by produce.
void replaceFileWith(const QString& path, const std::function<void(report::ByteSink&)>& produce);
void replaceFile(std::string_view cp932Path, std::string_view bytes);

// The page writer's sink onto the file system.
class FileReplacer final : public report::FileSink {
public:
    bool replace(std::string_view cp932Path, std::string_view bytes) override;
    bool replaceWith(std::string_view cp932Path, const std::function<void(report::ByteSink&)>& produce) override;
};

} // namespace zqn::storage
