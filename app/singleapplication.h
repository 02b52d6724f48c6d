#pragma once

#include "instanceprotocol.h"

#include <QApplication>

class SingleApplicationPrivate;

// The application object that keeps one instance of the program per user and
// executable. The first process becomes the primary; a later one tells the
// primary it started and ends inside the constructor with status 0, before any
// window exists. Secondaries that keep running are possible but this program
// does not allow them.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    enum Option {
        ScopeUser = InstanceProtocol::ScopeUser,
        NotifySecondary = InstanceProtocol::NotifySecondary,
        KeyWithoutVersion = InstanceProtocol::KeyWithoutVersion,
        KeyWithoutPath = InstanceProtocol::KeyWithoutPath,
    };

    SingleApplication(int &argc, char *argv[], bool secondaryAllowed = false, int options = ScopeUser,
                      int timeoutMs = 1000, const QString &extraData = QString());
    ~SingleApplication() override;

    bool isPrimary() const;
    quint32 instanceId() const;
    QString blockName() const;

signals:
    void instanceStarted();
    void receivedMessage(quint32 instanceId, QByteArray message);

private:
    friend class SingleApplicationPrivate;
    SingleApplicationPrivate *d = nullptr;
};
