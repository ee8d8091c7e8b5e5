#pragma once

#include <QString>

#include <string_view>

namespace zqn::app {

// The monitor's status line: what it is doing or what failed, then a full list's warning, then a
// problem beside the monitor that stays (a web endpoint that cannot listen). Its detail, for the
// tooltip, keeps the system's own words for each and whether the settings will be saved.
class StatusLine {
public:
    // Whether the status tells of a failure, for a log that ranks its lines.
    enum class Severity { info, error };

    // Empty cp932Text keeps what the monitor said last.
    void set(std::string_view cp932Text, Severity severity, const QString& warning, const QString& detail = {});
    void setStandingProblem(const QString& problem, const QString& detail);
    void setSettingsNotSaved() { settingsNotSaved_ = true; }

    const QString& text() const { return text_; }
    // The status without the warning and the problem.
    const QString& runStatus() const { return runStatus_; }
    Severity severity() const { return severity_; }
    const QString& warning() const { return warning_; }
    QString detail() const;

private:
    QString runStatus_;
    QString warning_;
    QString standingProblem_;
    QString detail_;
    QString standingDetail_;
    bool settingsNotSaved_ = false;
    QString text_;
    Severity severity_ = Severity::info;
};

} // namespace zqn::app
