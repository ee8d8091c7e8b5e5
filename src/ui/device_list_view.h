#pragma once

#include <QListView>
#include <QUrl>

#include <functional>
#include <optional>

class QAction;
class QMenu;

namespace zqn::app {
class MonitorController;
}

namespace zqn::ui {

class DeviceListModel;

// The device list as the user works with it: one line per device, its context menu, Enter to
// open a device and Ctrl+C to copy lines. What it does to a device it asks of the controller.
// The rows it hands out are rows of the controller's list, also when it shows a filtered model.
class DeviceListView : public QListView {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QUrl& url)>;
    using NameAsker = std::function<std::optional<QString>(const QString& currentName)>;

    DeviceListView(app::MonitorController& controller, DeviceListModel& lines, QWidget* parent = nullptr);

    // Replaceable for tests: the shell's open of a device and the rename dialog.
    void setUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
    void setNameAsker(NameAsker asker) { askName_ = std::move(asker); }

    // The selected lines, in list order, or the one under the context menu.
    QList<int> selectedRows() const;
    int currentRow() const;

    void openDevice(int row);
    void copyLines();
    void renameDevice(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Device lines change in place and share one size, so a change needs only a repaint;
    // QListView would lay out every row again for each change, which a list of 65,536 devices
    // cannot afford. A line that grows the widest width is laid out through widestLineGrew.
    void dataChanged(const QModelIndex&, const QModelIndex&, const QList<int>&) override { viewport()->update(); }

private:
    int sourceRow(const QModelIndex& index) const;

    app::MonitorController& controller_;
    DeviceListModel& lines_;
    QMenu* menu_ = nullptr;
    QAction* renameAction_ = nullptr;
    UrlOpener openUrl_;
    NameAsker askName_;
};

} // namespace zqn::ui
