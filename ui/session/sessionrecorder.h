#pragma once

#include "connectionhistory.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// Writes what the VPN session and the agent link do into the connection
// history as it happens. Session events name the profile and host of the
// last "connect" (or of the session taken over); one that ends a session that
// is up carries how long it lasted.
class SessionRecorder
{
public:
    explicit SessionRecorder(const QString &path = ConnectionHistory::defaultPath());

    ConnectionHistory &history();

    // The profile and host that the following session events are about.
    void setSubject(const QString &profile, const QString &host);

    void record(const QString &event, const QJsonObject &fields = QJsonObject());

    // A session came up through this window. Its "connected" or
    // "reconnected" waits for the first status, which brings the VPN address;
    // anything recorded first writes it without.
    void sessionUp(bool byReconnect);
    void firstStatus(const QString &vpnAddress);
    // A session the agent was already running when the link came up; `since`
    // is when it is known to have started (now when nothing is known).
    void sessionTakenOver(const QString &vpnAddress, const QDateTime &since);
    void sessionDown();

    // The link to the agent, once it had been up, went down; the session that
    // was up ends with it.
    void linkLost(bool sessionWasUp);
    void linkRestored();

    // The newest "connected", "reconnected" or "taken-over" that nothing
    // later ended, or an empty object: a session the client was running when
    // it stopped without a word (killed, crashed).
    QJsonObject unendedSession() const;

private:
    void flushPendingUp(const QString &vpnAddress = QString());

    ConnectionHistory connectionHistory;
    QString profile;
    QString host;
    bool up = false;
    QDateTime startedAt;
    QString pendingUpEvent;
};
