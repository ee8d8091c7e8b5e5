#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "discovery/device_list.h"
#include "report/list_page.h"
#include "report/page_template.h"
#include "settings/settings.h"
#include "text/line_list.h"
#include "text/stamp.h"

namespace zqn::app {

// The list page and the CSV file: the template and its blocks, the save-interval timer, the
// writes and the update time. It reads the settings and the device list it is given and owns
// neither; what a write's outcome means for the program is for its owner to say.
class PagePublisher : public QObject {
    Q_OBJECT

public:
    PagePublisher(const settings::Settings& settings, const discovery::DeviceList& devices, text::Clock clock,
                  QObject* parent = nullptr);

    void setTemplate(text::Lines pageTemplate) { pageTemplate_ = std::move(pageTemplate); }
    // The blocks follow the settings' interval, HTML path and heading; rebuilt when they change.
    void rebuildBlocks();

    // The first tick follows at once, then one every save interval.
    void start();
    void stop();

    // Writes the page and the CSV file now.
    report::WriteOutcome publish();

    QString updateTime() const { return updateTime_; }
    // "path: reason" for each file the last write could not save.
    const QStringList& failures() const { return failures_; }
    const QTimer& timer() const { return timer_; }

signals:
    // The save interval is up: the owner publishes and reports the outcome.
    void due();
    void updateTimeChanged(const QString& text);
    void published(const report::WriteOutcome& outcome);

private:
    void onTimer();

    const settings::Settings& settings_;
    const discovery::DeviceList& devices_;
    text::Clock clock_;
    text::Lines pageTemplate_;
    report::PageBlocks blocks_;
    QTimer timer_;
    QString updateTime_;
    QStringList failures_;
};

} // namespace zqn::app
