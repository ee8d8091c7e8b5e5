#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace zqn::app {

// One window program per settings file: the first copy listens on a local socket named after
// that file; a later copy asks it to come forward and leaves, so that two copies never share one
// port and one set of files.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& settingsPath, QObject* parent = nullptr);

    // Listens for later copies, or, when a copy of this user's with this settings file already
    // runs, asks it to come forward and returns false. A socket that a killed copy left behind,
    // or that another user answers on, is taken over; launches that meet one take turns.
    bool claim();

    // The socket's path: a hash of the user's home and the settings file's canonical path, in
    // the user's runtime folder ($XDG_RUNTIME_DIR), or else in a folder of the user's own in the
    // temporary folder. Empty when neither is the user's alone: the program then runs without
    // the rule rather than not at all.
    static QString serverName(const QString& settingsPath);

signals:
    // A later copy was started with this settings file.
    void raiseRequested();

private:
    bool askRunningCopy();

    QString name_;
    QLocalServer server_;
};

} // namespace zqn::app
