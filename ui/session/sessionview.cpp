#include "sessionview.h"
#include "ui_orvalin.h"

#include "connectionstatuscard.h"
#include "detaildialog.h"
#include "messageboxes.h"
#include "traycontroller.h"

#include <QCoreApplication>
#include <QMessageBox>

SessionView::SessionView(QWidget *window, Ui::Orvalin *form, ConnectionStatusCard *card, QObject *parent)
    : QObject(parent)
    , window(window)
    , ui(form)
    , statusCard(card)
{
}

void SessionView::setTray(TrayController *trayController)
{
    tray = trayController;
}

void SessionView::setDetailDialog(DetailDialog *dialog)
{
    detailDialog = dialog;
    if (detailDialog && routesKnown)
        detailDialog->setRoutes(excludedRoutes, securedRoutes);
}

void SessionView::showConnecting(const QString &host)
{
    ui->progressBar->start();
    if (tray)
        tray->trayConnecting();
    statusCard->setStatus(ConnectionStatusCard::Connecting);
    statusCard->setServerText(host);
}

void SessionView::showUp(const QString &host)
{
    // Connected image, "连接网关" disabled and "断开网关" enabled.
    if (tray)
        tray->trayConnected();
    ui->buttonConnect->setText(QCoreApplication::translate("Orvalin", "Disconnect"));
    setInputsEnabled(false);
    statusCard->setStatus(ConnectionStatusCard::Connected);
    statusCard->setServerText(host);
    // A refusal still on screen is stale once a session is up: a command of
    // another start connected while the box waited for the user.
    if (!refusalOnScreen.isEmpty()) {
        for (QMessageBox *box : window->findChildren<QMessageBox *>()) {
            if (box->isVisible() && box->text() == refusalOnScreen)
                box->done(QMessageBox::Ok);
        }
    }
}

void SessionView::showDown()
{
    // Whatever was in flight has lost its session or its link.
    ui->progressBar->stop();
    // Not-connected image, empty tooltip, "连接网关" enabled, "断开网关" disabled.
    if (tray)
        tray->trayDisconnected();
    ui->buttonConnect->setText(QCoreApplication::translate("Orvalin", "Connect"));
    setInputsEnabled(true);
    statusCard->setStatus(ConnectionStatusCard::Disconnected);

    for (QLabel *label :
         {ui->labelChannelType, ui->labelTlsCipherSuite, ui->labelDtlsCipherSuite, ui->labelDTLSPort,
          ui->labelServerAddress, ui->labelLocalAddress, ui->labelVPNAddress, ui->labelMTU, ui->labelDNS})
        label->clear();
    ui->buttonDetails->setEnabled(false);
    routesKnown = false;
    excludedRoutes = QJsonArray();
    securedRoutes = QJsonArray();
    if (detailDialog)
        detailDialog->clearDetails();
    ui->lineEditOTP->clear();
}

void SessionView::showRefused(const QString &message)
{
    // Nothing is in progress any more, so the tray leaves its connecting image.
    if (tray)
        tray->trayFailed();
    statusCard->setStatus(ConnectionStatusCard::Error);
    statusCard->setErrorText(message);
}

void SessionView::showNothingToConnect()
{
    statusCard->setStatus(ConnectionStatusCard::Disconnected);
    if (tray)
        tray->trayFailed();
}

void SessionView::showRefusalBox(const QString &message)
{
    const QPointer<SessionView> self(this);
    refusalOnScreen = message;
    MessageBoxes::showError(window, message);
    if (self)
        refusalOnScreen.clear();
}

bool SessionView::showStatus(const SessionFormat::StatusFields &fields, const QJsonObject &status)
{
    ui->labelChannelType->setText(fields.channelType);
    ui->labelTlsCipherSuite->setText(fields.tlsCipherSuite);
    ui->labelDtlsCipherSuite->setText(fields.dtlsCipherSuite);
    ui->labelDTLSPort->setText(fields.dtlsPort);
    ui->labelServerAddress->setText(fields.serverAddress);
    ui->labelLocalAddress->setText(fields.localAddress);
    ui->labelVPNAddress->setText(fields.vpnAddress);
    ui->labelMTU->setText(fields.mtu);
    ui->labelDNS->setText(fields.dns);
    statusCard->setVpnAddress(fields.vpnAddress);
    if (routesKnown)
        return false;
    routesKnown = true;
    ui->buttonDetails->setEnabled(true);
    excludedRoutes = status.value(QLatin1String("SplitExclude")).toArray();
    securedRoutes = status.value(QLatin1String("SplitInclude")).toArray();
    if (detailDialog)
        detailDialog->setRoutes(excludedRoutes, securedRoutes);
    return true;
}

void SessionView::setInputsEnabled(bool enabled)
{
    ui->comboBoxHost->setEnabled(enabled);
    ui->lineEditOTP->setEnabled(enabled);
    ui->buttonProfile->setEnabled(enabled);
    ui->tabSetting->setEnabled(enabled);
}
