#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

#include "app/device_lines.h"
#include "app/device_notices.h"

namespace zqn::app {

// One journal entry, as NAME=value fields (MESSAGE and PRIORITY among them).
using JournalEntry = std::vector<QByteArray>;

// Tells new devices, and devices heard from another address, in the system's journal: one entry
// each at priority notice, with a fixed MESSAGE_ID per kind and the device in fields of its own,
// so that `journalctl MESSAGE_ID=…` selects them. Beyond a few entries of a kind within the
// notices' window, the rest are counted and one entry at the window's end names how many: a
// flood makes a bounded number of entries.
class DeviceJournal : public QObject {
    Q_OBJECT

public:
    enum class Kind { added, moved };
    static constexpr int kEntriesPerWindow = 5;
    static constexpr const char* kNewDeviceId = "0c0e2e70ad5c4d0faae64e08f43d8d25";
    static constexpr const char* kDeviceMovedId = "e1ee35e50ccd4c0fa6cb807e6d2b214b";

    using Sender = std::function<void(const JournalEntry&)>;
    explicit DeviceJournal(Sender send, int windowMs = DeviceNotices::kDefaultWindowMs, QObject* parent = nullptr);
    // Tells the count of a window cut short by the end.
    ~DeviceJournal() override;

    // Counts an event of kind; true when it gets an entry of its own, to be told next. Asking
    // first spares a flood the building of entries nobody reads.
    bool admits(Kind kind);
    void tellAppended(const DeviceText& device, const QString& maker);
    void tellMoved(const DeviceText& device, const QString& previousIp);

private:
    void flush();

    Sender send_;
    QTimer window_;
    int counted_[2] = {0, 0};
};

// Sends to the journal; where there is none, writes the entry's MESSAGE as one line on stderr.
DeviceJournal::Sender journalOrStderr();

// Whether the program's lines reach the journal: systemd started it, or stderr is the journal's
// stream.
bool loggingToJournal();

} // namespace zqn::app
