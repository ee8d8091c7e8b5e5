#pragma once

#include <QWidget>

#include <functional>

#include "app/panel_fields.h"
#include "settings/settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace zqn::ui {

// The fields that edit the settings record. It only holds what is typed and tells of its number
// fields as they change; the window decides when the record is read into it and when its
// contents become the record.
class SettingsPanel : public QWidget {
    Q_OBJECT

public:
    // Returns the chosen file's full native name, or an empty text when the user cancels.
    using SaveFileChooser =
        std::function<QString(const QString& initialName, const QString& defaultSuffix)>;

    explicit SettingsPanel(QWidget* parent = nullptr);

    // Every field from the record.
    void showSettings(const settings::Settings& record);
    // Only the three number fields, as at start-up.
    void showPanelFields(const app::PanelFields& fields);

    // The record the fields describe: a port that is not a whole number gives its default.
    settings::Settings editedSettings() const;
    // The number fields as they stand, typed text included.
    app::PanelFields panelFields() const;
    // The label of the first text field holding a character its file cannot carry (code page
    // 932), or an empty text.
    QString unencodableField() const;

    void setSaveFileChooser(SaveFileChooser chooser);

signals:
    // The number fields changed, by typing or by being filled.
    void panelFieldsChanged(const zqn::app::PanelFields& fields);
    void applyRequested();
    void cancelRequested();

private:
    void choosePath(QLineEdit* field, const QString& initialName, const QString& defaultSuffix);

    QLineEdit* udpPortEdit_ = nullptr;
    QLineEdit* httpPortEdit_ = nullptr;
    QSpinBox* intervalSpin_ = nullptr;
    QLabel* csvPathLabel_ = nullptr;
    QLabel* htmlPathLabel_ = nullptr;
    QLabel* headingLabel_ = nullptr;
    QLineEdit* csvPathEdit_ = nullptr;
    QLineEdit* htmlPathEdit_ = nullptr;
    QLineEdit* headingEdit_ = nullptr;
    QCheckBox* autoStartBox_ = nullptr;
    QCheckBox* startHiddenBox_ = nullptr;
    SaveFileChooser chooseSaveFile_;
};

} // namespace zqn::ui
