// A stand-in for the client in the single-instance tests: it builds the same
// application object, with a window like the client's, and reports on stdout
// what happens to it. It quits when the file named by --stop appears.
//
// With --commands it answers commands as the client does, after an
// "accepted": "done", naming the profile the command named. Without, it takes
// them and never answers, as a version without commands does.
//
// With --send-command SERVER --block NAME it sends "status" to the primary at that
// server (another account's, say) and prints what became of it.
//
// With --squat NAME it plays another local account instead: it takes the
// names an instance with block NAME would use in the shared temporary
// directory (the memory block's key and the local socket), claims the block
// for itself and acknowledges whoever contacts it.
#include "appglobals.h"
#include "commandchannel.h"
#include "commandclient.h"
#include "instancecommand.h"
#include "instanceprotocol.h"
#include "singleapplication.h"
#include "windowforward.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
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

void stopWhenFileAppears(QTimer &poll, const QString &stopFile)
{
    QObject::connect(&poll, &QTimer::timeout, qApp, [stopFile] {
        if (QFile::exists(stopFile))
            QCoreApplication::quit();
    });
    poll.start(20);
}

int squat(int argc, char *argv[], const QString &name, const QString &stopFile)
{
    QCoreApplication app(argc, argv);
    // Also the folder an instance without a runtime directory would make.
    if (const char *folder = argument(argc, argv, "--squat-folder"))
        QDir().mkdir(QString::fromLocal8Bit(folder));
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    QSharedMemory memory(QSharedMemory::legacyNativeKey(name));
#else
    QSharedMemory memory(name);
#endif
    if (!memory.create(int(sizeof(InstanceBlock))) || !memory.lock()) {
        say("squat failed: " + memory.errorString().toLocal8Bit());
        return 1;
    }
    auto *block = static_cast<InstanceBlock *>(memory.data());
    InstanceProtocol::resetBlock(*block);
    block->hasPrimary = true;
    block->primaryProcessId = QCoreApplication::applicationPid();
    block->checksum = InstanceProtocol::infoChecksum(*block);
    memory.unlock();

    QLocalServer server;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server.listen(name)) {
        say("squat failed: " + server.errorString().toLocal8Bit());
        return 1;
    }
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&server] {
        while (QLocalSocket *client = server.nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::readyRead, client, [client] {
                client->readAll();
                client->write("\n");
            });
        }
    });
    QTimer stopPoll;
    stopWhenFileAppears(stopPoll, stopFile);
    say("squatting");
    return app.exec();
}
int sendCommand(int argc, char *argv[], const QString &server, const QString &block)
{
    QCoreApplication app(argc, argv);
    InstanceCommand::Command command;
    command.action = InstanceCommand::Action::Status;
    const CommandClient::Outcome outcome = CommandClient(server, block).send(command);
    say("result " + QByteArray::number(int(outcome.result)));
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    // As the client logs.
    qSetMessagePattern(logMessagePattern);
    QCoreApplication::setApplicationName(QStringLiteral("OrvalinSingleTest"));
    const QString key = QString::fromLocal8Bit(argument(argc, argv, "--key"));
    const QString stopFile = QString::fromLocal8Bit(argument(argc, argv, "--stop"));
    if (const char *name = argument(argc, argv, "--squat"))
        return squat(argc, argv, QString::fromLatin1(name), stopFile);
    if (const char *server = argument(argc, argv, "--send-command"))
        return sendCommand(argc, argv, QString::fromLocal8Bit(server),
                           QString::fromLatin1(argument(argc, argv, "--block")));
    bool answerCommands = false;
    for (int i = 1; i < argc; ++i)
        answerCommands = answerCommands || std::strcmp(argv[i], "--commands") == 0;
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

    QObject::connect(&app, &SingleApplication::commandReceived, &app,
                     [answerCommands](const QByteArray &bytes, CommandChannel *channel) {
                         say("command " + bytes);
                         if (!answerCommands)
                             return;
                         InstanceCommand::Reply reply;
                         reply.outcome = InstanceCommand::Outcome::Accepted;
                         channel->send(InstanceCommand::encodeReply(reply));
                         const std::optional<InstanceCommand::Command> command = InstanceCommand::decode(bytes);
                         reply.outcome = command ? InstanceCommand::Outcome::Done : InstanceCommand::Outcome::Usage;
                         reply.profile = command ? command->profile : QString();
                         channel->send(InstanceCommand::encodeReply(reply));
                     });

    QTimer stopPoll;
    stopWhenFileAppears(stopPoll, stopFile);
    return app.exec();
}
