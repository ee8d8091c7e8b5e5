#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QUdpSocket>

#include "support/eventually.h"
#include "ui/login_start.h"
#include "window_fixture.h"

namespace zqn::ui::testing {
namespace {

using State = app::MonitorController::State;

class MainWindowTest : public WindowFixture {};

TEST_F(MainWindowTest, ShowsTheJapaneseTextsUnderTheirControlNames)
{
    build();
    struct Text {
        const char* control;
        const char* property;
        QString text;
    };
    const Text texts[] = {
        {"BitBtn1", "text", QStringLiteral("開始")},
        {"BitBtn2", "text", QStringLiteral("停止")},
        {"BitBtn7", "text", QStringLiteral("HTML")},
        {"BitBtn4", "text", QStringLiteral("設定")},
        {"BitBtn9", "text", QStringLiteral("終了")},
        {"Label6", "text", QStringLiteral("更新時間")},
        {"Label9", "text", QStringLiteral("状態")},
        {"Panel4", "text", QStringLiteral("停止中")},
        {"GroupBox1", "title", QStringLiteral("設定")},
        {"Label1", "text", QStringLiteral("Port:")},
        {"Label3", "text", QStringLiteral("httpPort:")},
        {"Label2", "text", QStringLiteral("保存間隔(秒)")},
        {"Label4", "text", QStringLiteral("CSVファイル名")},
        {"Label5", "text", QStringLiteral("HTMLファイル名")},
        {"Label8", "text", QStringLiteral("HTMLコメント")},
        {"CheckBox2", "text", QStringLiteral("起動時と自動実行")},
        {"CheckBox1", "text", QStringLiteral("起動時タスクトレイに入れる")},
        {"BitBtn6", "text", QStringLiteral("適用")},
        {"BitBtn8", "text", QStringLiteral("キャンセル")},
        {"Label7", "text", QStringLiteral("Version 1.01")},
        {"N2", "text", QStringLiteral("設定(&E)")},
        {"N3", "text", QStringLiteral("開始(&G)")},
        {"N4", "text", QStringLiteral("停止(&S)")},
        {"html1", "text", QStringLiteral("html接続(&H)")},
        {"Close1", "text", QStringLiteral("終了(&X)")},
    };
    for (const Text& expected : texts)
        EXPECT_EQ(find<QObject>(expected.control)->property(expected.property).toString(),
                  expected.text)
            << expected.control;
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ZQN LIST Version 1.01"));
}

TEST_F(MainWindowTest, IconsComeFromTheCompiledInResources)
{
    build();
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_FALSE(find<QSystemTrayIcon>("TrayIcon1")->icon().isNull());
    EXPECT_FALSE(find<QPushButton>("BitBtn3")->icon().isNull());
    EXPECT_FALSE(find<QPushButton>("BitBtn5")->icon().isNull());
}

struct StateCase {
    const char* name;
    State state;
    bool start, stop, settings;
};

void PrintTo(const StateCase& c, std::ostream* out)
{
    *out << c.name;
}

class ButtonsFollowState : public MainWindowTest, public ::testing::WithParamInterface<StateCase> {
protected:
    void reach(State state)
    {
        if (state == State::Running)
            find<QPushButton>("BitBtn1")->click();
        if (state == State::SettingsOpen)
            find<QPushButton>("BitBtn4")->click();
        ASSERT_EQ(controller->state(), state) << errors.join('\n').toStdString();
    }
};

TEST_P(ButtonsFollowState, AndThePopupMenuMirrorsThemWhenItOpens)
{
    const StateCase& c = GetParam();
    build();
    reach(c.state);

    EXPECT_EQ(find<QPushButton>("BitBtn1")->isEnabled(), c.start);
    EXPECT_EQ(find<QPushButton>("BitBtn2")->isEnabled(), c.stop);
    EXPECT_EQ(find<QPushButton>("BitBtn4")->isEnabled(), c.settings);
    EXPECT_TRUE(find<QPushButton>("BitBtn7")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("BitBtn9")->isEnabled());

    // The menu items are the buttons' own actions: there is nothing to catch up when it opens.
    auto* menu = find<QMenu>("PopupMenu1");
    menu->popup(QPoint(0, 0));
    menu->close();

    EXPECT_EQ(find<QAction>("N3")->isEnabled(), c.start);
    EXPECT_EQ(find<QAction>("N4")->isEnabled(), c.stop);
    EXPECT_EQ(find<QAction>("N2")->isEnabled(), c.settings);
    EXPECT_TRUE(find<QAction>("html1")->isEnabled());
    EXPECT_TRUE(find<QAction>("Close1")->isEnabled());

    const bool editing = c.state == State::SettingsOpen;
    EXPECT_EQ(find<QListView>("Memo1")->isVisibleTo(window.get()), !editing);
    EXPECT_EQ(find<QWidget>("Panel2")->isVisibleTo(window.get()), editing);
}

INSTANTIATE_TEST_SUITE_P(
    States, ButtonsFollowState,
    ::testing::Values(StateCase{"Stopped", State::Stopped, true, false, true},
                      StateCase{"Running", State::Running, false, true, false},
                      StateCase{"SettingsOpen", State::SettingsOpen, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, MenuItemsRunTheOperationsOfTheirButtons)
{
    build();
    find<QAction>("N3")->trigger();
    EXPECT_EQ(controller->state(), State::Running);
    EXPECT_EQ(find<QLabel>("Panel4")->text(), QStringLiteral("開始中"));
    find<QAction>("N4")->trigger();
    EXPECT_EQ(controller->state(), State::Stopped);
    EXPECT_EQ(find<QLabel>("Panel4")->text(), QStringLiteral("停止中"));

    ASSERT_TRUE(window->isHidden());
    find<QAction>("N2")->trigger();
    EXPECT_EQ(controller->state(), State::SettingsOpen);
    EXPECT_TRUE(window->isVisible()) << "the panel opens in the window, so it must be shown";
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(MainWindowTest, UpdateTimePanelShowsTheLastPageWrite)
{
    build();
    find<QPushButton>("BitBtn1")->click();
    // Start writes the first page at once, from the event loop.
    ASSERT_EVENTUALLY((find<QLabel>("Panel3")->text()) == (QStringLiteral("2024/05/01 09:15:30")));
    const auto* status = find<QLabel>("Panel4");
    EXPECT_EQ(status->toolTip(), status->text()) << "the clipped status is readable whole";
}

TEST_F(MainWindowTest, ControllerErrorsReachTheErrorHandler)
{
    writeFile(QStringLiteral("zqnlist.Ini"), "[SYSTEM]\r\nPORT=70000\r\n");
    build();
    find<QPushButton>("BitBtn1")->click();
    EXPECT_EQ(controller->state(), State::Stopped);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.front().contains(QStringLiteral("70000"))) << errors.front().toStdString();
}

struct CloseCase {
    const char* name;
    bool trayAvailable;
    bool settingsOpen;
    bool askTheSystem = false;
};

void PrintTo(const CloseCase& c, std::ostream* out)
{
    *out << c.name;
}

class CloseBox : public MainWindowTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseBox, PutsTheWindowAwayAndCancelsAnOpenPanel)
{
    const CloseCase& c = GetParam();
    trayAvailable = c.trayAvailable;
    askTheSystemForATray = c.askTheSystem;
    build();
    window->show();
    if (c.settingsOpen) {
        find<QPushButton>("BitBtn4")->click();
        find<QLineEdit>("Edit2")->setText(QStringLiteral("6000"));
    }
    const settings::Settings before = controller->settings();

    EXPECT_FALSE(window->close()) << "the close must be refused";

    EXPECT_EQ(controller->state(), State::Stopped);
    EXPECT_EQ(controller->settings(), before);
    EXPECT_TRUE(find<QListView>("Memo1")->isVisibleTo(window.get()));
    if (c.trayAvailable) {
        EXPECT_TRUE(window->isHidden());
    } else {
        EXPECT_TRUE(window->isVisible()) << "without a tray nothing could bring it back";
        EXPECT_TRUE(window->isMinimized());
    }
    if (c.settingsOpen) {
        EXPECT_EQ(controller->panelFields().udpPort, "6000") << "a cancelled field keeps its text";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CloseBox,
                         ::testing::Values(CloseCase{"WithTray", true, false},
                                           CloseCase{"WithoutTray", false, false},
                                           CloseCase{"WithTraySettingsOpen", true, true},
                                           CloseCase{"WithoutTraySettingsOpen", false, true},
                                           CloseCase{"OffscreenHasNoTray", false, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A tray host that appears after start-up: the close box hides again, and the icon is there to
// bring the window back.
TEST_F(MainWindowTest, TrayThatAppearsLaterTakesTheWindowAgain)
{
    trayAvailable = false;
    build();
    controller->runDeferredStart();
    auto* tray = find<QSystemTrayIcon>("TrayIcon1");
    ASSERT_FALSE(tray->isVisible());

    trayAvailable = true;
    ASSERT_EVENTUALLY(tray->isVisible()) << "the icon comes without the window being touched";
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isHidden());
}

// Without a tray the list's menu is the way to the switches, also while the list is empty; they
// are the tray menu's own actions.
TEST_F(MainWindowTest, TheListsMenuOffersTheTrayMenusSwitches)
{
    trayAvailable = false;
    build();
    window->show();
    auto* list = find<QListView>("Memo1");
    const QPoint empty = list->viewport()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, empty, list->viewport()->mapToGlobal(empty));
    QApplication::sendEvent(list->viewport(), &event);
    auto* menu = find<QMenu>("DeviceMenu");
    ASSERT_EVENTUALLY(menu->isVisible());
    for (const char* name : {"NotifyNewDevices", "LaunchAtLogin"}) {
        auto* action = find<QAction>(name);
        EXPECT_TRUE(menu->actions().contains(action)) << name;
        EXPECT_TRUE(find<QMenu>("PopupMenu1")->actions().contains(action)) << name;
        EXPECT_TRUE(action->isEnabled()) << name;
    }
    EXPECT_FALSE(find<QAction>("ConnectDevice")->isEnabled()) << "no device under the click";
    menu->close();
}

struct ExitCase {
    const char* name;
    const char* control;
    bool answer;
};

void PrintTo(const ExitCase& c, std::ostream* out)
{
    *out << c.name;
}

class ExitQuestion : public MainWindowTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitQuestion, OnlyYesEndsTheProgram)
{
    const ExitCase& c = GetParam();
    exitAnswer = c.answer;
    build();
    window->show();
    find<QPushButton>("BitBtn1")->click();
    QSignalSpy exits(controller.get(), &app::MonitorController::finished);

    if (QString::fromLatin1(c.control).startsWith(QStringLiteral("BitBtn")))
        find<QPushButton>(c.control)->click();
    else
        find<QAction>(c.control)->trigger();

    EXPECT_EQ(exitQuestions, 1);
    EXPECT_EQ(exits.count(), c.answer ? 1 : 0);
    EXPECT_EQ(window->isExiting(), c.answer);
    EXPECT_EQ(window->isVisible(), !c.answer);
    EXPECT_EQ(controller->state(), State::Running) << "exit writes the last page but changes no state";
}

INSTANTIATE_TEST_SUITE_P(Cases, ExitQuestion,
                         ::testing::Values(ExitCase{"ButtonNo", "BitBtn9", false},
                                           ExitCase{"ButtonYes", "BitBtn9", true},
                                           ExitCase{"MenuNo", "Close1", false},
                                           ExitCase{"MenuYes", "Close1", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct TrayClickCase {
    const char* name;
    QSystemTrayIcon::ActivationReason reason;
    bool shows;
};

void PrintTo(const TrayClickCase& c, std::ostream* out)
{
    *out << c.name;
}

class TrayClick : public MainWindowTest, public ::testing::WithParamInterface<TrayClickCase> {};

TEST_P(TrayClick, OnlyALeftClickBringsTheWindowBack)
{
    const TrayClickCase& c = GetParam();
    build();
    for (const bool minimisedFirst : {false, true}) {
        SCOPED_TRACE(minimisedFirst ? "minimised" : "hidden");
        if (minimisedFirst)
            window->showMinimized();
        else
            window->hide();

        emit find<QSystemTrayIcon>("TrayIcon1")->activated(c.reason);

        if (c.shows) {
            EXPECT_TRUE(window->isVisible());
            EXPECT_FALSE(window->isMinimized());
        } else {
            EXPECT_EQ(window->isVisible(), minimisedFirst);
            EXPECT_EQ(window->isMinimized(), minimisedFirst);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, TrayClick,
    ::testing::Values(TrayClickCase{"Left", QSystemTrayIcon::Trigger, true},
                      TrayClickCase{"Right", QSystemTrayIcon::Context, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct DeferredStartCase {
    const char* name;
    const char* ini;
    bool trayAvailable;
    State state;
    bool visible, minimised;
};

void PrintTo(const DeferredStartCase& c, std::ostream* out)
{
    *out << c.name;
}

class DeferredStart : public MainWindowTest,
                      public ::testing::WithParamInterface<DeferredStartCase> {};

TEST_P(DeferredStart, StartsWhenAskedAndShowsOrKeepsTheWindowAway)
{
    const DeferredStartCase& c = GetParam();
    writeFile(QStringLiteral("zqnlist.Ini"), c.ini);
    trayAvailable = c.trayAvailable;
    build(Order::WindowFirst);
    ASSERT_TRUE(window->isHidden());

    controller->runDeferredStart();

    EXPECT_EQ(controller->state(), c.state);
    EXPECT_EQ(window->isVisible(), c.visible);
    EXPECT_EQ(window->isMinimized(), c.minimised);
    EXPECT_EQ(find<QSystemTrayIcon>("TrayIcon1")->isVisible(), c.trayAvailable);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeferredStart,
    ::testing::Values(
        DeferredStartCase{"Plain", "[SYSTEM]\r\nPORT=0\r\n", true, State::Stopped, true, false},
        DeferredStartCase{"AutoStartHidden", "[SYSTEM]\r\nPORT=0\r\nAUTO=1\r\nWINDOW=1\r\n", true,
                          State::Running, false, false},
        DeferredStartCase{"HiddenWithoutTray", "[SYSTEM]\r\nPORT=0\r\nWINDOW=1\r\n", false,
                          State::Stopped, true, true},
        DeferredStartCase{"AutoStartShown", "[SYSTEM]\r\nPORT=0\r\nAUTO=1\r\n", false,
                          State::Running, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct PageCase {
    const char* name;
    const char* htmlPathSetting; // nullptr: the default
    bool pageExists;
    bool opens;
};

void PrintTo(const PageCase& c, std::ostream* out)
{
    *out << c.name;
}

class OpenPage : public MainWindowTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(OpenPage, OpensOnlyAnExistingPage)
{
    const PageCase& c = GetParam();
    if (c.htmlPathSetting)
        writeFile(QStringLiteral("zqnlist.Ini"),
                  QByteArray("[SYSTEM]\r\nPORT=0\r\n[DATA]\r\nHTML=") + c.htmlPathSetting + "\r\n");
    if (c.pageExists)
        writeFile(QStringLiteral("zqnlist.htm"), "<html></html>");
    build();

    find<QPushButton>("BitBtn7")->click();
    find<QAction>("html1")->trigger();

    if (c.opens) {
        ASSERT_EQ(openedPages.size(), 2) << "the button and the menu item";
        for (const QString& opened : openedPages)
            EXPECT_EQ(QFileInfo(opened).absoluteFilePath(),
                      QFileInfo(dir.filePath(QStringLiteral("zqnlist.htm"))).absoluteFilePath());
    } else {
        EXPECT_TRUE(openedPages.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenPage,
                         ::testing::Values(PageCase{"Existing", nullptr, true, true},
                                           PageCase{"NotYetWritten", nullptr, false, false},
                                           PageCase{"EmptyPath", "", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });


TEST_F(MainWindowTest, LoginStartItemShowsAndTogglesTheAutostartEntry)
{
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    build();
    auto* item = find<QAction>("LaunchAtLogin");
    EXPECT_FALSE(item->isChecked());
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(QFile::exists(loginStartEntryPath(controller->settingsPath())));
    QFile::remove(loginStartEntryPath(controller->settingsPath())); // removed by hand: the menu shows it when it opens
    emit find<QMenu>("PopupMenu1")->aboutToShow();
    EXPECT_FALSE(item->isChecked());
    qputenv("XDG_CONFIG_HOME", previous);
}


// main builds the window before start-up reads the settings file.
TEST_F(MainWindowTest, NotifyItemShowsTheChoiceReadAtStartUp)
{
    writeFile(QStringLiteral("zqnlist.Ini"), "[SYSTEM]\r\nPORT=0\r\nNOTIFY=1\r\n");
    build(Order::WindowFirst);
    EXPECT_TRUE(find<QAction>("NotifyNewDevices")->isChecked());
}

// Nothing to open a page or a device with: the status says so, and its tooltip what was to open.
TEST_F(MainWindowTest, WithoutABrowserTheStatusSaysSo)
{
    writeFile(QStringLiteral("zqnlist.htm"), "<html></html>");
    writeFile(QStringLiteral("zqnlist.csv"), "02:00:00:00:00:01,10.0.0.1,2024/05/01,09:15:30,a\r\n");
    browserStarts = false;
    build();
    auto* status = find<QLabel>("Panel4");
    find<QAction>("html1")->trigger();
    EXPECT_EQ(status->text(), QStringLiteral("ブラウザを起動できません"));
    EXPECT_TRUE(status->toolTip().endsWith(QStringLiteral("zqnlist.htm"))) << status->toolTip().toStdString();

    window->setUrlOpener([](const QUrl&) { return false; });
    auto* list = find<QListView>("Memo1");
    list->setCurrentIndex(list->model()->index(0, 0));
    find<QAction>("ConnectDevice")->trigger();
    EXPECT_TRUE(status->toolTip().endsWith(QStringLiteral("http://10.0.0.1"))) << status->toolTip().toStdString();
}

// A port another program holds: Japanese words in the panel, the system's in its tooltip, and the
// tray icon tells the status and whose settings these are.
TEST_F(MainWindowTest, StatusWordsAndTooltipsForAPortInUse)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, 0));
    writeFile(QStringLiteral("zqnlist.Ini"), "[SYSTEM]\r\nPORT=" + QByteArray::number(holder.localPort()) + "\r\n");
    build();
    find<QAction>("N3")->trigger();
    auto* status = find<QLabel>("Panel4");
    EXPECT_EQ(status->text(), QStringLiteral("停止中 ポートは使用中"));
    EXPECT_EQ(status->alignment(), Qt::AlignCenter) << "it fits the panel";
    EXPECT_TRUE(status->toolTip().contains(QStringLiteral("ポート %1: ").arg(holder.localPort())))
        << status->toolTip().toStdString();
    EXPECT_EQ(find<QSystemTrayIcon>("TrayIcon1")->toolTip(),
              QStringLiteral("ZQN LIST: %1\n%2").arg(status->text(), QDir::toNativeSeparators(dir.path())));
}

} // namespace
} // namespace zqn::ui::testing
