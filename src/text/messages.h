#pragma once

#include <string_view>

// The monitor's own Japanese texts, in the code page 932 bytes that its files and status carry.
namespace zqn::text::messages {

inline constexpr std::string_view kStarted = "\x8A\x4A\x8En";                  // 開始
inline constexpr std::string_view kStarting = "\x8A\x4A\x8En\x92\x86";         // 開始中
inline constexpr std::string_view kStopped = "\x92\xE2\x8E\x7E\x92\x86";       // 停止中
inline constexpr std::string_view kCsvUnreadable =                              // csv ファイルが読み込めません
    "csv \x83t\x83\x40\x83\x43\x83\x8B\x82\xAA\x93\xC7\x82\xDD\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1";
inline constexpr std::string_view kSaveFailed =                                 // ファイル保存ができません。
    "\x83t\x83\x40\x83\x43\x83\x8B\x95\xDB\x91\xB6\x82\xAA\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x42";
inline constexpr std::string_view kPageSaveFailedPrefix = "html ";
inline constexpr std::string_view kCsvSaveFailedPrefix = "csv ";
inline constexpr std::string_view kPortInUse =                                  // ポートは使用中
    "\x83|\x81[\x83g\x82\xCD\x8Eg\x97p\x92\x86";
inline constexpr std::string_view kPortNotAllowed =                             // ポートは使えません
    "\x83|\x81[\x83g\x82\xCD\x8Eg\x82\xA6\x82\xDC\x82\xB9\x82\xF1";
inline constexpr std::string_view kNoPermission =                               // アクセス権がありません
    "\x83\x41\x83N\x83Z\x83X\x8C\xA0\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1";
inline constexpr std::string_view kNoSuchFolder =                               // フォルダがありません
    "\x83t\x83H\x83\x8B\x83_\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1";
inline constexpr std::string_view kNoBrowser =                                  // ブラウザを起動できません
    "\x83u\x83\x89\x83\x45\x83U\x82\xF0\x8BN\x93\xAE\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1";
inline constexpr std::string_view kSettingsNotSaved =                           // 設定は終了時に保存されません
    "\x90\xDD\x92\xE8\x82\xCD\x8FI\x97\xB9\x8E\x9E\x82\xC9\x95\xDB\x91\xB6\x82\xB3\x82\xEA\x82\xDC\x82\xB9\x82\xF1";
inline constexpr std::string_view kReload = "\x8D\x58\x90\x56";                // 更新
inline constexpr std::string_view kConnect = "\x90\xDA\x91\xB1";               // 接続
inline constexpr std::string_view kIdeographicSpace = "\x81\x40";              // U+3000

} // namespace zqn::text::messages
