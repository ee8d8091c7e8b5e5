#pragma once

#include <QAbstractListModel>

namespace zqn::app {
class MonitorController;
}

namespace zqn::ui {

// The controller's device list as rows of text. The lines stay in the controller; the model
// keeps only its own row count, so that the views hear of an append before they see the row.
class DeviceListModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit DeviceListModel(const app::MonitorController& controller, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void onDeviceAppended(int row);
    void onDeviceChanged(int row);
    void onDevicesReset();

    const app::MonitorController& controller_;
    int rowCount_ = 0;
};

} // namespace zqn::ui
