#pragma once

#include <QCoreApplication>

namespace zqn::ui {

// Puts Qt's own texts into Japanese, like the program's: the standard buttons of message boxes,
// the file dialogs and the context menus of text fields. They come from Qt's translation files
// (Debian: qt6-translations-l10n); returns false when those are not installed.
bool loadQtJapanese(QCoreApplication& app);

} // namespace zqn::ui
