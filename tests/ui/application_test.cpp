#include <QEvent>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "support/eventually.h"

#include <stdexcept>

#include "ui/error_reporting.h"

namespace zqn::ui {
namespace {

// Throws whatever it is told to when it receives a user event.
class ThrowingObject : public QObject {
public:
    std::function<void()> onUserEvent;
    int userEvents = 0;

    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++userEvents;
        if (onUserEvent)
            onUserEvent();
        return true;
    }
};

class ApplicationTest : public testing::Test {
protected:
    void SetUp() override
    {
        previous = setErrorHandler([this](const QString& message) { messages << message; });
    }
    void TearDown() override { setErrorHandler(previous); }

    ErrorHandler previous;
    QStringList messages;
};

TEST_F(ApplicationTest, AnExceptionFromAHandlerBecomesOneErrorMessage)
{
    ThrowingObject target;
    target.onUserEvent = [] { throw std::runtime_error("ファイル list.csv は開けません"); };
    QEvent event(QEvent::User);

    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event));
    EXPECT_EQ(messages, QStringList{QStringLiteral("ファイル list.csv は開けません")});

    target.onUserEvent = nullptr;
    EXPECT_TRUE(QCoreApplication::sendEvent(&target, &event)) << "later events still arrive";
    EXPECT_EQ(target.userEvents, 2);
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(ApplicationTest, AnExceptionOfAnyOtherTypeIsShownToo)
{
    ThrowingObject target;
    target.onUserEvent = [] { throw 42; };
    QEvent event(QEvent::User);

    QCoreApplication::sendEvent(&target, &event);

    EXPECT_EQ(messages, QStringList{QStringLiteral("予期しないエラーが発生しました。")});
}

TEST_F(ApplicationTest, TheEventLoopGoesOnAfterASlotThrows)
{
    bool laterTimerRan = false;
    QTimer::singleShot(0, qApp, [] { throw std::runtime_error("broken"); });
    QTimer::singleShot(0, qApp, [&] { laterTimerRan = true; });

    ASSERT_EVENTUALLY(laterTimerRan);
    EXPECT_EQ(messages, QStringList{QStringLiteral("broken")});
}

} // namespace
} // namespace zqn::ui

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    zqn::ui::Application app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
