#pragma once

#include <QJsonObject>
#include <QString>

// Pure helpers of the VPN session views: byte counts, routes and the agent's
// status reply as the window shows them.
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

} // namespace SessionFormat
