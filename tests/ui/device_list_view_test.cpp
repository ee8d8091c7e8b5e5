#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QScrollBar>
#include <QTest>

#include "support/announcements.h"
#include "support/eventually.h"
#include "ui/device_list_model.h"
#include "window_fixture.h"

namespace zqn::ui::testing {
namespace {

using zqn::test::announcement;

class DeviceListViewTest : public WindowFixture {
protected:
    QListView* view() { return find<QListView>("Memo1"); }
    QString clipboard() const { return QGuiApplication::clipboard()->text(); }
    void selectRows(int first, int last)
    {
        view()->selectionModel()->select(QItemSelection(view()->model()->index(first, 0), view()->model()->index(last, 0)),
                                         QItemSelectionModel::ClearAndSelect);
    }
    void rightClick(int row)
    {
        const QPoint at = view()->visualRect(view()->model()->index(row, 0)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view()->viewport(), &event);
        find<QMenu>("DeviceMenu")->close();
    }
};

// The list as people use it: long lines scroll, lines copy, a line opens its device and takes a
// new name.
TEST_F(DeviceListViewTest, DeviceLinesCanBeScrolledCopiedOpenedAndRenamed)
{
    writeFile(QStringLiteral("zqnlist.csv"), "02:00:00:00:00:01,10.0.0.1,2024/05/01,09:15:30,a\r\n"
                                             "02:00:00:00:00:02,10.0.0.2,2024/05/01,09:15:30,b\r\n");
    build();
    QList<QUrl> openedUrls;
    window->setUrlOpener([&](const QUrl& url) {
        openedUrls << url;
        return true;
    });
    window->setNameAsker([](const QString& current) -> std::optional<QString> {
        EXPECT_EQ(current, QStringLiteral("b"));
        return QString(200, QLatin1Char('x'));
    });
    window->show();
    auto* view = find<QListView>("Memo1");
    view->setFocus();
    ASSERT_EQ(view->model()->rowCount(), 2);
    ASSERT_EVENTUALLY(view->horizontalScrollBar()->maximum() == 0);

    view->selectionModel()->select(QItemSelection(view->model()->index(0, 0), view->model()->index(1, 0)),
                                   QItemSelectionModel::Select);
    view->selectionModel()->setCurrentIndex(view->model()->index(1, 0), QItemSelectionModel::NoUpdate);
    ASSERT_EQ(view->selectionModel()->selectedRows().size(), 2);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "02:00:00:00:00:01,10.0.0.1,2024/05/01,09:15:30,a\n"
                                                                  "02:00:00:00:00:02,10.0.0.2,2024/05/01,09:15:30,b");

    QTest::keyClick(view, Qt::Key_Return);
    emit view->doubleClicked(view->model()->index(0, 0)); // QTest's double click does not reach item views offscreen
    EXPECT_EQ(QUrl::toStringList(openedUrls).join(u' ').toStdString(), "http://10.0.0.2 http://10.0.0.1");

    view->setCurrentIndex(view->model()->index(1, 0));
    find<QAction>("CopyMac")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "02:00:00:00:00:02");
    find<QAction>("RenameDevice")->trigger();
    EXPECT_TRUE(view->model()->index(1, 0).data().toString().endsWith(QString(200, QLatin1Char('x'))));
    QFile saved(QStringLiteral("zqnlist.csv"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().endsWith(QString(200, QLatin1Char('x')).toLatin1() + "\r\n"));
    ASSERT_EVENTUALLY(view->horizontalScrollBar()->maximum() > 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}



// Find: the field shows the lines that hold the text, counts them, keeps up with the list, and
// everything done to a line shown acts on that device; Esc puts it all back.
TEST_F(DeviceListViewTest, FindShowsMatchingLinesAndActsOnThem)
{
    writeFile(QStringLiteral("zqnlist.csv"), "02:C3:D7:00:00:01,10.0.0.1,2024/05/01,09:15:30,\x8E\xF3\x95\x74\r\n" // 受付
                                             "02:C3:D7:00:00:02,10.0.0.2,2024/05/01,09:15:30,Printer 2F\r\n"
                                             "02:C3:D7:00:00:03,10.0.0.3,2024/05/01,09:15:30,printer 3F\r\n"
                                             "02:C3:D7:00:00:04,10.0.0.4,2024/05/01,09:15:30,noname\r\n");
    build();
    QList<QUrl> opened;
    window->setUrlOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    window->show();
    window->activateWindow();
    ASSERT_EVENTUALLY(QApplication::activeWindow() == window.get());
    auto* bar = find<QWidget>("FindBar");
    auto* edit = find<QLineEdit>("FindEdit");
    auto* count = find<QLabel>("FindCount");
    EXPECT_FALSE(bar->isVisible()) << "the window looks as ever until find is asked for";

    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar->isVisible());
    QTest::keyClicks(edit, QStringLiteral("PRINTER"));
    EXPECT_EQ(view()->model()->rowCount(), 2);
    EXPECT_EQ(count->text(), QStringLiteral("2 / 4"));

    view()->setCurrentIndex(view()->model()->index(1, 0)); // the fourth device
    QTest::keyClick(view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), QStringLiteral("02:C3:D7:00:00:03,10.0.0.3,2024/05/01,09:15:30,printer 3F"));
    QTest::keyClick(view(), Qt::Key_Return);
    find<QAction>("CopyIp")->trigger();
    EXPECT_EQ(QUrl::toStringList(opened), QStringList{QStringLiteral("http://10.0.0.3")});
    EXPECT_EQ(clipboard(), QStringLiteral("10.0.0.3"));

    edit->setText(QStringLiteral("受付"));
    EXPECT_EQ(count->text(), QStringLiteral("1 / 4"));

    edit->setText(QStringLiteral("10.0.9."));
    controller->handleDatagram(announcement(0x05), "10.0.9.5"); // new
    controller->handleDatagram(announcement(0x04), "10.0.9.4"); // renewed, and now it matches
    controller->handleDatagram(announcement(0x06), "10.0.8.6"); // new, and no match
    ASSERT_EVENTUALLY(count->text() == QStringLiteral("2 / 6"));
    EXPECT_TRUE(view()->model()->index(0, 0).data().toString().startsWith(QStringLiteral("02:C3:D7:00:00:04,10.0.9.4")));
    EXPECT_TRUE(view()->model()->index(1, 0).data().toString().startsWith(QStringLiteral("02:C3:D7:00:00:05,10.0.9.5")));

    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_EQ(view()->model()->rowCount(), 6);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

struct MenuCase {
    const char* name;
    int clickedRow;
    QList<int> selectedAfter;
    bool renameEnabled;
    const char* copiedMacs;
};

void PrintTo(const MenuCase& c, std::ostream* out)
{
    *out << c.name;
}

class ContextMenu : public DeviceListViewTest, public ::testing::WithParamInterface<MenuCase> {};

// Rows 0 and 1 are selected; row 2 holds no device.
TEST_P(ContextMenu, KeepsASelectionClickedInsideAndOffersRenameOnlyForADevice)
{
    writeFile(QStringLiteral("zqnlist.csv"), "02:00:00:00:00:01,10.0.0.1,2024/05/01,09:15:30,a\r\n"
                                             "02:00:00:00:00:02,10.0.0.2,2024/05/01,09:15:30,b\r\n"
                                             "a note without fields\r\n");
    build();
    window->show();
    selectRows(0, 1);

    rightClick(GetParam().clickedRow);

    QList<int> selected;
    for (const QModelIndex& index : view()->selectionModel()->selectedIndexes())
        selected << index.row();
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, GetParam().selectedAfter);
    EXPECT_EQ(view()->currentIndex().row(), GetParam().clickedRow);
    EXPECT_EQ(find<QAction>("RenameDevice")->isEnabled(), GetParam().renameEnabled);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    find<QAction>("CopyMac")->trigger();
    EXPECT_EQ(clipboard().toStdString(), GetParam().copiedMacs);
}

INSTANTIATE_TEST_SUITE_P(Cases, ContextMenu,
                         ::testing::Values(MenuCase{"InsideTheSelection", 1, {0, 1}, true, "02:00:00:00:00:01\n02:00:00:00:00:02"},
                                           MenuCase{"OutsideTheSelection", 2, {2}, false, "before"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceListViewTest, ARefusedNameIsOfferedAgain)
{
    writeFile(QStringLiteral("zqnlist.csv"), "02:00:00:00:00:01,10.0.0.1,2024/05/01,09:15:30,a\r\n");
    build();
    QStringList offered;
    QStringList answers{QStringLiteral("受付\n2F"), QStringLiteral("受付 2F")};
    window->setNameAsker([&](const QString& current) -> std::optional<QString> {
        offered << current;
        return answers.isEmpty() ? std::nullopt : std::optional<QString>(answers.takeFirst());
    });
    view()->setCurrentIndex(view()->model()->index(0, 0));
    find<QAction>("RenameDevice")->trigger();
    EXPECT_EQ(offered, (QStringList{QStringLiteral("a"), QStringLiteral("受付\n2F")}));
    EXPECT_EQ(controller->device(0)->name, QStringLiteral("受付 2F"));
    EXPECT_EQ(errors.size(), 1);
}

} // namespace
} // namespace zqn::ui::testing
