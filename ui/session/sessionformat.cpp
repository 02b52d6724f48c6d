#include "sessionformat.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QStringList>

namespace SessionFormat {

QString formatBytes(double bytes)
{
    QString unit = QStringLiteral("B");
    double value = bytes;
    if (bytes >= 1000000000.0) {
        unit = QStringLiteral("GB");
        value = bytes / 1000000000.0;
    } else if (bytes >= 1000000.0) {
        unit = QStringLiteral("MB");
        value = bytes / 1000000.0;
    } else if (bytes >= 1000.0) {
        unit = QStringLiteral("KB");
        value = bytes / 1000.0;
    }
    return QStringLiteral("%1 %2").arg(QString::number(value, 'f', 2), unit);
}

Route parseRoute(const QString &text)
{
    const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(text);
    Route route;
    route.address = subnet.first.isNull() ? QString() : subnet.first.toString();
    route.prefix = subnet.second;
    return route;
}

StatusFields readStatus(const QJsonObject &status)
{
    StatusFields fields;
    fields.channelType
        = status.value(QLatin1String("DtlsConnected")).toBool(false) ? QStringLiteral("DTLS") : QStringLiteral("TLS");
    fields.tlsCipherSuite = status.value(QLatin1String("TLSCipherSuite")).toString();
    fields.dtlsCipherSuite = status.value(QLatin1String("DTLSCipherSuite")).toString();
    fields.dtlsPort = status.value(QLatin1String("DTLSPort")).toString();
    fields.serverAddress = status.value(QLatin1String("ServerAddress")).toString();
    fields.localAddress = status.value(QLatin1String("LocalAddress")).toString();
    fields.vpnAddress = status.value(QLatin1String("VPNAddress")).toString();
    fields.mtu = QString::number(status.value(QLatin1String("MTU")).toInt(0));
    QStringList dns;
    const QJsonArray servers = status.value(QLatin1String("DNS")).toArray();
    for (const auto &server : servers)
        dns.append(server.toString());
    fields.dns = dns.join(QLatin1Char(','));
    return fields;
}

QStringList secretsIn(const QJsonObject &profiles, const QJsonObject &sent, const QString &sentProfile,
                      const QString &typedOneTimePassword)
{
    const QLatin1String password("password");
    const QLatin1String secret("secret");
    QStringList secrets;
    for (const auto &profile : profiles)
        secrets << profile[password].toString() << profile[secret].toString();
    const QString sentPassword = sent.value(password).toString();
    secrets << sentPassword << sent.value(secret).toString() << typedOneTimePassword;
    // The one-time password on its own: what was sent after the stored password.
    const QString stored = profiles.value(sentProfile)[password].toString();
    if (sentPassword.size() > stored.size() && sentPassword.startsWith(stored))
        secrets << sentPassword.mid(stored.size());
    secrets.removeAll(QString());
    return secrets;
}

} // namespace SessionFormat
