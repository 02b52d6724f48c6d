#include "sessiontakeover.h"

#include <QHostAddress>

namespace SessionTakeover {

namespace {

bool sameGateway(const QString &host, const QString &server)
{
    if (server.isEmpty())
        return false;
    const QHostAddress hostAddress(host);
    if (!hostAddress.isNull())
        return hostAddress.isEqual(QHostAddress(server));
    return host.compare(server, Qt::CaseInsensitive) == 0;
}

} // namespace

Owner identify(const QJsonObject &status, const QString &lastProfile, const QString &lastProfileHost,
               const QJsonObject &previous)
{
    Owner owner;
    const QString server = status.value(QLatin1String("ServerAddress")).toString().trimmed();
    const QString vpnAddress = status.value(QLatin1String("VPNAddress")).toString();
    const QString host = lastProfileHost.trimmed();
    owner.host = server;
    if (lastProfile.isEmpty() || host.isEmpty())
        return owner;

    const bool previousIsThis = !vpnAddress.isEmpty()
                                && previous.value(QLatin1String("profile")).toString() == lastProfile
                                && previous.value(QLatin1String("host")).toString().trimmed() == host
                                && previous.value(QLatin1String("address")).toString() == vpnAddress;
    owner.known = previousIsThis || sameGateway(host, server);
    if (!owner.known)
        return owner;
    owner.host = host;
    if (previousIsThis)
        owner.since = QDateTime::fromString(previous.value(QLatin1String("time")).toString(), Qt::ISODate);
    return owner;
}

} // namespace SessionTakeover
