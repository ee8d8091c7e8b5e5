#include "app/status_line.h"

#include <QStringList>

#include "app/message_text.h"
#include "storage/cp932_codec.h"
#include "text/messages.h"

namespace zqn::app {

void StatusLine::set(std::string_view cp932Text, Severity severity, const QString& warning, const QString& detail)
{
    detail_ = detail;
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

void StatusLine::setStandingProblem(const QString& problem, const QString& detail)
{
    standingProblem_ = problem;
    standingDetail_ = detail;
    set({}, severity_, warning_, detail_);
}

QString StatusLine::detail() const
{
    QStringList lines{detail_, standingDetail_};
    if (settingsNotSaved_)
        lines << messageText(text::messages::kSettingsNotSavedAtExit);
    lines.removeAll(QString());
    return lines.join(QLatin1Char('\n'));
}

} // namespace zqn::app
