#include "app/device_journal.h"

#include <QCoreApplication>

#include <cstdio>

#include "app/message_text.h"
#include "app/platform.h"

namespace zqn::app {

namespace messages = text::messages;

namespace {

QByteArray field(const char* name, const QString& value)
{
    return QByteArray(name) + '=' + value.toUtf8();
}

JournalEntry entryOf(const char* messageId, const QString& message)
{
    return {QByteArray("MESSAGE_ID=") + messageId, QByteArrayLiteral("PRIORITY=5"),
            field("SYSLOG_IDENTIFIER", QCoreApplication::applicationName()), field("MESSAGE", message)};
}

// The line without the fields: a name and a maker follow the address.
QString readable(QString message, const QString& name, const QString& maker)
{
    if (!name.isEmpty())
        message += QLatin1Char(' ') + name;
    if (!maker.isEmpty())
        message += QStringLiteral(" [%1]").arg(maker);
    return message;
}

} // namespace

DeviceJournal::DeviceJournal(Sender send, int windowMs, QObject* parent)
    : QObject(parent)
    , send_(std::move(send))
{
    window_.setSingleShot(true);
    window_.setInterval(windowMs);
    connect(&window_, &QTimer::timeout, this, &DeviceJournal::flush);
}

DeviceJournal::~DeviceJournal()
{
    flush();
}

bool DeviceJournal::admits(Kind kind)
{
    if (!window_.isActive())
        window_.start();
    return ++counted_[static_cast<int>(kind)] <= kEntriesPerWindow;
}

void DeviceJournal::tellAppended(const DeviceText& device, const QString& maker)
{
    JournalEntry entry = entryOf(
        kNewDeviceId, readable(messageText(messages::kJournalNewDevice).arg(device.mac, device.ip), device.name, maker));
    entry.push_back(field("ZQN_MAC", device.mac));
    entry.push_back(field("ZQN_IP", device.ip));
    if (!device.name.isEmpty())
        entry.push_back(field("ZQN_NAME", device.name));
    if (!maker.isEmpty())
        entry.push_back(field("ZQN_MAKER", maker));
    send_(entry);
}

void DeviceJournal::tellMoved(const DeviceText& device, const QString& previousIp)
{
    JournalEntry entry =
        entryOf(kDeviceMovedId, readable(messageText(messages::kJournalDeviceMoved).arg(device.mac, previousIp, device.ip),
                                         device.name, {}));
    entry.push_back(field("ZQN_MAC", device.mac));
    entry.push_back(field("ZQN_IP", device.ip));
    entry.push_back(field("ZQN_OLD_IP", previousIp));
    if (!device.name.isEmpty())
        entry.push_back(field("ZQN_NAME", device.name));
    send_(entry);
}

void DeviceJournal::flush()
{
    const auto summarise = [this](Kind kind, const char* messageId, std::string_view text) {
        const int beyond = counted_[static_cast<int>(kind)] - kEntriesPerWindow;
        if (beyond <= 0)
            return;
        JournalEntry entry = entryOf(messageId, messageText(text).arg(beyond));
        entry.push_back(field("ZQN_COUNT", QString::number(beyond)));
        send_(entry);
    };
    summarise(Kind::added, kNewDeviceId, messages::kJournalMoreNewDevices);
    summarise(Kind::moved, kDeviceMovedId, messages::kJournalMoreMoves);
    counted_[0] = counted_[1] = 0;
}

DeviceJournal::Sender journalOrStderr()
{
    return [toJournal = loggingToJournal(), marked = stderrIsJournalStream()](const JournalEntry& entry) {
        if (toJournal && sendToJournal(entry))
            return;
        for (const QByteArray& f : entry) {
            if (f.startsWith("MESSAGE=")) {
                // "<5>": notice, where stderr is the journal's stream after all.
                std::fprintf(stderr, "%s%s\n", marked ? "<5>" : "", f.constData() + 8);
                std::fflush(stderr);
            }
        }
    };
}

bool loggingToJournal()
{
    return stderrIsJournalStream() || !qEnvironmentVariableIsEmpty("INVOCATION_ID");
}

} // namespace zqn::app
