#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Pure helpers of the VPN session views: byte counts, routes and the agent's
// status reply as the window shows them, and the secrets no text may carry.
namespace SessionFormat {

// Decimal steps (1 KB = 1000 B), always two decimals: "1.54 MB".
QString formatBytes(double bytes);

struct Route
{
    QString address; // the network address with the host bits cleared; empty when unparsable
    int prefix = -1; // the prefix length; -1 when unparsable
};
// Accepts "address/prefix" and, for IPv4, "address/netmask".
Route parseRoute(const QString &text);

// The agent's "status" members as the status labels show them. A member that
// holds another JSON type than the one expected shows as empty text.
struct StatusFields
{
    QString channelType;
    QString tlsCipherSuite;
    QString dtlsCipherSuite;
    QString dtlsPort;
    QString serverAddress;
    QString localAddress;
    QString vpnAddress;
    QString mtu;
    QString dns;
};
StatusFields readStatus(const QJsonObject &status);

// Every password and secret of the stored `profiles`, of the parameters `sent`
// with the last "connect" (for the profile `sentProfile`), the one-time
// password typed, and the one-time password that was sent after the stored
// password; none empty.
QStringList secretsIn(const QJsonObject &profiles, const QJsonObject &sent, const QString &sentProfile,
                      const QString &typedOneTimePassword);

} // namespace SessionFormat
