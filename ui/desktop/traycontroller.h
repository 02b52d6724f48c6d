#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QAbstractButton;
class QAction;
class QCloseEvent;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The notification-area icon of the main window: its menu, its look while a
// session comes up and goes down, and the rule that a window closed during a
// session hides into the tray instead of ending the program.
class TrayController : public QObject
{
    Q_OBJECT

public:
    enum class Look { NotConnected, Connecting, Connected };
    Q_ENUM(Look)

    // The window is the parent of the icon, the menu and the actions.
    explicit TrayController(QWidget *window);

    // Builds the menu and the (still invisible) icon. The minimise switch
    // decides whether a new session closes the window into the tray.
    void setUp(QAbstractButton *minimizeSwitch);
    bool isSetUp() const;

    // Tells the close rule whether a session is up.
    void setSessionQuery(std::function<bool()> query);
    // Tells the close rule whether the desktop draws a notification area; by
    // default the platform is asked. Tests give their own answer.
    void setTrayAvailableQuery(std::function<bool()> query);
    bool isTrayAvailable() const;

    void trayConnecting();
    // Connected image; "连接网关" disabled, "断开网关" enabled.
    void trayConnected();
    // With the minimise switch on: closes the window (which hides it into the
    // tray, the session being up) and names the gateway in the tooltip.
    void closeToTrayIfWanted(const QString &host);
    // Not-connected image, the program's name as tooltip, "连接网关" enabled,
    // "断开网关" disabled.
    void trayDisconnected();
    // A fresh connection failed: back to the not-connected image.
    void trayFailed();

    // A notice at the icon (a balloon, or the desktop's notification
    // service where the tray uses it), making the icon visible first; false
    // when there is no notification area to show it in.
    bool showMessage(const QString &title, const QString &body);

    // The window's close rule: hide into the tray while a session is up (or
    // minimise to the taskbar when there is no notification area), otherwise
    // end the program.
    void handleClose(QCloseEvent *event);

    QSystemTrayIcon *icon() const;
    QMenu *menu() const;
    QAction *connectAction() const;
    QAction *disconnectAction() const;
    QAction *showPanelAction() const;
    QAction *quitAction() const;
    Look look() const;

    const QIcon &iconConnected() const;
    const QIcon &iconNotConnected() const;
    const QIcon &iconConnecting() const;

    // The tooltip while no gateway is named: the program's name, which is
    // also the icon's name for screen readers.
    static QString idleToolTip();

signals:
    // Menu requests the window forwards to its session slots.
    void connectRequested(bool reconnect);
    void disconnectRequested();
    // The user clicked a notice shown with showMessage().
    void messageClicked();

private:
    bool sessionUp() const;
    void setLook(Look look);

    QWidget *window;
    QPointer<QAbstractButton> minimizeSwitch;
    std::function<bool()> sessionQuery;
    std::function<bool()> trayAvailableQuery;

    QIcon connectedImage;
    QIcon notConnectedImage;
    QIcon connectingImage;

    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *connectEntry = nullptr;
    QAction *disconnectEntry = nullptr;
    QAction *showPanelEntry = nullptr;
    QAction *quitEntry = nullptr;
    Look currentLook = Look::NotConnected;
};
