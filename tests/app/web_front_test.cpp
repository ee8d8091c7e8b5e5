#include "app/monitor_wiring.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
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
    QString value; // {free}: a free port, {held}: one already taken, {held6}: one taken on IPv6 only
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
    web::Endpoint holder6([] { return web::Metrics{}; });
    if (GetParam().value.contains("{held6}") && !holder6.listen(QStringLiteral("::1"), 0, false, {}).isEmpty()) {
        if (qgetenv("CI") == "true")
            FAIL() << "no IPv6 loopback";
        GTEST_SKIP() << "no IPv6 loopback";
    }
    const quint16 free = freeTcpPort();
    const QString held = QString::number(holder.port());
    const QString held6 = QString::number(holder6.port());
    const QString value = QString(GetParam().value)
                              .replace("{free}", QString::number(free))
                              .replace("{held6}", held6)
                              .replace("{held}", held);
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
    c.startUp();
    QString told;
    const auto front = openWebFront(c, told);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, free);
    EXPECT_EQ(client.waitForConnected(10000), GetParam().listens) << client.errorString().toStdString();
    EXPECT_EQ(front != nullptr, GetParam().listens);
    const QString problem = QString(GetParam().problem).replace("{held6}", held6).replace("{held}", held);
    ASSERT_EQ(told.isEmpty(), problem.isEmpty()) << told.toStdString();
    if (!problem.isEmpty()) {
        EXPECT_TRUE(told.contains(problem)) << told.toStdString();
        EXPECT_TRUE(c.statusDetail().contains(problem)) << c.statusDetail().toStdString();
        const QString words =
            QString(GetParam().words).replace("{held6}", held6).replace("{held}", held).replace("{free}", QString::number(free));
        EXPECT_EQ(c.statusText(), QStringLiteral("停止中 ") + words);
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
                    WebCase{"bad_value", QStringLiteral("12x"), false, QStringLiteral("WEB=12x は使えません: ポートは 1 から 65535"),
                            QStringLiteral("WEB=12x は使えません")},
                    WebCase{"not_an_address", QStringLiteral("localhost:{free}"), false, QStringLiteral("not an IP address"),
                            QStringLiteral("WEB=localhost:{free}: ポート {free} は開けません: localhost is not an IP address")},
                    WebCase{"port_held", QStringLiteral("127.0.0.1:{held}"), false, QStringLiteral("ポート {held} は開けません"),
                            QStringLiteral("WEB: ポートは使用中")},
                    // Every address: not IPv4 alone when IPv6 is there but its port is taken.
                    WebCase{"port_held_on_ipv6", QStringLiteral("{held6}"), false,
                            QStringLiteral("ポート {held6} は開けません: Failed to bind to port {held6}: Address already in use"),
                            QStringLiteral("WEB: ポートは使用中")}),
    [](const testing::TestParamInfo<WebCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::app
