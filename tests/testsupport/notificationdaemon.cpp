#include "notificationdaemon.h"
#include "privatebus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <QVariantMap>

#include <algorithm>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString dunstInterface = QStringLiteral("org.dunstproject.cmd0");

QDBusMessage call(const QString &method, const QVariantList &arguments = QVariantList())
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, dunstInterface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
}

// dunst hands each field over as {"type": "s", "data": value} or as the value itself.
QVariant field(const QVariantMap &entry, const QString &name)
{
    QVariant value = entry.value(name);
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

NotificationDaemon::NotificationDaemon(const QProcessEnvironment &environment)
    : environment(environment)
{
}

NotificationDaemon::~NotificationDaemon()
{
    stopProcess(daemon);
    stopProcess(display);
}

QString NotificationDaemon::start()
{
    if (!dir.isValid())
        return QStringLiteral("no temporary folder");
    // The display number comes back on standard output.
    display.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                   QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("800x600x24")});
    if (!display.waitForStarted(5000))
        return QStringLiteral("Xvfb did not start (scripts/deps.sh installs xvfb)");
    QByteArray number;
    const QDeadlineTimer shown(10000);
    while (!number.contains('\n') && !shown.hasExpired() && display.state() == QProcess::Running) {
        display.waitForReadyRead(200);
        number += display.readAllStandardOutput();
    }
    if (!number.contains('\n'))
        return QStringLiteral("Xvfb gave no display");

    // An empty configuration: dunst's defaults.
    const QString config = dir.filePath(QStringLiteral("dunstrc"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("no dunstrc");
    file.close();
    QProcessEnvironment env = environment;
    env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(number.trimmed()));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    daemon.setProcessEnvironment(env);
    // It warns about every icon name it cannot find; the checks read what it received.
    daemon.setStandardErrorFile(QProcess::nullDevice());
    daemon.start(QStringLiteral("dunst"), {QStringLiteral("-config"), config});
    if (!daemon.waitForStarted(5000))
        return QStringLiteral("dunst did not start (scripts/deps.sh installs dunst)");

    const QDeadlineTimer ready(10000);
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    while (!ready.hasExpired()) {
        if (bus && bus->isServiceRegistered(service).value())
            return QString();
        if (daemon.state() == QProcess::NotRunning)
            return QStringLiteral("dunst ended at once");
        QThread::msleep(20);
    }
    return QStringLiteral("dunst never took org.freedesktop.Notifications on this bus");
}

QList<NotificationDaemon::Notice> NotificationDaemon::received() const
{
    call(QStringLiteral("NotificationCloseAll"));
    const QDBusMessage reply = call(QStringLiteral("NotificationListHistory"));
    QList<Notice> notices;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return notices;
    const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QVariantMap entry;
        list >> entry;
        Notice notice;
        notice.id = field(entry, QStringLiteral("id")).toUInt();
        notice.appName = field(entry, QStringLiteral("appname")).toString();
        notice.summary = field(entry, QStringLiteral("summary")).toString();
        notice.body = field(entry, QStringLiteral("body")).toString();
        notices << notice;
    }
    list.endArray();
    std::sort(notices.begin(), notices.end(), [](const Notice &a, const Notice &b) { return a.id < b.id; });
    return notices;
}

bool NotificationDaemon::clickNewest() const
{
    // The default action of the notice at the top of the screen.
    return call(QStringLiteral("NotificationAction"), {QVariant::fromValue(0u)}).type() == QDBusMessage::ReplyMessage;
}
