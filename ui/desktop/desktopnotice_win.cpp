#include "desktopnotice.h"

#include "traycontroller.h"

#include <QCoreApplication>

struct DesktopNotice::Private
{
};

DesktopNotice::DesktopNotice(TrayController *trayController, QObject *parent)
    : QObject(parent)
    , tray(trayController)
{
    connect(tray, &TrayController::messageClicked, this, &DesktopNotice::activated);
}

DesktopNotice::~DesktopNotice() = default;

QString DesktopNotice::applicationName()
{
    return QCoreApplication::translate("TrayController", "Kestrum SSLVPN Client");
}

void DesktopNotice::show(const QString &title, const QString &body)
{
    // The shell shows it as the icon's notification.
    tray->showMessage(title, body);
}
