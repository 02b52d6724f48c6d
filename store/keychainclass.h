#pragma once

#include <QObject>
#include <QString>

// Fire-and-forget access to the platform credential store. Each call starts one
// QtKeychain job under the wrapper's service (by default "keychain.orvalin")
// and returns at once; the outcome arrives later as exactly one of the signals
// below.
class KeyChainClass : public QObject
{
    Q_OBJECT

public:
    explicit KeyChainClass(QObject *parent = nullptr);
    explicit KeyChainClass(const QString &service, QObject *parent = nullptr);

    // The service of the profiles' passwords.
    static QString serviceName();
    QString service() const { return m_service; }
    // Jobs of every wrapper that have not ended and been deleted yet. A job
    // outlives its wrapper, so whoever must not leave one behind (a process
    // about to end, a loop that creates many stores) waits for this to drop.
    static int jobsUnderWay();
    // Runs the event loop until every job has ended, at most `timeoutMs`;
    // false when some are still running then. A process about to end calls
    // it so that a write on its way is not lost with it.
    static bool waitForJobs(int timeoutMs);

    Q_INVOKABLE void readKey(const QString &key);
    Q_INVOKABLE void writeKey(const QString &key, const QString &value);
    Q_INVOKABLE void deleteKey(const QString &key);

signals:
    void keyStored(const QString &key);
    void keyRestored(const QString &key, const QString &value);
    void keyDeleted(const QString &key);
    void error(const QString &errorText);
    // The same failures, told per key (after `error`), for callers that keep
    // track of their own keys.
    void readFailed(const QString &key);
    void writeFailed(const QString &key);

private:
    const QString m_service;
};
