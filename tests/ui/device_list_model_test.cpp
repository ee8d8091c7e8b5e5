#include <QAbstractItemModel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "support/announcements.h"
#include "support/eventually.h"
#include "ui/device_list_model.h"
#include "window_fixture.h"

namespace zqn::ui::testing {
namespace {

using zqn::test::announcement;

// The list view's model, as the user sees the device list.
class DeviceListModelTest : public WindowFixture {
protected:
    QAbstractItemModel* model() { return window->findChild<DeviceListModel*>(); }
    QString row(int index) { return model()->index(index, 0).data().toString(); }
    void hear(quint8 lastOctet, const char* fromIp)
    {
        controller->handleDatagram(announcement(lastOctet), QByteArrayView(fromIp));
    }
};

TEST_F(DeviceListModelTest, NewDevicesAreInsertedTogetherAtTheNextRefresh)
{
    build();
    QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy resets(model(), &QAbstractItemModel::modelReset);

    hear(0x01, "10.0.0.1");
    hear(0x02, "10.0.0.2");
    EXPECT_EQ(model()->rowCount(), 0) << "shown before the refresh";

    ASSERT_EVENTUALLY(model()->rowCount() == 2);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 1);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(row(0), QStringLiteral("02:C3:D7:00:00:01,10.0.0.1,2024/05/01,09:15:30,noname"));
    EXPECT_EQ(row(1), QStringLiteral("02:C3:D7:00:00:02,10.0.0.2,2024/05/01,09:15:30,noname"));
}

TEST_F(DeviceListModelTest, RenewedDevicesChangeOnlyTheirRows)
{
    build();
    for (quint8 octet = 1; octet <= 5; ++octet)
        hear(octet, "10.0.0.1");
    auto* deviceModel = static_cast<DeviceListModel*>(model());
    deviceModel->refresh();
    QSignalSpy changed(model(), &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy resets(model(), &QAbstractItemModel::modelReset);

    hear(0x02, "10.0.0.9");
    hear(0x03, "10.0.0.9");
    ASSERT_EVENTUALLY(changed.count() == 1);

    EXPECT_EQ(changed.at(0).at(0).toModelIndex().row(), 1);
    EXPECT_EQ(changed.at(0).at(1).toModelIndex().row(), 2);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(model()->rowCount(), 5);
    EXPECT_EQ(row(1), QStringLiteral("02:C3:D7:00:00:02,10.0.0.9,2024/05/01,09:15:30,noname"));
}

// A device heard again before its row was shown needs no change notice: the insert shows it.
TEST_F(DeviceListModelTest, ADeviceRenewedBeforeItsInsertIsShownOnce)
{
    build();
    QSignalSpy changed(model(), &QAbstractItemModel::dataChanged);
    hear(0x01, "10.0.0.1");
    hear(0x01, "10.0.0.2");
    static_cast<DeviceListModel*>(model())->refresh();
    EXPECT_EQ(changed.count(), 0);
    ASSERT_EQ(model()->rowCount(), 1);
    EXPECT_EQ(row(0), QStringLiteral("02:C3:D7:00:00:01,10.0.0.2,2024/05/01,09:15:30,noname"));
}

// A flood is shown once it pauses, or every tenth refresh interval while it goes on.
TEST_F(DeviceListModelTest, AFloodIsInsertedOnceItPausesOrAfterTenIntervals)
{
    build();
    auto* timer = model()->findChild<QTimer*>(QStringLiteral("refreshTimer"));
    ASSERT_NE(timer, nullptr);
    QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy due(timer, &QTimer::timeout);
    quint32 heard = 0;
    const auto flood = [&] {
        for (int i = 0; i < DeviceListModel::kFloodEvents; ++i)
            controller->handleDatagram(announcement(++heard), QByteArrayView("10.0.0.1"));
    };

    flood();
    ASSERT_TRUE(due.wait());
    EXPECT_EQ(model()->rowCount(), 0) << "shown during the flood";
    ASSERT_TRUE(due.wait());
    EXPECT_EQ(model()->rowCount(), DeviceListModel::kFloodEvents) << "not shown when it paused";
    EXPECT_EQ(inserted.count(), 1);

    for (int interval = 1; interval <= DeviceListModel::kFloodPostponements; ++interval) {
        flood();
        ASSERT_TRUE(due.wait());
        ASSERT_EQ(model()->rowCount(), DeviceListModel::kFloodEvents) << "shown in interval " << interval;
    }
    flood();
    ASSERT_TRUE(due.wait());
    EXPECT_EQ(model()->rowCount(), static_cast<int>(heard));
    EXPECT_EQ(inserted.count(), 2);
}

TEST_F(DeviceListModelTest, LinesFromTheCsvFileShowTheirJapaneseNames)
{
    // 受付 in code page 932, as a hand-edited device list carries it.
    writeFile(QStringLiteral("zqnlist.csv"),
              "02:C3:D7:00:00:01,10.0.0.1,2024/04/30,08:00:00,\x8E\xF3\x95\x74\r\n"
              "02:C3:D7:00:00:02,10.0.0.2,2024/04/30,08:00:01,noname\r\n");
    build(Order::WindowFirst);
    ASSERT_EQ(model()->rowCount(), 2);
    EXPECT_EQ(row(0), QStringLiteral("02:C3:D7:00:00:01,10.0.0.1,2024/04/30,08:00:00,受付"));

    hear(0x01, "10.0.0.7");
    static_cast<DeviceListModel*>(model())->refresh();
    EXPECT_EQ(row(0), QStringLiteral("02:C3:D7:00:00:01,10.0.0.7,2024/05/01,09:15:30,受付"));
}

TEST_F(DeviceListModelTest, StartReloadingTheCsvFileResetsTheRows)
{
    build();
    hear(0x01, "10.0.0.1");
    writeFile(QStringLiteral("zqnlist.csv"),
              "02:C3:D7:00:00:05,10.0.0.5,2024/04/30,08:00:00,a\r\n"
              "02:C3:D7:00:00:06,10.0.0.6,2024/04/30,08:00:00,b\r\n"
              "02:C3:D7:00:00:07,10.0.0.7,2024/04/30,08:00:00,c\r\n");
    QSignalSpy resets(model(), &QAbstractItemModel::modelReset);

    find<QPushButton>("BitBtn1")->click();

    EXPECT_EQ(resets.count(), 1);
    ASSERT_EQ(model()->rowCount(), 3);
    EXPECT_EQ(row(2), QStringLiteral("02:C3:D7:00:00:07,10.0.0.7,2024/04/30,08:00:00,c"));
}

struct ToolTipCase {
    const char* name;
    const char* folder; // of the registry: "." the test's folder, "none" no registry
    QByteArray line;
    const char* toolTip;
};

void PrintTo(const ToolTipCase& c, std::ostream* out)
{
    *out << c.name;
}

class ToolTip : public WindowFixture, public ::testing::WithParamInterface<ToolTipCase> {};

// The clock stands at 2024/05/01 09:15:30.
TEST_P(ToolTip, NamesTheMakerAndWhenTheDeviceWasLastHeard)
{
    if (std::string_view(GetParam().folder) == ".")
        writeFile(QStringLiteral("oui.csv"), "MA-L,02C3D7,Test Maker,x\n");
    writeFile(QStringLiteral("zqnlist.csv"), GetParam().line + "\r\n");
    build();
    QAbstractItemModel* model = window->findChild<DeviceListModel*>();
    EXPECT_EQ(model->index(0, 0).data(Qt::ToolTipRole).toString(), QString::fromUtf8(GetParam().toolTip));
    EXPECT_EQ(errors.count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolTip,
    ::testing::Values(
        ToolTipCase{"minutes", ".", test::macOf(1) + ",10.0.0.1,2024/05/01,09:12:30,a",
                    "メーカー: Test Maker\n最終受信: 2024/05/01 09:12:30 (3分前)"},
        ToolTipCase{"days", ".", test::macOf(1) + ",10.0.0.1,2024/04/28,10:00:00,a",
                    "メーカー: Test Maker\n最終受信: 2024/04/28 10:00:00 (2日前)"},
        ToolTipCase{"no_registry", "none", test::macOf(1) + ",10.0.0.1,2024/05/01,09:15:00,a", "最終受信: 2024/05/01 09:15:00 (30秒前)"},
        ToolTipCase{"later_than_the_clock", ".", "0A:00:00:00:00:01,10.0.0.1,2024/05/02,09:00:00,a",
                    "最終受信: 2024/05/02 09:00:00"},
        ToolTipCase{"no_time", ".", test::macOf(1) + ",10.0.0.1", "メーカー: Test Maker"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::ui::testing
