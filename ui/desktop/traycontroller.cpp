#include "traycontroller.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

TrayController::TrayController(QWidget *window)
    : QObject(window)
    , window(window)
    , connectedImage(QStringLiteral(":/assets/connected.png"))
    , notConnectedImage(QStringLiteral(":/assets/notconnected.png"))
    , connectingImage(QStringLiteral(":/assets/connecting.png"))
{
}

void TrayController::setUp(QAbstractButton *minimize)
{
    if (trayIcon)
        return;
    minimizeSwitch = minimize;

    // The menu texts are fixed Chinese strings, not looked up in the catalogue.
    connectEntry = new QAction(QStringLiteral("连接网关"), window);
    disconnectEntry = new QAction(QStringLiteral("断开网关"), window);
    showPanelEntry = new QAction(QStringLiteral("显示面板"), window);
    quitEntry = new QAction(QStringLiteral("退出"), window);

    // The entry is not checkable, so this always asks for a fresh connection.
    connect(connectEntry, &QAction::triggered, this, [this](bool checked) { emit connectRequested(checked); });
    connect(disconnectEntry, &QAction::triggered, this, &TrayController::disconnectRequested);
    connect(showPanelEntry, &QAction::triggered, window, &QWidget::showNormal);
    // Queued, so the menu finishes handling the click before the loop ends.
    connect(quitEntry, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    trayMenu = new QMenu(window);
    trayMenu->addAction(connectEntry);
    trayMenu->addAction(disconnectEntry);
    trayMenu->addSeparator();
    trayMenu->addAction(showPanelEntry);
    trayMenu->addSeparator();
    trayMenu->addAction(quitEntry);

    // Not shown yet: the icon appears the first time a session hides the window.
    trayIcon = new QSystemTrayIcon(window);
    trayIcon->setContextMenu(trayMenu);
    // The tooltip is what screen readers and desktop panels name the icon by.
    trayIcon->setToolTip(idleToolTip());
    setLook(currentLook);
    connect(trayIcon, &QSystemTrayIcon::messageClicked, this, &TrayController::messageClicked);
    connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // The context menu on a right click is opened by the tray itself.
        if (reason == QSystemTrayIcon::Trigger) {
            window->showNormal();
            window->activateWindow();
        }
    });
}

bool TrayController::showMessage(const QString &title, const QString &body)
{
    if (!trayIcon || !isTrayAvailable())
        return false;
    // Qt shows messages only at a visible icon.
    if (!trayIcon->isVisible())
        trayIcon->show();
    trayIcon->showMessage(title, body, QSystemTrayIcon::Information, 10000);
    return true;
}

QString TrayController::idleToolTip()
{
    return tr("Kestrum SSLVPN Client");
}

bool TrayController::isSetUp() const
{
    return trayIcon != nullptr;
}

void TrayController::setSessionQuery(std::function<bool()> query)
{
    sessionQuery = std::move(query);
}

void TrayController::setTrayAvailableQuery(std::function<bool()> query)
{
    trayAvailableQuery = std::move(query);
}

bool TrayController::isTrayAvailable() const
{
    return trayAvailableQuery ? trayAvailableQuery() : QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayController::sessionUp() const
{
    return sessionQuery && sessionQuery();
}

void TrayController::trayConnecting()
{
    setLook(Look::Connecting);
}

void TrayController::trayConnected()
{
    setLook(Look::Connected);
    if (connectEntry) {
        connectEntry->setEnabled(false);
        disconnectEntry->setEnabled(true);
    }
}

void TrayController::closeToTrayIfWanted(const QString &host)
{
    if (!minimizeSwitch || !minimizeSwitch->isChecked())
        return;
    window->close();
    if (trayIcon)
        trayIcon->setToolTip(QStringLiteral("已连接到: ") + host);
}

void TrayController::trayDisconnected()
{
    setLook(Look::NotConnected);
    if (trayIcon)
        trayIcon->setToolTip(idleToolTip());
    if (connectEntry) {
        connectEntry->setEnabled(true);
        disconnectEntry->setEnabled(false);
    }
}

void TrayController::trayFailed()
{
    setLook(Look::NotConnected);
}

void TrayController::handleClose(QCloseEvent *event)
{
    if (sessionUp() && !isTrayAvailable()) {
        // Nothing would draw the icon, so a hidden window could not be found
        // again: leave it on the taskbar instead.
        event->ignore();
        window->showMinimized();
        return;
    }
    event->accept();
    if (sessionUp()) {
        // The session keeps running; the tray icon is the way back, and once
        // shown it stays for the life of the process.
        window->hide();
        if (trayIcon && !trayIcon->isVisible())
            trayIcon->setVisible(true);
        return;
    }
    QCoreApplication::quit();
}

QSystemTrayIcon *TrayController::icon() const
{
    return trayIcon;
}

QMenu *TrayController::menu() const
{
    return trayMenu;
}

QAction *TrayController::connectAction() const
{
    return connectEntry;
}

QAction *TrayController::disconnectAction() const
{
    return disconnectEntry;
}

QAction *TrayController::showPanelAction() const
{
    return showPanelEntry;
}

QAction *TrayController::quitAction() const
{
    return quitEntry;
}

TrayController::Look TrayController::look() const
{
    return currentLook;
}

const QIcon &TrayController::iconConnected() const
{
    return connectedImage;
}

const QIcon &TrayController::iconNotConnected() const
{
    return notConnectedImage;
}

const QIcon &TrayController::iconConnecting() const
{
    return connectingImage;
}

void TrayController::setLook(Look look)
{
    currentLook = look;
    if (!trayIcon)
        return;
    switch (look) {
    case Look::NotConnected:
        trayIcon->setIcon(notConnectedImage);
        break;
    case Look::Connecting:
        trayIcon->setIcon(connectingImage);
        break;
    case Look::Connected:
        trayIcon->setIcon(connectedImage);
        break;
    }
}
