#include "ui/translations.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace zqn::ui {

bool loadQtJapanese(QCoreApplication& app)
{
    auto* translator = new QTranslator(&app);
    // Japanese whatever the system's language: every other text of the program is Japanese too.
    if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        && QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

} // namespace zqn::ui
