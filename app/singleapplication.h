#pragma once

#include "instanceprotocol.h"

#include <QApplication>

#include <functional>
#include <optional>

class CommandChannel;
class SingleApplicationPrivate;

// The application object that keeps one instance of the program per user and
// executable. The first process becomes the primary; a later one tells the
// primary it started and ends inside the constructor with status 0, before any
// window exists. Secondaries that keep running are possible but this program
// does not allow them.
//
// A start that carries a command instead hands the primary's server to its
// `SecondaryStart`, which sends the command and reads the outcome; the process
// ends inside the constructor with the status that returns.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    // Given the primary's server name and the block name: the exit status, or
    // nothing when no primary answers there (it is gone).
    using SecondaryStart = std::function<std::optional<int>(const QString &serverName, const QString &blockName)>;

    enum Option {
        ScopeUser = InstanceProtocol::ScopeUser,
        NotifySecondary = InstanceProtocol::NotifySecondary,
        KeyWithoutVersion = InstanceProtocol::KeyWithoutVersion,
        KeyWithoutPath = InstanceProtocol::KeyWithoutPath,
    };

    SingleApplication(int &argc, char *argv[], bool secondaryAllowed = false, int options = ScopeUser,
                      int timeoutMs = 1000, const QString &extraData = QString(),
                      const SecondaryStart &secondaryStart = SecondaryStart());
    ~SingleApplication() override;

    // The block name of this program for this user, as the constructor
    // computes it; needs an application object for the program's path.
    static QString ownBlockName(int options, const QString &extraData = QString());

    bool isPrimary() const;
    quint32 instanceId() const;
    QString blockName() const;

signals:
    void instanceStarted();
    void receivedMessage(quint32 instanceId, QByteArray message);
    // A command from a later start of the same user. The replies go back
    // through the channel, which is deleted when that process hangs up.
    void commandReceived(const QByteArray &command, CommandChannel *channel);

private:
    friend class SingleApplicationPrivate;
    SingleApplicationPrivate *d = nullptr;
};
