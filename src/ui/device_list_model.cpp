#include "ui/device_list_model.h"

#include <algorithm>
#include <utility>

#include "app/monitor_controller.h"
#include "storage/cp932_codec.h"

namespace zqn::ui {

namespace {

std::size_t widestOf(const text::Lines& lines)
{
    std::size_t widest = 0;
    for (const auto& line : lines)
        widest = std::max(widest, line.size());
    return widest;
}

QString agoText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1秒前").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1分前").arg(seconds / 60);
    if (seconds < 86400)
        return QStringLiteral("%1時間前").arg(seconds / 3600);
    return QStringLiteral("%1日前").arg(seconds / 86400);
}

// The maker and when the device was last heard, and how long ago; a line it cannot tell is left out.
QString toolTipOf(const app::MonitorController::Details& details)
{
    QStringList lines;
    if (!details.maker.isEmpty())
        lines << QStringLiteral("メーカー: %1").arg(details.maker);
    if (details.heard.isValid()) {
        QString line = QStringLiteral("最終受信: %1").arg(details.heard.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
        if (const qint64 seconds = details.heard.secsTo(details.now); seconds >= 0)
            line += QStringLiteral(" (%1)").arg(agoText(seconds));
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

DeviceListModel::DeviceListModel(const app::MonitorController& controller, QObject* parent)
    : QAbstractListModel(parent)
    , controller_(controller)
    , rowCount_(static_cast<int>(controller.devices().count()))
    , appendedUpTo_(rowCount_)
    , widestLine_(widestOf(controller.devices().lines()))
{
    refreshTimer_.setObjectName(QStringLiteral("refreshTimer"));
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(kRefreshIntervalMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &DeviceListModel::onRefreshDue);
    connect(&controller, &app::MonitorController::deviceAppended, this,
            &DeviceListModel::onDeviceAppended);
    connect(&controller, &app::MonitorController::deviceChanged, this,
            &DeviceListModel::onDeviceChanged);
    connect(&controller, &app::MonitorController::devicesReset, this,
            &DeviceListModel::onDevicesReset);
}

int DeviceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rowCount_;
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const
{
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() || index.row() >= rowCount_)
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= controller_.devices().count())
        return {};
    if (role == Qt::ToolTipRole)
        return toolTipOf(controller_.details(index.row()).value_or(app::MonitorController::Details{}));
    return storage::fromCp932(controller_.devices().line(row));
}

void DeviceListModel::onRefreshDue()
{
    if (std::exchange(eventsThisInterval_, 0) >= kFloodEvents && postponements_ < kFloodPostponements) {
        ++postponements_;
        refreshTimer_.start();
        return;
    }
    refresh();
}

void DeviceListModel::noteEvent()
{
    ++eventsThisInterval_;
    if (!refreshTimer_.isActive())
        refreshTimer_.start();
}

void DeviceListModel::refresh()
{
    refreshTimer_.stop();
    eventsThisInterval_ = 0;
    postponements_ = 0;
    if (appendedUpTo_ > rowCount_) {
        beginInsertRows({}, rowCount_, appendedUpTo_ - 1);
        rowCount_ = appendedUpTo_;
        endInsertRows();
    }
    std::sort(changedRows_.begin(), changedRows_.end());
    for (std::size_t first = 0; first < changedRows_.size();) {
        std::size_t last = first;
        while (last + 1 < changedRows_.size() && changedRows_[last + 1] == changedRows_[last] + 1)
            ++last;
        emit dataChanged(index(changedRows_[first]), index(changedRows_[last]), {Qt::DisplayRole});
        first = last + 1;
    }
    for (const int row : changedRows_)
        changedMark_[static_cast<std::size_t>(row)] = false;
    changedRows_.clear();
    if (std::exchange(widthGrew_, false))
        emit widestLineGrew();
}

void DeviceListModel::noteWidth(int row)
{
    const auto& devices = controller_.devices();
    if (row < 0 || static_cast<std::size_t>(row) >= devices.count())
        return;
    const std::size_t width = devices.line(static_cast<std::size_t>(row)).size();
    if (width > widestLine_) {
        widestLine_ = width;
        widthGrew_ = true;
    }
}

void DeviceListModel::onDeviceAppended(int row)
{
    appendedUpTo_ = std::max(appendedUpTo_, row + 1);
    noteWidth(row);
    noteEvent();
}

void DeviceListModel::onDeviceChanged(int row)
{
    noteWidth(row);
    if (row < 0 || row >= rowCount_)
        return; // not shown yet: the coming insert shows its current text
    const auto at = static_cast<std::size_t>(row);
    if (at >= changedMark_.size())
        changedMark_.resize(static_cast<std::size_t>(rowCount_));
    if (!changedMark_[at]) {
        changedMark_[at] = true;
        changedRows_.push_back(row);
    }
    noteEvent();
}

void DeviceListModel::onDevicesReset()
{
    refreshTimer_.stop();
    eventsThisInterval_ = 0;
    postponements_ = 0;
    beginResetModel();
    rowCount_ = appendedUpTo_ = static_cast<int>(controller_.devices().count());
    changedRows_.clear();
    changedMark_.clear();
    widestLine_ = widestOf(controller_.devices().lines());
    widthGrew_ = false;
    endResetModel();
}

} // namespace zqn::ui
