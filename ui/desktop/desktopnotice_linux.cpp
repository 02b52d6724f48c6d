#include "desktopnotice.h"

#include "traycontroller.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

// Receives the service's ActionInvoked signal, which QtDBus delivers only to slots.
class NotificationListener : public QObject
{
    Q_OBJECT

public:
    explicit NotificationListener(DesktopNotice *notice)
        : QObject(notice)
        , notice(notice)
    {
    }

    // The ids of the latest notices this program posted; the service
    // signals the actions of every program's.
    QList<uint> posted;

    void addPosted(uint id)
    {
        posted.append(id);
        if (posted.size() > 32)
            posted.removeFirst();
    }

public slots:
    void onActionInvoked(uint id, const QString &action)
    {
        if (posted.contains(id) && action == defaultAction)
            emit notice->activated();
    }

private:
    DesktopNotice *notice;
};

struct DesktopNotice::Private
{
    NotificationListener *listener = nullptr;
    // Until the service has said what it does with markup, the body is
    // escaped: text from the agent must not become a link or an image.
    bool markup = true;
    bool actions = false;
};

DesktopNotice::DesktopNotice(TrayController *trayController, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
    , tray(trayController)
{
    d->listener = new NotificationListener(this);
    connect(tray, &TrayController::messageClicked, this, &DesktopNotice::activated);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), d->listener,
                SLOT(onActionInvoked(uint, QString)));
    // Never waited for: a service that hangs must not hold the window.
    auto *watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"))),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        QDBusPendingReply<QStringList> reply = *call;
        if (reply.isError())
            return;
        const QStringList capabilities = reply.value();
        d->markup = capabilities.contains(QLatin1String("body-markup"))
                    || capabilities.contains(QLatin1String("body-hyperlinks"));
        d->actions = capabilities.contains(QLatin1String("actions"));
    });
}

DesktopNotice::~DesktopNotice() = default;

QString DesktopNotice::applicationName()
{
    return QCoreApplication::translate("TrayController", "Kestrum SSLVPN Client");
}

void DesktopNotice::show(const QString &title, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        tray->showMessage(title, body);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral(ORVALIN_APP_ID)},
        {QStringLiteral("category"), QStringLiteral("network")},
    };
    // A click on the notice brings the window back.
    QStringList actions;
    if (d->actions)
        actions << defaultAction << tr("Show");
    // Each notice stands on its own (none replaces the last), so the
    // desktop's list of notices keeps the whole story.
    call << applicationName() << uint(0) << QStringLiteral(ORVALIN_APP_ID) << title
         << (d->markup ? escaped(body) : body) << actions << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, title, body](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        QDBusPendingReply<uint> reply = *done;
        if (reply.isError()) {
            // No notification service: the tray's own balloon, where there is a tray.
            tray->showMessage(title, body);
            return;
        }
        d->listener->addPosted(reply.value());
    });
}

#include "desktopnotice_linux.moc"
