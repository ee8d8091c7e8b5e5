#pragma once

#include <QAbstractListModel>
#include <QTimer>

#include <vector>

namespace zqn::app {
class MonitorController;
}

namespace zqn::ui {

// The controller's device list as rows of text. The lines stay in the controller; the model
// keeps only its own row count, so that the views hear of an append before they see the row.
// Appends and renewals are gathered and passed on at most every refresh interval: a flood of
// announcements then costs the view one layout per refresh instead of one per datagram. Changed
// rows are told as runs of neighbours, so that a filter looks again only at what changed.
// Under a flood the refresh waits until the flood pauses, for at most kFloodPostponements
// intervals: the views' insert and layout cost in proportion to the whole list, and while they
// run the socket fills and drops what a flood sends.
class DeviceListModel : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 100;
    // Appends and renewals within one refresh interval that make a flood (10,000 a second).
    static constexpr int kFloodEvents = 1000;
    static constexpr int kFloodPostponements = 9; // a refresh at least every second

    explicit DeviceListModel(const app::MonitorController& controller, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Passes on what has been gathered since the last refresh, now.
    void refresh();

    // In bytes: a fixed-pitch font shows a double-byte character two columns wide.
    std::size_t widestLine() const { return widestLine_; }

signals:
    // The widest line grew: a view that sizes its rows once must lay them out again.
    void widestLineGrew();

private:
    void noteWidth(int row);
    void noteEvent();
    void onRefreshDue();
    void onDeviceAppended(int row);
    void onDeviceChanged(int row);
    void onDevicesReset();

    const app::MonitorController& controller_;
    int rowCount_ = 0;
    int appendedUpTo_ = 0; // rows the list holds, as far as appends have told
    std::vector<int> changedRows_;  // since the last refresh, each once
    std::vector<bool> changedMark_; // by row
    std::size_t widestLine_ = 0; // bytes
    bool widthGrew_ = false;
    int eventsThisInterval_ = 0;
    int postponements_ = 0; // of the refresh due, since the last one
    QTimer refreshTimer_{this};
};

} // namespace zqn::ui
