#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>

#include "window_fixture.h"

namespace zqn::ui::testing {
namespace {

using State = app::MonitorController::State;

const QByteArray kFullIni = "[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=6001\r\nHTTPPORT=8080\r\nLTIME=5\r\n"
                            "[DATA]\r\nCSV=data\\a.csv\r\nHTML=b.htm\r\n"
                            "MESS1=\x83\x65\x83\x58\x83\x67\r\n"; // テスト

class SettingsPanelTest : public WindowFixture {
protected:
    void open() { find<QPushButton>("BitBtn4")->click(); }
    void apply() { find<QPushButton>("BitBtn6")->click(); }
    void cancel() { find<QPushButton>("BitBtn8")->click(); }
    // Replaces a field's text as typing would. Key clicks cannot carry Japanese, so line
    // edits take the text as an edit of their selection.
    void type(const char* control, const QString& text)
    {
        auto* field = find<QWidget>(control);
        if (auto* edit = qobject_cast<QLineEdit*>(field)) {
            edit->selectAll();
            edit->del();
            edit->insert(text);
        } else if (auto* spin = qobject_cast<QSpinBox*>(field)) {
            spin->selectAll();
            QTest::keyClicks(spin, text);
        }
    }
};

TEST_F(SettingsPanelTest, OpeningShowsTheRecordInEveryField)
{
    writeFile(QStringLiteral("zqnlist.Ini"), kFullIni);
    build();
    open();

    ASSERT_EQ(controller->state(), State::SettingsOpen);
    EXPECT_TRUE(find<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_TRUE(find<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_EQ(find<QLineEdit>("Edit2")->text(), QStringLiteral("6001"));
    EXPECT_EQ(find<QLineEdit>("Edit3")->text(), QStringLiteral("8080"));
    EXPECT_EQ(find<QSpinBox>("UpDown1")->value(), 10) << "5 lies below the spin control's range";
    EXPECT_EQ(find<QLineEdit>("Edit1")->text(), QStringLiteral("10"));
    EXPECT_EQ(find<QLineEdit>("Edit4")->text(), QStringLiteral("data\\a.csv"));
    EXPECT_EQ(find<QLineEdit>("Edit5")->text(), QStringLiteral("b.htm"));
    EXPECT_EQ(find<QLineEdit>("Edit6")->text(), QStringLiteral("テスト"));
}

TEST_F(SettingsPanelTest, ApplyingUntouchedFieldsKeepsTheRecordButForTheIntervalsRange)
{
    writeFile(QStringLiteral("zqnlist.Ini"), kFullIni);
    build();
    open();
    apply();

    settings::Settings expected;
    expected.autoStart = true;
    expected.startHidden = true;
    expected.udpPort = 6001;
    expected.httpPort = 8080;
    expected.saveInterval = 10;
    expected.csvPath = "data\\a.csv";
    expected.htmlPath = "b.htm";
    expected.heading = "\x83\x65\x83\x58\x83\x67";
    EXPECT_EQ(controller->settings(), expected);
}

TEST_F(SettingsPanelTest, ApplyTakesTheTypedTextsAndReturnsToTheStoppedList)
{
    writeFile(QStringLiteral("zqnlist.Ini"), kFullIni);
    build();
    open();
    find<QCheckBox>("CheckBox2")->setChecked(false);
    type("Edit4", QString());
    type("Edit5", QStringLiteral("out/list.htm"));
    type("Edit6", QStringLiteral("見出し"));
    apply();

    const settings::Settings& applied = controller->settings();
    EXPECT_FALSE(applied.autoStart);
    EXPECT_TRUE(applied.startHidden);
    EXPECT_EQ(applied.csvPath, "") << "an emptied field gives an empty setting";
    EXPECT_EQ(applied.htmlPath, "out/list.htm");
    EXPECT_EQ(applied.heading, "\x8C\xA9\x8F\x6F\x82\xB5") << "code page 932 bytes of 見出し";

    EXPECT_EQ(controller->state(), State::Stopped) << "Apply does not start monitoring";
    EXPECT_TRUE(find<QPushButton>("BitBtn1")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("BitBtn2")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("BitBtn4")->isEnabled());
    EXPECT_TRUE(find<QListView>("Memo1")->isVisibleTo(window.get()));
    EXPECT_FALSE(find<QWidget>("Panel2")->isVisibleTo(window.get()));
}

struct PortCase {
    const char* name;
    const char* udpField;
    const char* httpField;
    int udpPort, httpPort;
};

void PrintTo(const PortCase& c, std::ostream* out)
{
    *out << c.name;
}

class PortFields : public SettingsPanelTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortFields, ANonNumberGivesThatFieldsOwnDefault)
{
    const PortCase& c = GetParam();
    writeFile(QStringLiteral("zqnlist.Ini"), kFullIni);
    build();
    open();
    type("Edit2", QString::fromLatin1(c.udpField));
    type("Edit3", QString::fromLatin1(c.httpField));
    apply();
    EXPECT_EQ(controller->settings().udpPort, c.udpPort);
    EXPECT_EQ(controller->settings().httpPort, c.httpPort);
}

INSTANTIATE_TEST_SUITE_P(Cases, PortFields,
                         ::testing::Values(PortCase{"MixedUdp", "50a0", "8081", 5000, 8081},
                                           PortCase{"EmptyHttp", "6000", "", 6000, 80}),
                         [](const auto& info) { return std::string(info.param.name); });

struct IntervalCase {
    const char* name;
    const char* typed;
    int exactly; // 0: anything within the range
};

void PrintTo(const IntervalCase& c, std::ostream* out)
{
    *out << c.name;
}

class IntervalField : public SettingsPanelTest,
                      public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(IntervalField, NeverYieldsAValueOutsideTenTo9999)
{
    const IntervalCase& c = GetParam();
    build();
    open();
    type("UpDown1", QString::fromLatin1(c.typed));
    const int shown = find<QSpinBox>("UpDown1")->value();
    apply();

    const int applied = controller->settings().saveInterval;
    EXPECT_EQ(applied, shown);
    EXPECT_GE(applied, 10);
    EXPECT_LE(applied, 9999);
    if (c.exactly != 0) {
        EXPECT_EQ(applied, c.exactly);
    }
    EXPECT_EQ(controller->panelFields().saveInterval, applied);
}

INSTANTIATE_TEST_SUITE_P(Cases, IntervalField,
                         ::testing::Values(IntervalCase{"InRange", "250", 250},
                                           IntervalCase{"Largest", "9999", 9999},
                                           IntervalCase{"BelowRange", "5", 10},
                                           IntervalCase{"AboveRange", "10000", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsPanelTest, CancelKeepsTheRecordWhileTheFieldsKeepWhatWasTyped)
{
    build();
    open();
    const settings::Settings before = controller->settings();
    type("Edit2", QStringLiteral("6000"));
    type("Edit3", QStringLiteral("8081"));
    type("UpDown1", QStringLiteral("300"));
    type("Edit4", QStringLiteral("other.csv"));
    cancel();

    EXPECT_EQ(controller->state(), State::Stopped);
    EXPECT_EQ(controller->settings(), before);
    EXPECT_TRUE(find<QListView>("Memo1")->isVisibleTo(window.get()));
    EXPECT_EQ(find<QLineEdit>("Edit2")->text(), QStringLiteral("6000"));
    EXPECT_EQ(controller->panelFields(), (app::PanelFields{"6000", "8081", 300}));

    open();
    EXPECT_EQ(find<QLineEdit>("Edit2")->text(), QStringLiteral("0")) << "opening reads the record";
    EXPECT_EQ(find<QLineEdit>("Edit4")->text(), QStringLiteral("zqnlist.csv"));
}

// The panel tells its numbers as they change: exit finds them without asking the window.
TEST_F(SettingsPanelTest, ExitWithThePanelOpenWritesTheTypedNumbers)
{
    build();
    open();
    type("Edit2", QStringLiteral("6100"));
    type("UpDown1", QStringLiteral("300"));
    ASSERT_TRUE(controller->shutDown());
    QFile ini(dir.filePath(QStringLiteral("zqnlist.Ini")));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray written = ini.readAll();
    EXPECT_TRUE(written.contains("PORT=6100\r\n")) << written.toStdString();
    EXPECT_TRUE(written.contains("LTIME=300\r\n")) << written.toStdString();
}

class FieldsBeforeOpening : public SettingsPanelTest,
                            public ::testing::WithParamInterface<Order> {};

TEST_P(FieldsBeforeOpening, AreTheLoadedRecordsNumbers)
{
    writeFile(QStringLiteral("zqnlist.Ini"), kFullIni);
    build(GetParam());
    EXPECT_EQ(controller->panelFields(), (app::PanelFields{"6001", "8080", 10}));
}

INSTANTIATE_TEST_SUITE_P(Orders, FieldsBeforeOpening,
                         ::testing::Values(Order::StartUpFirst,
                                           Order::WindowFirst),
                         [](const auto& info) {
                             return info.param == Order::StartUpFirst
                                        ? std::string("StartUpFirst")
                                        : std::string("WindowFirst");
                         });

struct ChooserCase {
    const char* name;
    const char* button;
    const char* field;
    const char* otherField;
    const char* initialName;
    const char* suffix;
};

void PrintTo(const ChooserCase& c, std::ostream* out)
{
    *out << c.name;
}

class PathChooser : public SettingsPanelTest, public ::testing::WithParamInterface<ChooserCase> {};

TEST_P(PathChooser, PutsAConfirmedPathIntoItsFieldOnly)
{
    const ChooserCase& c = GetParam();
    build();
    QStringList asked;
    QString answer;
    window->setSaveFileChooser([&](const QString& initialName, const QString& suffix) {
        asked << initialName + QLatin1Char('|') + suffix;
        return answer;
    });
    open();
    const QString otherBefore = find<QLineEdit>(c.otherField)->text();
    const QString fieldBefore = find<QLineEdit>(c.field)->text();
    const settings::Settings before = controller->settings();

    answer = QString(); // the dialog was cancelled
    find<QPushButton>(c.button)->click();
    EXPECT_EQ(find<QLineEdit>(c.field)->text(), fieldBefore);

    answer = QStringLiteral("/data/会場/chosen.%1").arg(QLatin1String(c.suffix));
    find<QPushButton>(c.button)->click();
    EXPECT_EQ(find<QLineEdit>(c.field)->text(), answer);
    EXPECT_EQ(find<QLineEdit>(c.otherField)->text(), otherBefore);
    EXPECT_EQ(controller->settings(), before) << "nothing changes until Apply";

    const QString expectedQuestion =
        QLatin1String(c.initialName) + QLatin1Char('|') + QLatin1String(c.suffix);
    EXPECT_EQ(asked, (QStringList{expectedQuestion, expectedQuestion}));
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, PathChooser,
    ::testing::Values(ChooserCase{"Csv", "BitBtn3", "Edit4", "Edit5", "zqnlist.csv", "csv"},
                      ChooserCase{"Html", "BitBtn5", "Edit5", "Edit4", "zqnlist.htm", "htm"}),
    [](const auto& info) { return std::string(info.param.name); });


TEST_F(SettingsPanelTest, ApplyRefusesATextItsFileCannotCarry)
{
    build();
    open();
    const settings::Settings before = controller->settings();
    type("Edit6", QStringLiteral("한국어"));
    apply();
    EXPECT_EQ(controller->state(), State::SettingsOpen) << "the panel stays open to mend the field";
    EXPECT_EQ(controller->settings(), before);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.front().startsWith(QStringLiteral("HTMLコメント"))) << errors.front().toStdString();
}

// A five-digit port is shown whole: the field's text area, inside its frame and margins, holds it.
TEST_F(SettingsPanelTest, PortFieldsShowFiveDigitsWhole)
{
    build();
    open();
    for (const char* name : {"Edit2", "Edit3"}) {
        auto* field = find<QLineEdit>(name);
        QStyleOptionFrame option;
        option.initFrom(field);
        option.rect = field->rect();
        option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field) : 0;
        const QRect text = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field) - field->textMargins();
        constexpr int kLineEditMargin = 2; // QLineEdit's own, on either side of its text
        EXPECT_GE(text.width() - 2 * kLineEditMargin, field->fontMetrics().horizontalAdvance(QStringLiteral("65535"))) << name;
    }
}

} // namespace
} // namespace zqn::ui::testing
