#include "vpnsession.h"

#include <QHostAddress>
#include <QJsonArray>

VpnSession::VpnSession(QObject *parent)
    : QObject(parent)
{
    loseTimer.setSingleShot(true);
    endTimer.setSingleShot(true);
    connect(&loseTimer, &QTimer::timeout, this, [this] {
        finish();
        emit lost(QStringLiteral("与网关的连接已丢失"));
    });
    connect(&endTimer, &QTimer::timeout, this, [this] {
        finish();
        emit ended(QStringLiteral("网关已结束会话"));
    });
}

void VpnSession::setLoseAfter(int seconds)
{
    loseTimer.setInterval(seconds * 1000);
}

void VpnSession::setEndAfter(int seconds)
{
    endTimer.setInterval(seconds * 1000);
}

void VpnSession::setDtlsEnabled(bool enabled)
{
    dtlsEnabled = enabled;
}

QString VpnSession::start(const QJsonObject &login)
{
    const QString hostName = login.value(QLatin1String("host")).toString().trimmed();
    if (hostName.isEmpty() || login.value(QLatin1String("username")).toString().isEmpty()
        || login.value(QLatin1String("password")).toString().isEmpty())
        return QStringLiteral("主机、用户名或密码不能为空");

    // A new login replaces a running session, as a real gateway would.
    finish();
    up = true;
    gatewayHost = hostName;
    uptime.start();
    if (loseTimer.interval() > 0)
        loseTimer.start();
    if (endTimer.interval() > 0)
        endTimer.start();
    return QString();
}

void VpnSession::stop()
{
    finish();
}

void VpnSession::finish()
{
    up = false;
    loseTimer.stop();
    endTimer.stop();
}

bool VpnSession::isUp() const
{
    return up;
}

QString VpnSession::host() const
{
    return gatewayHost;
}

QJsonObject VpnSession::status() const
{
    // A gateway given as an address is reported as such; a name "resolves" to
    // an address from the documentation range.
    QString server = QStringLiteral("203.0.113.10");
    QHostAddress literal;
    if (literal.setAddress(gatewayHost))
        server = literal.toString();
    return QJsonObject{
        {QStringLiteral("DtlsConnected"), dtlsEnabled},
        {QStringLiteral("TLSCipherSuite"),
         QStringLiteral("(TLS1.3)-(ECDHE-X25519)-(RSA-PSS-RSAE-SHA256)-(AES-256-GCM)")},
        {QStringLiteral("DTLSCipherSuite"),
         dtlsEnabled ? QStringLiteral("(DTLS1.2)-(ECDHE-RSA)-(AES-256-GCM)") : QString()},
        {QStringLiteral("DTLSPort"), dtlsEnabled ? QStringLiteral("443") : QString()},
        {QStringLiteral("ServerAddress"), server},
        {QStringLiteral("LocalAddress"), QStringLiteral("192.168.1.23")},
        {QStringLiteral("VPNAddress"), QStringLiteral("10.8.0.23")},
        {QStringLiteral("MTU"), dtlsEnabled ? 1399 : 1406},
        {QStringLiteral("DNS"), QJsonArray{QStringLiteral("10.8.0.1"), QStringLiteral("10.8.0.2")}},
        {QStringLiteral("SplitInclude"),
         QJsonArray{QStringLiteral("10.0.0.0/8"), QStringLiteral("172.16.0.0/255.240.0.0")}},
        {QStringLiteral("SplitExclude"), QJsonArray{QStringLiteral("192.168.0.0/16")}},
    };
}

QJsonObject VpnSession::traffic() const
{
    // Steady, uneven traffic: more down than up, growing with the uptime.
    const double ms = double(uptime.elapsed());
    return QJsonObject{
        {QStringLiteral("bytesSent"), 4096.0 + ms * 37.0},
        {QStringLiteral("bytesReceived"), 16384.0 + ms * 213.0},
    };
}
