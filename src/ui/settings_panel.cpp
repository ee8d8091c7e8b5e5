#include "ui/settings_panel.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "storage/cp932_codec.h"
#include "zqnlist_version.h"
#include "ui/placement.h"

namespace zqn::ui {

namespace {

QString nativeSaveFileName(QWidget* parent, const QString& initialName,
                           const QString& defaultSuffix)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    // Choosing writes nothing; the file is only replaced at the next save.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

} // namespace

SettingsPanel::SettingsPanel(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Panel2"));

    auto* group = place(new QGroupBox(QStringLiteral("設定"), this), "GroupBox1", 8, 8, 566, 321);

    addLabel(group, "Label1", QStringLiteral("Port:"), 16, 28);
    // Wide enough for a five-digit port in the interface font, margins and frame included.
    udpPortEdit_ = place(new QLineEdit(QStringLiteral("5000"), group), "Edit2", 16, 42, 50, 20);
    addLabel(group, "Label3", QStringLiteral("httpPort:"), 70, 28);
    httpPortEdit_ = place(new QLineEdit(QStringLiteral("80"), group), "Edit3", 72, 42, 50, 20);

    // One Qt control plays both the joined text field and its up-down arrows.
    addLabel(group, "Label2", QStringLiteral("保存間隔(秒)"), 128, 28);
    intervalSpin_ = place(new QSpinBox(group), "UpDown1", 128, 42, 57 + 15, 20);
    intervalSpin_->setRange(app::kMinSaveInterval, app::kMaxSaveInterval);
    intervalSpin_->setValue(app::kMinSaveInterval);
    intervalSpin_->setWrapping(false);
    intervalSpin_->setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    if (auto* spinText = intervalSpin_->findChild<QLineEdit*>())
        spinText->setObjectName(QStringLiteral("Edit1"));

    const QIcon folderIcon(QStringLiteral(":/zqnlist/folder.png"));

    csvPathLabel_ = addLabel(group, "Label4", QStringLiteral("CSVファイル名"), 16, 72);
    csvPathEdit_ = place(new QLineEdit(group), "Edit4", 16, 88, 289, 20);
    auto* csvButton = place(new QPushButton(folderIcon, QString(), group), "BitBtn3", 312, 88, 25, 20);

    htmlPathLabel_ = addLabel(group, "Label5", QStringLiteral("HTMLファイル名"), 16, 112);
    htmlPathEdit_ = place(new QLineEdit(group), "Edit5", 16, 128, 289, 20);
    auto* htmlButton =
        place(new QPushButton(folderIcon, QString(), group), "BitBtn5", 312, 128, 25, 20);

    headingLabel_ = addLabel(group, "Label8", QStringLiteral("HTMLコメント"), 16, 152);
    headingEdit_ = place(new QLineEdit(group), "Edit6", 16, 168, 289, 20);

    autoStartBox_ = place(new QCheckBox(QStringLiteral("起動時と自動実行"), group), "CheckBox2",
                          16, 200, 129, 17);
    startHiddenBox_ = place(new QCheckBox(QStringLiteral("起動時タスクトレイに入れる"), group),
                            "CheckBox1", 160, 200, 169, 17);

    auto* applyButton =
        place(new QPushButton(QStringLiteral("適用"), group), "BitBtn6", 400, 288, 75, 25);
    auto* cancelButton =
        place(new QPushButton(QStringLiteral("キャンセル"), group), "BitBtn8", 480, 288, 75, 25);

    addLabel(group, "Label7", QStringLiteral("Version " ZQN_VERSION), 8, 304);

    const QList<QWidget*> tabOrder{udpPortEdit_,  httpPortEdit_,  intervalSpin_, csvPathEdit_,
                                   csvButton,     htmlPathEdit_,  htmlButton,    autoStartBox_,
                                   startHiddenBox_, applyButton,  cancelButton,  headingEdit_};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    chooseSaveFile_ = [this](const QString& initialName, const QString& defaultSuffix) {
        return nativeSaveFileName(this, initialName, defaultSuffix);
    };

    connect(csvButton, &QPushButton::clicked, this, [this] {
        choosePath(csvPathEdit_, QStringLiteral("zqnlist.csv"), QStringLiteral("csv"));
    });
    connect(htmlButton, &QPushButton::clicked, this, [this] {
        choosePath(htmlPathEdit_, QStringLiteral("zqnlist.htm"), QStringLiteral("htm"));
    });
    const auto tellNumbers = [this] { emit panelFieldsChanged(panelFields()); };
    connect(udpPortEdit_, &QLineEdit::textChanged, this, tellNumbers);
    connect(httpPortEdit_, &QLineEdit::textChanged, this, tellNumbers);
    connect(intervalSpin_, &QSpinBox::valueChanged, this, tellNumbers);
    connect(applyButton, &QPushButton::clicked, this, &SettingsPanel::applyRequested);
    connect(cancelButton, &QPushButton::clicked, this, &SettingsPanel::cancelRequested);
}

void SettingsPanel::showSettings(const settings::Settings& record)
{
    autoStartBox_->setChecked(record.autoStart);
    startHiddenBox_->setChecked(record.startHidden);
    showPanelFields(app::panelFieldsFor(record));
    csvPathEdit_->setText(storage::fromCp932(record.csvPath));
    htmlPathEdit_->setText(storage::fromCp932(record.htmlPath));
    headingEdit_->setText(storage::fromCp932(record.heading));
}

void SettingsPanel::showPanelFields(const app::PanelFields& fields)
{
    udpPortEdit_->setText(storage::fromCp932(fields.udpPort));
    httpPortEdit_->setText(storage::fromCp932(fields.httpPort));
    intervalSpin_->setValue(fields.saveInterval);
}

settings::Settings SettingsPanel::editedSettings() const
{
    settings::Settings edited;
    edited.autoStart = autoStartBox_->isChecked();
    edited.startHidden = startHiddenBox_->isChecked();
    edited.csvPath = storage::toCp932(csvPathEdit_->text());
    edited.htmlPath = storage::toCp932(htmlPathEdit_->text());
    edited.heading = storage::toCp932(headingEdit_->text());
    return app::withPanelFields(edited, panelFields());
}

app::PanelFields SettingsPanel::panelFields() const
{
    // The spin control's value, never its text: a half-typed "5" stays the last valid value.
    return app::PanelFields{storage::toCp932(udpPortEdit_->text()), storage::toCp932(httpPortEdit_->text()),
                            intervalSpin_->value()};
}

QString SettingsPanel::unencodableField() const
{
    const std::pair<const QLabel*, const QLineEdit*> texts[] = {
        {csvPathLabel_, csvPathEdit_}, {htmlPathLabel_, htmlPathEdit_}, {headingLabel_, headingEdit_}};
    for (const auto& [label, field] : texts) {
        if (!storage::toCp932Exactly(field->text()))
            return label->text();
    }
    return {};
}

void SettingsPanel::setSaveFileChooser(SaveFileChooser chooser)
{
    chooseSaveFile_ = std::move(chooser);
}

void SettingsPanel::choosePath(QLineEdit* field, const QString& initialName,
                               const QString& defaultSuffix)
{
    if (!chooseSaveFile_)
        return;
    const QString chosen = chooseSaveFile_(initialName, defaultSuffix);
    if (!chosen.isEmpty())
        field->setText(chosen);
}

} // namespace zqn::ui
