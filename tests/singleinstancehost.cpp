// A stand-in for the client in the single-instance tests: it builds the same
// application object, with a window like the client's, and reports on stdout
// what happens to it. It quits when the file named by --stop appears.
#include "singleapplication.h"
#include "windowforward.h"

#include <QFile>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {
void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

const char *argument(int argc, char *argv[], const char *name)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    }
    return nullptr;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("OrvalinSingleTest"));
    const QString key = QString::fromLocal8Bit(argument(argc, argv, "--key"));
    const QString stopFile = QString::fromLocal8Bit(argument(argc, argv, "--stop"));
    const char *optionText = argument(argc, argv, "--options");
    const int options = optionText ? std::atoi(optionText) : SingleApplication::ScopeUser;
    const char *busyText = argument(argc, argv, "--busy");

    SingleApplication app(argc, argv, false, options, 1000, key);
    say("primary " + app.blockName().toLatin1());
    // Holds the GUI thread, as a long scan does in the client.
    if (busyText) {
        QThread::msleep(std::atoi(busyText));
        say("idle");
    }

    // Starts hidden, as the client does when it sits in the tray.
    QWidget window;
    window.resize(200, 100);
    QObject::connect(&app, &SingleApplication::instanceStarted, &window, [&window] {
        bringWindowForward(&window);
        say(QByteArray("instanceStarted visible=") + (window.isVisible() ? '1' : '0')
            + " minimized=" + (window.isMinimized() ? '1' : '0'));
    });
    QObject::connect(&app, &SingleApplication::receivedMessage, &app, [](quint32 id, const QByteArray &message) {
        say("message " + QByteArray::number(id) + ' ' + message);
    });

    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &app, [&] {
        if (QFile::exists(stopFile))
            QCoreApplication::quit();
    });
    stopPoll.start(20);
    return app.exec();
}
