#pragma once

#include <QListView>
#include <QSortFilterProxyModel>
#include <QUrl>

#include <functional>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;

namespace zqn::app {
class MonitorController;
}

namespace zqn::ui {

class DeviceListModel;

// The device lines that contain a text: ASCII letters in either case, Japanese as it is. The
// text is looked for in the lines' own code page 932 bytes, so that no line is decoded to be
// looked at. Lines that change or arrive are looked at as they come.
class DeviceFilterModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    DeviceFilterModel(const app::MonitorController& controller, DeviceListModel& lines, QObject* parent = nullptr);

    // An empty text shows every line; a text no line can hold (outside code page 932) shows none.
    void setText(const QString& text);
    bool isFiltering() const { return filtering_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    const app::MonitorController& controller_;
    std::optional<std::string> needle_; // code page 932; nothing when the text has no such form
    bool filtering_ = false;
};

// The device list as the user works with it: one line per device, its context menu, Enter to
// open a device, Ctrl+C to copy lines and Ctrl+F to find lines. What it does to a device it asks
// of the controller. The rows it hands out are rows of the controller's list, also while a find
// shows only some of them.
class DeviceListView : public QListView {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl& url)>;
    using NameAsker = std::function<std::optional<QString>(const QString& currentName)>;

    DeviceListView(app::MonitorController& controller, DeviceListModel& lines, QWidget* parent = nullptr);

    // Replaceable where nobody is there to answer: the shell's open of a device, the rename dialog.
    void setUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
    void setNameAsker(NameAsker asker) { askName_ = std::move(asker); }

    DeviceFilterModel& filter() { return *filter_; }

    // The window's own commands, offered after the list's in the context menu, which then opens
    // on an empty list too.
    void addWindowActions(const QList<QAction*>& actions);

    // The selected lines, in list order, or the one under the context menu.
    QList<int> selectedRows() const;
    int currentRow() const;

    void openDevice(int row);
    void copyLines();
    void renameDevice(int row);

signals:
    void findRequested();
    // The shell found nothing to open the device's page with.
    void openFailed(const QUrl& url);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Device lines change in place and share one size, so a change needs only a repaint;
    // QListView would lay out every row again for each change, which a list of 65,536 devices
    // cannot afford. A line that grows the widest width is laid out through widestLineGrew.
    void dataChanged(const QModelIndex&, const QModelIndex&, const QList<int>&) override { viewport()->update(); }

private:
    int sourceRow(const QModelIndex& index) const;
    // The MAC or IP address of every selected device line, a line each.
    void copyAddresses(bool ip);

    app::MonitorController& controller_;
    DeviceListModel& lines_;
    DeviceFilterModel* filter_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* renameAction_ = nullptr;
    QList<QAction*> deviceActions_; // need a line under the click
    UrlOpener openUrl_;
    NameAsker askName_;
};

// The list and, below it once asked for, the find field with its count ("12 / 40,000"). Until
// then it looks like the list alone. Esc empties the field and hides it.
class DeviceListPane : public QWidget {
    Q_OBJECT

public:
    DeviceListPane(app::MonitorController& controller, DeviceListModel& lines, QWidget* parent = nullptr);

    DeviceListView* view() const { return view_; }

    void showFind();
    void closeFind();

private:
    void showCount();

    DeviceListView* view_ = nullptr;
    QWidget* findBar_ = nullptr;
    QLineEdit* findEdit_ = nullptr;
    QLabel* findCount_ = nullptr;
};

} // namespace zqn::ui
