#include "app/status_line.h"

#include "storage/cp932_codec.h"

namespace zqn::app {

void StatusLine::set(std::string_view cp932Text, Severity severity, const QString& warning)
{
    if (!cp932Text.empty())
        runStatus_ = storage::fromCp932(cp932Text);
    severity_ = severity;
    warning_ = warning;
    text_ = runStatus_;
    for (const QString& extra : {warning_, standingProblem_}) {
        if (!extra.isEmpty())
            text_ += QLatin1Char(' ') + extra;
    }
}

void StatusLine::setStandingProblem(const QString& problem)
{
    standingProblem_ = problem;
    set({}, severity_, warning_);
}

} // namespace zqn::app
