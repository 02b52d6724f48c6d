#pragma once

#include "sessionformat.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>

namespace Ui {
class Orvalin;
}

class ConnectionStatusCard;
class DetailDialog;
class QWidget;
class TrayController;

// What the window shows of its session: the tray icon, the Connect button and
// the inputs it locks, the status card, the Status tab's values, the Details
// button with the routes of the detail dialog (which may be built long after
// the session's first status), and the box of a refused connection.
class SessionView : public QObject
{
    Q_OBJECT

public:
    SessionView(QWidget *window, Ui::Orvalin *form, ConnectionStatusCard *card, QObject *parent);

    void setTray(TrayController *tray);
    // The dialog is given the session's routes at once when they are known.
    void setDetailDialog(DetailDialog *dialog);

    void showConnecting(const QString &host);
    // The session-up look: connected tray image, "Disconnect", the inputs
    // locked; a refusal box still open is stale and goes.
    void showUp(const QString &host);
    // Nothing is up or under way: values, routes, counters and the one-time
    // password go.
    void showDown();
    // The agent refused a fresh connection with `message`.
    void showRefused(const QString &message);
    // An attempt ended with nothing to connect: the idle look, failed tray image.
    void showNothingToConnect();
    // The "Error" box; it runs an event loop of its own.
    void showRefusalBox(const QString &message);

    // Shows a status reply's values. The routes are fixed for a session: the
    // first status brings them and enables Details. True for that first one.
    bool showStatus(const SessionFormat::StatusFields &fields, const QJsonObject &status);

private:
    void setInputsEnabled(bool enabled);

    QWidget *window;
    Ui::Orvalin *ui;
    ConnectionStatusCard *statusCard;
    QPointer<TrayController> tray;
    QPointer<DetailDialog> detailDialog;
    bool routesKnown = false;
    QJsonArray excludedRoutes;
    QJsonArray securedRoutes;
    // The text of the refusal box on screen, if one is.
    QString refusalOnScreen;
};
