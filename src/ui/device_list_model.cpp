#include "ui/device_list_model.h"

#include "app/monitor_controller.h"
#include "storage/file_store.h"

namespace zqn::ui {

DeviceListModel::DeviceListModel(const app::MonitorController& controller, QObject* parent)
    : QAbstractListModel(parent)
    , controller_(controller)
    , rowCount_(static_cast<int>(controller.devices().count()))
{
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
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount_)
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= controller_.devices().count())
        return {};
    return storage::fromCp932(controller_.devices().line(row));
}

void DeviceListModel::onDeviceAppended(int row)
{
    if (row < rowCount_) {
        // Already counted, e.g. by a reset that came first: only its text can be new.
        onDeviceChanged(row);
        return;
    }
    beginInsertRows({}, rowCount_, row);
    rowCount_ = row + 1;
    endInsertRows();
}

void DeviceListModel::onDeviceChanged(int row)
{
    if (row < 0 || row >= rowCount_)
        return;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void DeviceListModel::onDevicesReset()
{
    beginResetModel();
    rowCount_ = static_cast<int>(controller_.devices().count());
    endResetModel();
}

} // namespace zqn::ui
