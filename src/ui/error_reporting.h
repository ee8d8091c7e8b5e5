#pragma once

#include <QApplication>
#include <QString>

#include <functional>

namespace zqn::ui {

// The one place where an error becomes a message box (titled with the program's name, critical).
void showErrorMessage(const QString& message);

using ErrorHandler = std::function<void(const QString& message)>;
// Replaces the message box, so that tests are never blocked by a modal dialog. An empty handler
// brings the message box back. Returns the handler that was in place.
ErrorHandler setErrorHandler(ErrorHandler handler);

// Keeps exceptions from crossing the event loop: whatever a handler throws is shown through
// showErrorMessage and the loop goes on.
class Application : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace zqn::ui
