#include "ui/error_reporting.h"

#include "app/message_text.h"

#include <QMessageBox>

#include <exception>
#include <utility>

namespace zqn::ui {

namespace {

ErrorHandler& currentHandler()
{
    static ErrorHandler handler;
    return handler;
}

} // namespace

void showErrorMessage(const QString& message)
{
    if (const ErrorHandler& handler = currentHandler()) {
        handler(message);
        return;
    }
    QMessageBox::critical(nullptr, app::programName(), message);
}

ErrorHandler setErrorHandler(ErrorHandler handler)
{
    return std::exchange(currentHandler(), std::move(handler));
}

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showErrorMessage(QString::fromUtf8(error.what()));
    } catch (...) {
        showErrorMessage(QStringLiteral("予期しないエラーが発生しました。"));
    }
    return false;
}

} // namespace zqn::ui
