#pragma once

#include <QObject>
#include <QString>
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
// neither; what a write's outcome means is for those who listen to published to say.
class PagePublisher : public QObject {
    Q_OBJECT

public:
    PagePublisher(const settings::Settings& settings, const discovery::DeviceList& devices, text::Clock clock,
                  QObject* parent = nullptr);

    // Takes the page template from the file at path, where there is one, and builds the blocks.
    // Returns why the file could not be read (the built-in template stays), or nothing.
    QString loadTemplate(const QString& path);
    // The blocks follow the settings' interval, HTML path and heading; rebuilt when they change.
    void rebuildBlocks();

    // The first write follows at once, then one every save interval.
    void start();
    void stop();
    bool isRunning() const { return timer_.isActive(); }
    // Milliseconds from one write to the next while running.
    int intervalMs() const { return timer_.interval(); }

    // Writes the page and the CSV file now; failure, when given, takes what published tells.
    report::WriteOutcome publish(QString* failure = nullptr);

    QString updateTime() const { return updateTime_; }
    // The list page's native file name when it exists, else empty.
    QString existingPagePath() const;
    std::string_view htmlPath() const { return settings_.htmlPath; }
    std::string_view csvPath() const { return settings_.csvPath; }

signals:
    void updateTimeChanged(const QString& text);
    // After every write. failure: "file: reason" for each file that could not be replaced, one a
    // line; empty when both were.
    void published(const report::WriteOutcome& outcome, const QString& failure);

private:
    void onTimer();

    const settings::Settings& settings_;
    const discovery::DeviceList& devices_;
    text::Clock clock_;
    text::Lines pageTemplate_;
    report::PageBlocks blocks_;
    QTimer timer_;
    QString updateTime_;
};

} // namespace zqn::app
