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
inline constexpr std::string_view kReload = "\x8D\x58\x90\x56";                // 更新
inline constexpr std::string_view kConnect = "\x90\xDA\x91\xB1";               // 接続
inline constexpr std::string_view kIdeographicSpace = "\x81\x40";              // U+3000


// The program's name, as its windows and notices show it and the page's default heading.
inline constexpr std::string_view kProgramName = "ZQN LIST";

// What only the window, the notices and the journal show, in UTF-8; %1 and %2 are filled in.
inline constexpr std::string_view kSettingsNotSavedAtExit = "設定は終了時に保存されません。";
inline constexpr std::string_view kPortCannotOpen = "ポート %1 は開けません";
inline constexpr std::string_view kSettingsFileNotWritable = "設定ファイル %1 に書き込めません。\n%2";
inline constexpr std::string_view kLineCannotBeNamed = "この行には名前を付けられません。";
inline constexpr std::string_view kNameRefused =
    "名前「%1」は使えません。改行や Shift_JIS にない文字は名前にできません。";
inline constexpr std::string_view kListFull = "機器数が上限 %1 台に達しました";
inline constexpr std::string_view kNewDevicesRefused = "。新しい機器は記録されません。";
inline constexpr std::string_view kPortFailedBecause = "ポート %1: %2";
// Why something failed, in words a user can act on; the system's own words go to the tooltip.
inline constexpr std::string_view kPortInUse = "ポートは使用中";
inline constexpr std::string_view kPortNotAllowed = "ポートは使えません";
inline constexpr std::string_view kNoPermission = "アクセス権がありません";
inline constexpr std::string_view kNoSuchFolder = "フォルダがありません";
inline constexpr std::string_view kNoBrowser = "ブラウザを起動できません";

// The service's own lines, each followed by the system's reason where there is one.
inline constexpr std::string_view kServiceRunning = "監視中: UDP ポート %1、Web %2";
inline constexpr std::string_view kWebOff = "なし";
inline constexpr std::string_view kWebSettingBad = "WEB=%1 は使えません";
inline constexpr std::string_view kWebPortCannotOpen = "WEB=%1: ポート %2 は開けません";
inline constexpr std::string_view kSettingsFileMissing = "設定ファイル %1 がありません。既定の設定で動きます";
inline constexpr std::string_view kSettingsFileIsFolder = "設定ファイル %1 はフォルダーです。既定の設定で動きます";
inline constexpr std::string_view kSettingsFileNotRegular =
    "設定ファイル %1 は通常のファイルではありません。既定の設定で動きます";
inline constexpr std::string_view kWebNeedsBrackets = "IPv6 アドレスは [アドレス]:ポート と括弧に入れます";
inline constexpr std::string_view kWebBracketsNeedPort = "[アドレス]:ポート の形で書きます";
inline constexpr std::string_view kWebPortOutOfRange = "ポートは 1 から 65535 までの数です";
inline constexpr std::string_view kWebHostEmpty = "ポートの前のアドレスが空です";
inline constexpr std::string_view kReloading = "設定を読み直します";
inline constexpr std::string_view kReloadKeepsSettings = "設定ファイル %1 が読めません。今の設定のまま続けます";

// Device events in the journal.
inline constexpr std::string_view kJournalNewDevice = "新しい機器: %1 (%2)";
inline constexpr std::string_view kJournalDeviceMoved = "%1 の IP アドレスが %2 から %3 に変わりました";
inline constexpr std::string_view kJournalMoreNewDevices = "ほかに新しい機器が %1 台見つかりました";
inline constexpr std::string_view kJournalMoreMoves = "ほかに %1 台の機器の IP アドレスが変わりました";

} // namespace zqn::text::messages
