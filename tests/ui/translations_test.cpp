#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>

#include <gtest/gtest.h>

#include "ui/translations.h"

namespace zqn::ui {
namespace {

TEST(QtJapanese, StandardButtonsSpeakJapanese)
{
    const QString file = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm");
    if (!QFileInfo::exists(file))
        GTEST_SKIP() << "Qt's translations are not installed (" << file.toStdString() << ")";

    ASSERT_TRUE(loadQtJapanese(*QCoreApplication::instance()));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("はい(&Y)"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
}

} // namespace
} // namespace zqn::ui
