#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "app/monitor_controller.h"
#include "ui/error_reporting.h"
#include "ui/main_window.h"

namespace zqn::ui::testing {

// main builds the window before the settings are read; tests may do either.
enum class Order { StartUpFirst, WindowFirst };

// A controller and its window in a folder of their own, which is also the current directory
// (the settings' relative paths). Message boxes are replaced: errors are collected, the exit
// question gets a prepared answer, and opened pages are noted.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        previousErrorHandler = setErrorHandler([this](const QString& message) { errors << message; });
        // Port 0 lets Start bind a port of the system's choosing, so tests never collide.
        writeFile(QStringLiteral("zqnlist.Ini"), "[SYSTEM]\r\nPORT=0\r\n");
    }

    void TearDown() override
    {
        window.reset();
        controller.reset();
        setErrorHandler(previousErrorHandler);
        QDir::setCurrent(previousDir);
    }

    static void writeFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    void build(Order order = Order::StartUpFirst)
    {
        app::MonitorController::Options options;
        options.settingsPath = dir.filePath(QStringLiteral("zqnlist.Ini"));
        options.clock = [] { return text::LocalDateTime{2024, 5, 1, 9, 15, 30}; };
        options.scheduleDeferredStart = false; // tests run it when they mean to
        options.makerFolder = dir.path(); // a registry only where a test writes one
        controller = std::make_unique<app::MonitorController>(std::move(options));
        if (order == Order::StartUpFirst)
            controller->startUp();
        window = std::make_unique<MainWindow>(*controller);
        if (!askTheSystemForATray)
            window->setTrayAvailability([this] { return trayAvailable; });
        window->setExitConfirmer([this] {
            ++exitQuestions;
            return exitAnswer;
        });
        window->setPageOpener([this](const QString& path) {
            openedPages << path;
            return browserStarts;
        });
        if (order == Order::WindowFirst)
            controller->startUp();
    }

    template <typename Widget>
    Widget* find(const char* name) const
    {
        auto* widget = window->findChild<Widget*>(QLatin1String(name));
        if (!widget) // gtest reports the exception as this test's failure
            throw std::runtime_error(std::string("no child named ") + name);
        return widget;
    }

    QTemporaryDir dir;
    QString previousDir;
    ErrorHandler previousErrorHandler;
    std::unique_ptr<app::MonitorController> controller;
    std::unique_ptr<MainWindow> window;

    QStringList errors;
    QStringList openedPages;
    bool trayAvailable = true;
    bool browserStarts = true;
    bool askTheSystemForATray = false; // the offscreen platform has none
    bool exitAnswer = false;
    int exitQuestions = 0;
};

} // namespace zqn::ui::testing
