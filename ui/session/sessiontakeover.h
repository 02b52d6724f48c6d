#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// Whose session the agent already runs when a link comes up, as far as the
// client can tell. Pure logic, kept apart from the controls.
namespace SessionTakeover {

struct Owner
{
    // The session is known to be one the last used profile started.
    bool known = false;
    // The gateway as the window names it: the profile's host when known,
    // otherwise the "ServerAddress" the agent reports.
    QString host;
    // When the session came up, if the client recorded it; invalid otherwise.
    QDateTime since;
};

// `lastProfile` is the settings' "lastProfile" and `lastProfileHost` the host
// stored in it. `previous` is the session this client last had up and did not
// see end ("profile", "host", "address" as the VPN address and, when it came
// from the history, "time"); empty when there is none.
//
// The last profile is known to be the gateway when its host is the
// "ServerAddress" itself (as an address, or as a name ignoring case), or when
// the running session has the VPN address of that previous session, which
// the same profile with the same host started.
Owner identify(const QJsonObject &status, const QString &lastProfile, const QString &lastProfileHost,
               const QJsonObject &previous);

} // namespace SessionTakeover
