#pragma once

#include <QDeadlineTimer>
#include <QTest>

#include <gtest/gtest.h>

namespace zqn::test {

// Runs the event loop until the condition holds or the time is up. QtTest's QTRY_ macros report
// to QtTest, not to GoogleTest, so a failure there would pass silently.
template <class Condition>
bool eventually(Condition condition, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace zqn::test

#define ASSERT_EVENTUALLY(condition) \
    ASSERT_TRUE(::zqn::test::eventually([&] { return static_cast<bool>(condition); })) << "never became true: " #condition
