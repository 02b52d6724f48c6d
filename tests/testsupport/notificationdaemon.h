#pragma once

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A real notification service for the tests: dunst, as Debian ships it, on
// an X display of its own (Xvfb) and the session bus of the given
// environment. It reads back what the service received through dunst's own
// interface, as its `dunstctl history` does.
class NotificationDaemon
{
public:
    struct Notice
    {
        uint id = 0;
        QString appName;
        QString summary;
        QString body;
    };

    explicit NotificationDaemon(const QProcessEnvironment &environment);
    ~NotificationDaemon();

    // Starts the display and the service and waits until the service owns
    // org.freedesktop.Notifications on this process's session bus (which
    // must be the environment's). Empty on success, otherwise what failed.
    QString start();

    // Every notice received so far, oldest first. Those still on screen are
    // closed first, which moves them into the history this reads.
    QList<Notice> received() const;
    // Clicks the newest notice on screen, as a user would (its default action).
    bool clickNewest() const;

private:
    QProcessEnvironment environment;
    QTemporaryDir dir;
    QProcess display;
    QProcess daemon;
};
