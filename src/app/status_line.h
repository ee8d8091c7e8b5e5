#pragma once

#include <QString>

#include <string_view>

namespace zqn::app {

// The monitor's status line: what it is doing or what failed, then a full list's warning, then a
// problem beside the monitor that stays (a web endpoint that cannot listen).
class StatusLine {
public:
    // Whether the status tells of a failure, for a log that ranks its lines.
    enum class Severity { info, error };

    // Empty cp932Text keeps what the monitor said last.
    void set(std::string_view cp932Text, Severity severity, const QString& warning);
    void setStandingProblem(const QString& problem);

    const QString& text() const { return text_; }
    // The status without the warning and the problem.
    const QString& runStatus() const { return runStatus_; }
    Severity severity() const { return severity_; }
    const QString& warning() const { return warning_; }

private:
    QString runStatus_;
    QString warning_;
    QString standingProblem_;
    QString text_;
    Severity severity_ = Severity::info;
};

} // namespace zqn::app
