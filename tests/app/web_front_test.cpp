#include "app/monitor_controller.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "web/endpoint.h"

namespace zqn::app {
namespace {

// A port nobody holds: the test's own server's, closed again.
quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct WebCase {
    const char* name;
    QString value; // {free}: a free port, {held}: one already taken
    bool listens;
    QString problem; // in the status tooltip and the one failure notice; empty for none
    QString words;   // in the status
};

class WebSetting : public testing::TestWithParam<WebCase> {};

TEST_P(WebSetting, ListensOrSaysWhyAndMonitoringGoesOn)
{
    QTemporaryDir dir;
    // Held the way the library binds, so that no socket option lets both in.
    web::Endpoint holder([] { return web::Metrics{}; });
    ASSERT_EQ(holder.listen(QStringLiteral("127.0.0.1"), 0, false, {}), QString());
    const quint16 free = freeTcpPort();
    const QString held = QString::number(holder.port());
    const QString value = QString(GetParam().value).replace("{free}", QString::number(free)).replace("{held}", held);
    QFile ini(dir.filePath("zqnlist.Ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[SYSTEM]\r\nPORT=0\r\nWEB=%1\r\n[DATA]\r\nCSV=%2\r\nHTML=%3\r\n")
                  .arg(value, dir.filePath("z.csv"), dir.filePath("z.htm"))
                  .toUtf8());
    ini.close();

    MonitorController::Options options;
    options.settingsPath = ini.fileName();
    options.scheduleDeferredStart = false;
    MonitorController c(options);
    QSignalSpy failures(&c, &MonitorController::webFailed);
    c.startUp();

    EXPECT_EQ(c.webPort(), GetParam().listens ? free : 0);
    const QString problem = QString(GetParam().problem).replace("{held}", held);
    ASSERT_EQ(failures.count(), problem.isEmpty() ? 0 : 1);
    if (!problem.isEmpty()) {
        EXPECT_TRUE(failures.at(0).at(0).toString().contains(problem)) << failures.at(0).at(0).toString().toStdString();
        EXPECT_TRUE(c.statusDetail().contains(problem)) << c.statusDetail().toStdString();
        EXPECT_EQ(c.statusText(), QStringLiteral("停止中 ") + QString(GetParam().words).replace("{held}", held).replace("{free}", QString::number(free)));
    }
    c.start();
    EXPECT_EQ(c.state(), MonitorController::State::Running);
    EXPECT_EQ(c.runStatus(), QStringLiteral("開始中"));
    c.shutDown();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WebSetting,
    testing::Values(WebCase{"missing_is_off", QString(), false, {}, {}},
                    WebCase{"zero_is_off", QStringLiteral("0"), false, {}, {}},
                    WebCase{"one_address", QStringLiteral("127.0.0.1:{free}"), true, {}, {}},
                    WebCase{"bad_value", QStringLiteral("12x"), false, QStringLiteral("WEB=12x は使えません: the port"),
                            QStringLiteral("WEB=12x は使えません")},
                    WebCase{"not_an_address", QStringLiteral("localhost:{free}"), false, QStringLiteral("not an IP address"),
                            QStringLiteral("WEB=localhost:{free}: ポート {free} を開けません: localhost is not an IP address")},
                    WebCase{"port_held", QStringLiteral("127.0.0.1:{held}"), false, QStringLiteral("ポート {held} を開けません"),
                            QStringLiteral("WEB: ポートは使用中")}),
    [](const testing::TestParamInfo<WebCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::app
