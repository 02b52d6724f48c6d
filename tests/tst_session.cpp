#include "appglobals.h"
#include "configmanager.h"
#include "connectionhistory.h"
#include "connectionstatuscard.h"
#include "detaildialog.h"
#include "fakeagent.h"
#include "loading.h"
#include "secretstore.h"
#include "sessionrig.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "sessioncontroller.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringListModel>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

// The VPN session through the real window against an in-process agent:
// requests and their parameters, what the controls show at each step, the
// agent's pushes, the timers, and the automatic connection.
namespace {

QByteArray errorReply(int id, const QString &message)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("id"), id},
                                     {QStringLiteral("error"), QJsonObject{{QStringLiteral("message"), message}}}})
        .toJson(QJsonDocument::Compact);
}

const char *valueLabels[] = {"labelChannelType",
                             "labelTlsCipherSuite",
                             "labelDtlsCipherSuite",
                             "labelDTLSPort",
                             "labelServerAddress",
                             "labelLocalAddress",
                             "labelVPNAddress",
                             "labelMTU",
                             "labelDNS"};

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    // Passwords left by other suites in the shared store would be restored
    // into this suite's profiles.
    void init() { secretStoreClearService(); }

    void connectParameters_data()
    {
        QTest::addColumn<QString>("storedPassword"); // "-" for no password restored
        QTest::addColumn<QString>("otp");
        QTest::addColumn<QJsonValue>("sentPassword");
        QTest::newRow("stored + otp") << QStringLiteral("pw") << QStringLiteral("123456")
                                      << QJsonValue(QStringLiteral("pw123456"));
        QTest::newRow("otp alone") << QStringLiteral("-") << QStringLiteral("123456")
                                   << QJsonValue(QStringLiteral("123456"));
        QTest::newRow("stored only") << QStringLiteral("pw") << QString() << QJsonValue(QStringLiteral("pw"));
        QTest::newRow("neither") << QStringLiteral("-") << QString() << QJsonValue(QJsonValue::Undefined);
    }
    void connectParameters()
    {
        QFETCH(QString, storedPassword);
        QFETCH(QString, otp);
        QFETCH(QJsonValue, sentPassword);
        Rig rig;
        QVERIFY(rig.start());
        if (storedPassword != QLatin1String("-"))
            rig.restorePassword(QStringLiteral("office"), storedPassword);
        QCOMPARE(rig.hostBox()->currentText(), QStringLiteral("office"));
        rig.otpField()->setText(otp);
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);

        const FakeAgent::Request request = rig.agent.requestsFor(QStringLiteral("connect")).constFirst();
        QCOMPARE(request.id, 2);
        QJsonObject expected = officeProfile();
        if (!sentPassword.isUndefined())
            expected.insert(QStringLiteral("password"), sentPassword);
        QCOMPARE(request.params, expected);
        // The stored profile keeps its own password.
        const QJsonObject stored = rig.profiles()->profiles.value(QStringLiteral("office")).toObject();
        QCOMPARE(stored.value(QLatin1String("password")).toString(),
                 storedPassword == QLatin1String("-") ? QString() : storedPassword);
        // Connecting: the card names the host, the tray shows the connecting image.
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Connecting);
        QCOMPARE(rig.card()->findChild<QLabel *>(QStringLiteral("serverLabel"))->text(), hostName);
        QCOMPARE(rig.tray()->look(), TrayController::Look::Connecting);
        QVERIFY(rig.connectButton()->isEnabled());
    }

    void fullSession()
    {
        Rig rig;
        configManager->config.insert(QStringLiteral("lastProfile"), QString());
        QVERIFY(rig.start());
        rig.hostBox()->setCurrentText(QStringLiteral("office"));
        QCOMPARE(rig.connectButton()->text(), QStringLiteral("连接"));
        QSignalSpy up(rig.window.get(), &Orvalin::vpnConnected);
        rig.restorePassword(QStringLiteral("office"), QStringLiteral("pw"));
        QVERIFY(rig.connectSession(QStringLiteral("42")));
        QCOMPARE(up.size(), 1);

        // The requests of session up, in order, after the "connect".
        QStringList methods;
        for (const FakeAgent::Request &request : std::as_const(rig.agent.requests))
            methods << request.method;
        QCOMPARE(
            methods.mid(methods.indexOf(QStringLiteral("connect"))),
            (QStringList{QStringLiteral("connect"), QStringLiteral("status"), QStringLiteral("app.split.enabled")}));
        QCOMPARE(rig.agent.requestsFor(QStringLiteral("status")).constFirst().id, 0);

        QCOMPARE(rig.label("statusBar")->text(), QStringLiteral("connected to vpn.example.net"));
        QCOMPARE(rig.connectButton()->text(), QStringLiteral("Disconnect"));
        QVERIFY(!rig.hostBox()->isEnabled());
        QVERIFY(!rig.otpField()->isEnabled());
        QVERIFY(!rig.child<QWidget>("buttonProfile")->isEnabled());
        QVERIFY(!rig.child<QWidget>("tabSetting")->isEnabled());
        QCOMPARE(rig.tray()->look(), TrayController::Look::Connected);
        QVERIFY(!rig.tray()->connectAction()->isEnabled());
        QVERIFY(rig.tray()->disconnectAction()->isEnabled());
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Connected);
        QCOMPARE(rig.card()->findChild<QLabel *>(QStringLiteral("serverLabel"))->text(), hostName);
        QVERIFY(rig.window->isVisible()); // minimise switch off
        QVERIFY(rig.session()->isStatusPolling());
        QCOMPARE(rig.session()->statusPollInterval(), 60000);
        const QJsonObject saved
            = QJsonDocument::fromJson(rig.env.readConfigFile(QStringLiteral("config.json"))).object();
        QCOMPARE(saved.value(QLatin1String("lastProfile")).toString(), QStringLiteral("office"));

        // The status labels and the card.
        QCOMPARE(rig.label("labelChannelType")->text(), QStringLiteral("DTLS"));
        QCOMPARE(rig.label("labelTlsCipherSuite")->text(), QStringLiteral("TLS_AES_256_GCM_SHA384"));
        QCOMPARE(rig.label("labelDtlsCipherSuite")->text(), QStringLiteral("ECDHE-RSA-AES256-GCM-SHA384"));
        QCOMPARE(rig.label("labelDTLSPort")->text(), QString());
        QCOMPARE(rig.label("labelServerAddress")->text(), QStringLiteral("203.0.113.7"));
        QCOMPARE(rig.label("labelLocalAddress")->text(), QStringLiteral("192.168.0.23"));
        QCOMPARE(rig.label("labelVPNAddress")->text(), QStringLiteral("10.8.0.6"));
        QCOMPARE(rig.label("labelMTU")->text(), QStringLiteral("1400"));
        QCOMPARE(rig.label("labelDNS")->text(), QStringLiteral("10.8.0.1,10.8.0.2"));
        QCOMPARE(rig.card()->findChild<QLabel *>(QStringLiteral("vpnLabel"))->text(),
                 QStringLiteral("VPN地址: 10.8.0.6"));

        // Routes from the first status: exclusions first, then the secured ones,
        // in a dialog built only now that it is asked for.
        QVERIFY(!rig.window->findChild<DetailDialog *>());
        auto *excluded = rig.details()->findChild<QTableWidget *>(QStringLiteral("tableExcluded"));
        auto *secured = rig.details()->findChild<QTableWidget *>(QStringLiteral("tableSecured"));
        QCOMPARE(tableRows(excluded), QStringList{QStringLiteral("/-1")});
        QCOMPARE(tableRows(secured), (QStringList{QStringLiteral("10.0.0.0/8"), QStringLiteral("192.168.1.0/24")}));

        // A later status refreshes the labels only; "code" replies are ignored.
        QJsonObject later = fullStatus();
        later.insert(QStringLiteral("VPNAddress"), QStringLiteral("10.8.0.99"));
        later.insert(QStringLiteral("DtlsConnected"), false);
        later.insert(QStringLiteral("SplitInclude"), QJsonArray{QStringLiteral("172.16.0.0/12")});
        rig.agent.answer(QStringLiteral("status"), later);
        QMetaObject::invokeMethod(rig.window.get(), "getVPNStatus");
        QTRY_COMPARE(rig.label("labelVPNAddress")->text(), QStringLiteral("10.8.0.99"));
        QCOMPARE(rig.label("labelChannelType")->text(), QStringLiteral("TLS"));
        QCOMPARE(tableRows(secured), (QStringList{QStringLiteral("10.0.0.0/8"), QStringLiteral("192.168.1.0/24")}));
        rig.agent.answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("code"), 1}});
        QMetaObject::invokeMethod(rig.window.get(), "getVPNStatus");
        QTRY_COMPARE(rig.count(QStringLiteral("status")), 4); // the link's probe, the session's first, two asked
        QTest::qWait(100);
        QCOMPARE(rig.label("labelVPNAddress")->text(), QStringLiteral("10.8.0.99"));

        // The user disconnects: everything returns to idle.
        QSignalSpy down(rig.window.get(), &Orvalin::vpnClosed);
        rig.agent.answer(QStringLiteral("disconnect"), QStringLiteral("disconnected"));
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(down.size(), 1);
        const FakeAgent::Request disconnect = rig.agent.requestsFor(QStringLiteral("disconnect")).constFirst();
        QCOMPARE(disconnect.id, 3);
        QCOMPARE(disconnect.params, QJsonObject());
        QCOMPARE(rig.label("statusBar")->text(), QStringLiteral("disconnected"));
        QCOMPARE(rig.connectButton()->text(), QStringLiteral("Connect"));
        for (const char *name : valueLabels)
            QVERIFY2(rig.label(name)->text().isEmpty(), name);
        QVERIFY(!rig.detailsButton()->isEnabled());
        QCOMPARE(excluded->rowCount() + secured->rowCount(), 0);
        QVERIFY(rig.otpField()->text().isEmpty());
        QVERIFY(rig.hostBox()->isEnabled() && rig.otpField()->isEnabled());
        QVERIFY(rig.child<QWidget>("tabSetting")->isEnabled());
        QVERIFY(!rig.session()->isStatusPolling());
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Disconnected);
        QCOMPARE(rig.tray()->look(), TrayController::Look::NotConnected);
        QVERIFY(rig.tray()->connectAction()->isEnabled());
        QVERIFY(!rig.tray()->disconnectAction()->isEnabled());
        QVERIFY(rig.window->isVisible());

        // A second session with the same profile does not write the settings again.
        QVERIFY(QFile::remove(rig.env.configFile(QStringLiteral("config.json"))));
        QVERIFY(rig.connectSession(QString(), later));
        QVERIFY(!QFile::exists(rig.env.configFile(QStringLiteral("config.json"))));
        QCOMPARE(rig.label("labelVPNAddress")->text(), QStringLiteral("10.8.0.99"));
        QCOMPARE(tableRows(secured), QStringList{QStringLiteral("172.16.0.0/12")});
    }

    void refusedConnection()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.answerError(
            QStringLiteral("connect"),
            QJsonObject{{QStringLiteral("code"), -1}, {QStringLiteral("message"), QStringLiteral("认证失败")}});
        QSignalSpy up(rig.window.get(), &Orvalin::vpnConnected);
        QString boxText;
        closeNextModalBox(&boxText);
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(boxText, QStringLiteral("认证失败"));
        QTRY_COMPARE(rig.card()->status(), ConnectionStatusCard::Error);
        QCOMPARE(rig.card()->findChild<QLabel *>(QStringLiteral("errorLabel"))->text(), QStringLiteral("认证失败"));
        QCOMPARE(up.size(), 0);
        // Nothing is in progress any more: the tray leaves the connecting image.
        QCOMPARE(rig.tray()->look(), TrayController::Look::NotConnected);
        QCOMPARE(rig.connectButton()->text(), QStringLiteral("连接"));
        QVERIFY(rig.hostBox()->isEnabled() && rig.otpField()->isEnabled());
        QVERIFY(!rig.session()->isSessionConnected());

        // The card's retry button sends a fresh "connect".
        closeNextModalBox();
        QPushButton *retry = nullptr;
        for (QPushButton *button : rig.card()->findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("重试"))
                retry = button;
        QVERIFY(retry);
        QTest::mouseClick(retry, Qt::LeftButton);
        QTRY_COMPARE(rig.count(QStringLiteral("connect")), 2);
        QTRY_COMPARE(rig.card()->status(), ConnectionStatusCard::Error);
    }

    void refusedWhileHiddenShowsWindow()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.answerError(QStringLiteral("connect"),
                              QJsonObject{{QStringLiteral("message"), QStringLiteral("no")}});
        rig.window->hide();
        closeNextModalBox();
        QMetaObject::invokeMethod(rig.window.get(), "connectVPN", Q_ARG(bool, false));
        QTRY_VERIFY(rig.window->isVisible());
        QTRY_COMPARE(rig.card()->status(), ConnectionStatusCard::Error);
    }

    void stringErrorMemberIsSuccess()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.answerError(QStringLiteral("connect"), QStringLiteral("warning: weak cipher"));
        rig.agent.answer(QStringLiteral("status"), fullStatus());
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(rig.session()->isSessionConnected());
        QCOMPARE(rig.label("statusBar")->text(), QStringLiteral("warning: weak cipher"));
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Connected);
    }

    void lostSessionReconnects()
    {
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession(QStringLiteral("777")));
        const QJsonObject parameters = rig.agent.requestsFor(QStringLiteral("connect")).constFirst().params;
        rig.agent.answer(QStringLiteral("reconnect"), QStringLiteral("reconnected"));
        // The user changes the selection meanwhile; the reconnection keeps the old parameters.
        QElapsedTimer clock;
        clock.start();
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_COMPARE(rig.label("statusBar")->text(), QStringLiteral("connection lost"));
        QVERIFY(!rig.session()->isSessionConnected());
        QCOMPARE(rig.connectButton()->text(), QStringLiteral("Connect"));
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Disconnected);
        rig.hostBox()->setCurrentText(QStringLiteral("home"));

        QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("reconnect")), 1, 4000);
        const qint64 delay = clock.elapsed();
        QVERIFY2(delay >= 1400 && delay < 2600, qPrintable(QString::number(delay)));
        const FakeAgent::Request reconnect = rig.agent.requestsFor(QStringLiteral("reconnect")).constFirst();
        QCOMPARE(reconnect.id, 4);
        QCOMPARE(reconnect.params, parameters);
        QCOMPARE(reconnect.params.value(QLatin1String("password")).toString(), QStringLiteral("777"));
        QTRY_VERIFY(rig.session()->isSessionConnected());
        QCOMPARE(rig.label("statusBar")->text(), QStringLiteral("reconnected"));
        QCOMPARE(rig.count(QStringLiteral("connect")), 1);
    }

    void lostAfterUserDisconnectStaysDown()
    {
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        // The agent never answers the "disconnect", then reports the loss.
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(rig.count(QStringLiteral("disconnect")), 1);
        QVERIFY(rig.session()->isSessionConnected()); // still the connected look
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QTest::qWait(2200);
        QCOMPARE(rig.count(QStringLiteral("reconnect")), 0);
        QCOMPARE(rig.count(QStringLiteral("connect")), 1);
    }

    void refusedReconnect_data()
    {
        QTest::addColumn<bool>("profileLeft");
        QTest::newRow("fresh connect after 3 s") << true;
        QTest::newRow("no profile left: idle") << false;
    }
    void refusedReconnect()
    {
        QFETCH(bool, profileLeft);
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        rig.agent.answerError(QStringLiteral("reconnect"),
                              QJsonObject{{QStringLiteral("message"), QStringLiteral("session expired")}});
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("reconnect")), 1, 4000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Connecting);

        if (!profileLeft) {
            // The user removes every profile before the fresh attempt is due:
            // nothing is in progress any more.
            rig.profiles()->model->setStringList({});
            QVERIFY(rig.hostBox()->currentText().isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(rig.card()->status(), ConnectionStatusCard::Disconnected, 5000);
            QCOMPARE(rig.tray()->look(), TrayController::Look::NotConnected);
            QCOMPARE(rig.count(QStringLiteral("connect")), 1);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("connect")), 2, 6000);
        const qint64 delay = clock.elapsed();
        QVERIFY2(delay >= 2700 && delay < 4000, qPrintable(QString::number(delay)));
        QCOMPARE(rig.agent.requestsFor(QStringLiteral("connect")).constLast().id, 2);
        QTRY_VERIFY(rig.session()->isSessionConnected());
    }

    void lateStatusAfterSessionEndIgnored()
    {
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        rig.agent.answer(QStringLiteral("disconnect"), QStringLiteral("disconnected"));
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(!rig.session()->isSessionConnected());

        // A status answer still on its way when the session ended.
        rig.agent.push(0, fullStatus());
        QTest::qWait(200);
        for (const char *name : valueLabels)
            QVERIFY2(rig.label(name)->text().isEmpty(), name);
        QVERIFY(!rig.detailsButton()->isEnabled());
        auto *excluded = rig.details()->findChild<QTableWidget *>(QStringLiteral("tableExcluded"));
        auto *secured = rig.details()->findChild<QTableWidget *>(QStringLiteral("tableSecured"));
        QCOMPARE(excluded->rowCount() + secured->rowCount(), 0);

        // The next session shows its own routes.
        QJsonObject next = fullStatus();
        next.insert(QStringLiteral("SplitInclude"), QJsonArray{QStringLiteral("172.16.0.0/12")});
        next.remove(QStringLiteral("SplitExclude"));
        QVERIFY(rig.connectSession(QString(), next));
        QCOMPARE(tableRows(secured), QStringList{QStringLiteral("172.16.0.0/12")});
        QCOMPARE(excluded->rowCount(), 0);
    }

    void closedPushShowsHiddenWindow()
    {
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        rig.window->close(); // hides into the tray while the session is up
        QVERIFY(rig.window->isHidden());
        QVERIFY(rig.tray()->icon()->isVisible());
        rig.agent.push(3, QStringLiteral("session ended by server"));
        QTRY_VERIFY(rig.window->isVisible());
        QVERIFY(!rig.session()->isSessionConnected());
        QCOMPARE(rig.label("statusBar")->text(), QStringLiteral("session ended by server"));

        // After a user disconnect the window stays in the tray.
        QVERIFY(rig.connectSession());
        rig.window->close();
        rig.agent.answer(QStringLiteral("disconnect"), QStringLiteral("disconnected"));
        rig.tray()->disconnectAction()->trigger();
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QTest::qWait(100);
        QVERIFY(rig.window->isHidden());
    }

    void minimizeOnConnect()
    {
        Rig rig(true);
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        QTRY_VERIFY(rig.window->isHidden());
        QCOMPARE(rig.tray()->icon()->toolTip(), QStringLiteral("已连接到: ") + hostName);
    }

    void statusPolling_data()
    {
        QTest::addColumn<bool>("noDtls");
        QTest::newRow("dtls") << false;
        QTest::newRow("no_dtls") << true;
    }
    void statusPolling()
    {
        QFETCH(bool, noDtls);
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        configManager->config.insert(QStringLiteral("no_dtls"), noDtls);
        auto *timer = rig.session()->findChild<QTimer *>(QStringLiteral("statusTimer"));
        QVERIFY(timer && timer->isActive());
        const int before = rig.count(QStringLiteral("status"));
        timer->start(100); // let the 60 s poll come round quickly
        QTest::qWait(550);
        QVERIFY(timer->isActive()); // the timer runs either way
        if (noDtls)
            QCOMPARE(rig.count(QStringLiteral("status")), before);
        else
            QVERIFY(rig.count(QStringLiteral("status")) >= before + 3);
    }

    void automaticConnection_data()
    {
        QTest::addColumn<bool>("autoLogin");
        QTest::addColumn<QString>("restored");
        QTest::addColumn<bool>("connects");
        QTest::newRow("last profile, auto on") << true << QStringLiteral("office") << true;
        QTest::newRow("other profile") << true << QStringLiteral("home") << false;
        QTest::newRow("auto off") << false << QStringLiteral("office") << false;
    }
    void automaticConnection()
    {
        QFETCH(bool, autoLogin);
        QFETCH(QString, restored);
        QFETCH(bool, connects);
        Rig rig;
        configManager->config.insert(QStringLiteral("autoLogin"), autoLogin);
        QVERIFY(rig.start());
        agentAnswersConnect(rig);
        QElapsedTimer clock;
        clock.start();
        emit rig.profiles()->keyRestored(restored);
        if (connects) {
            QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
            QVERIFY(clock.elapsed() >= 450);
            QCOMPARE(rig.agent.requestsFor(QStringLiteral("connect"))
                         .constFirst()
                         .params.value(QLatin1String("host"))
                         .toString(),
                     hostName);
        } else {
            QTest::qWait(900);
            QCOMPARE(rig.count(QStringLiteral("connect")), 0);
        }
    }

    void returnKeyInOneTimePassword()
    {
        Rig rig;
        QVERIFY(rig.start());
        agentAnswersConnect(rig);
        QCOMPARE(rig.window->focusWidget(), rig.otpField());
        QTest::keyClick(rig.otpField(), Qt::Key_Return);
        QTest::qWait(200);
        QCOMPARE(rig.count(QStringLiteral("connect")), 0); // empty field: nothing
        QTest::keyClicks(rig.otpField(), QStringLiteral("314159"));
        QTest::keyClick(rig.otpField(), Qt::Key_Return);
        QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
        QCOMPARE(rig.agent.requestsFor(QStringLiteral("connect"))
                     .constFirst()
                     .params.value(QLatin1String("password"))
                     .toString(),
                 QStringLiteral("314159"));
    }

    // A loss schedules "reconnect" 1.5 s later; a user who connects (and maybe
    // disconnects) within that time must not get the old session back on top.
    void reconnectDelayDroppedWhenUserActs_data()
    {
        QTest::addColumn<bool>("alsoDisconnect");
        QTest::newRow("user connects") << false;
        QTest::newRow("user connects, then disconnects") << true;
    }
    void reconnectDelayDroppedWhenUserActs()
    {
        QFETCH(bool, alsoDisconnect);
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        rig.agent.answer(QStringLiteral("reconnect"), QStringLiteral("reconnected"));
        rig.agent.answer(QStringLiteral("disconnect"), QStringLiteral("disconnected"));
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QVERIFY(rig.connectSession());
        if (alsoDisconnect) {
            QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
            QTRY_VERIFY(!rig.session()->isSessionConnected());
        }
        QTest::qWait(2000); // past the reconnection delay
        QCOMPARE(rig.count(QStringLiteral("reconnect")), 0);
        QCOMPARE(rig.count(QStringLiteral("connect")), 2);
        QCOMPARE(rig.session()->isSessionConnected(), !alsoDisconnect);
    }

    void retryAfterRefusedReconnectDroppedWhenUserConnects()
    {
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        rig.agent.answerError(QStringLiteral("reconnect"),
                              QJsonObject{{QStringLiteral("message"), QStringLiteral("expired")}});
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("reconnect")), 1, 4000);
        QTRY_VERIFY(!rig.ring()->isRunning()); // the refusal is in: the 3 s retry is due
        QVERIFY(rig.connectSession());
        QTest::qWait(3500);
        QCOMPARE(rig.count(QStringLiteral("connect")), 2);
        QVERIFY(rig.session()->isSessionConnected());
    }

    void automaticConnectionDroppedWhenUserConnects()
    {
        Rig rig;
        configManager->config.insert(QStringLiteral("autoLogin"), true);
        QVERIFY(rig.start());
        emit rig.profiles()->keyRestored(QStringLiteral("office"));
        QVERIFY(rig.connectSession()); // quicker than the 500 ms
        QTest::qWait(800);
        QCOMPARE(rig.count(QStringLiteral("connect")), 1);
    }

    // Two "connect" in flight (a double click): the first brings the session
    // up, the second is refused. The refusal reaches the status line and
    // nothing else: no box, no Error card, no "重试" over a live session.
    void refusalLeavesLiveSessionAlone()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.answer(QStringLiteral("status"), fullStatus());
        // Both replies go out once both requests are in: success, then refusal.
        int calls = 0;
        rig.agent.setResponder(QStringLiteral("connect"), [&](const FakeAgent::Request &request) {
            if (++calls < 2)
                return std::optional<QJsonValue>();
            rig.agent.push(request.id, QStringLiteral("connected"));
            rig.agent.sendText(QString::fromUtf8(errorReply(request.id, QStringLiteral("already connected"))));
            return std::optional<QJsonValue>();
        });
        QString boxText;
        closeNextModalBox(&boxText, 3000); // an error box, should one wrongly appear
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(rig.label("statusBar")->text(), QStringLiteral("already connected"));
        QTest::qWait(100);
        QCOMPARE(boxText, QString());

        QVERIFY(rig.session()->isSessionConnected());
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Connected);
        QCOMPARE(rig.tray()->look(), TrayController::Look::Connected);
        QCOMPARE(rig.connectButton()->text(), QStringLiteral("Disconnect"));
        // The button ends the live session; it does not connect on top of it.
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(rig.count(QStringLiteral("disconnect")), 1);
        QCOMPARE(rig.count(QStringLiteral("connect")), 2);
    }

    // A double click sends two "connect"; the user disconnects between the
    // two answers. The second success must not undo that request, or the
    // agent's answer to "disconnect" would count as an end by the server.
    void secondSuccessKeepsUserDisconnect()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.answer(QStringLiteral("status"), fullStatus());
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(rig.count(QStringLiteral("connect")), 2);
        rig.agent.push(2, QStringLiteral("connected"));
        QTRY_VERIFY(rig.session()->isSessionConnected());
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(rig.count(QStringLiteral("disconnect")), 1);
        rig.window->close(); // into the tray, as the user leaves it

        rig.agent.push(2, QStringLiteral("already connected"));
        QTRY_COMPARE(rig.label("statusBar")->text(), QStringLiteral("already connected"));
        QVERIFY(rig.session()->isDisconnectRequested());
        QVERIFY(rig.session()->isSessionConnected());

        rig.agent.push(3, QStringLiteral("disconnected"));
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QTest::qWait(50);
        QVERIFY(rig.window->isHidden());
        const QList<QJsonObject> events = rig.session()->history().events();
        QCOMPARE(events.constLast().value(QLatin1String("event")).toString(), ConnectionHistory::disconnected);
        int ups = 0;
        for (const QJsonObject &event : events)
            ups += event.value(QLatin1String("event")).toString() == ConnectionHistory::connected;
        QCOMPARE(ups, 1);
    }

    // The session is lost while a fresh "connect" is still unanswered, and the
    // agent then refuses that connect: the credentials and one-time password
    // it has just rejected are not sent again by the pending reconnection.
    void refusalEndsPendingReconnection()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.answerError(QStringLiteral("reconnect"),
                              QJsonObject{{QStringLiteral("message"), QStringLiteral("no")}});
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_COMPARE(rig.label("statusBar")->text(), QStringLiteral("connection lost"));
        QString boxText;
        closeNextModalBox(&boxText);
        rig.agent.sendText(QString::fromUtf8(errorReply(2, QStringLiteral("bad one-time password"))));
        QTRY_COMPARE(boxText, QStringLiteral("bad one-time password"));
        QTest::qWait(2000); // past the 1.5 s reconnection delay
        QCOMPARE(rig.count(QStringLiteral("reconnect")), 0);
        QCOMPARE(rig.count(QStringLiteral("connect")), 1);
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Error);
    }

    // The "Error" box of a refused connect waits for the user; the agent link
    // must not wait with it.
    void errorBoxDoesNotBlockTheLink()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.setResponder(QStringLiteral("connect"), [&](const FakeAgent::Request &request) {
            rig.agent.sendText(QString::fromUtf8(errorReply(request.id, QStringLiteral("denied"))));
            // Anything the agent says next, here a late answer to "config".
            rig.agent.push(1, QStringLiteral("agent still talking"));
            return std::optional<QJsonValue>();
        });
        QString seenWhileOpen;
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer poll;
        connect(&poll, &QTimer::timeout, &poll, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seenWhileOpen = rig.label("statusBar")->text();
            // Give the link a moment while the box is open, then dismiss it.
            if (seenWhileOpen == QStringLiteral("agent still talking") || elapsed.elapsed() > 1500)
                box->done(QMessageBox::Ok);
        });
        poll.start(20);
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(!seenWhileOpen.isEmpty());
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(seenWhileOpen, QStringLiteral("agent still talking"));
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Error);
    }

    // Without a notification area a session's window sits minimised on the
    // taskbar; an end the user did not ask for brings it back all the same.
    void minimisedWindowComesBack_data()
    {
        QTest::addColumn<bool>("linkFails");
        QTest::newRow("session ended by the server") << false;
        QTest::newRow("link to the agent fails") << true;
    }
    void minimisedWindowComesBack()
    {
        QFETCH(bool, linkFails);
        Rig rig;
        rig.trayAvailable = false;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        rig.window->close();
        QTRY_VERIFY(rig.window->isMinimized());
        if (linkFails)
            rig.agent.dropClients();
        else
            rig.agent.push(3, QStringLiteral("session ended by the administrator"));
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QTRY_VERIFY(!rig.window->isMinimized());
        QVERIFY(rig.window->isVisible());
    }

    void lastProfileIsTheProfileSent()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.answer(QStringLiteral("status"), fullStatus());
        rig.hostBox()->setCurrentText(QStringLiteral("home"));
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
        // The selector stays enabled while connecting; the user moves it.
        rig.hostBox()->setCurrentText(QStringLiteral("office"));
        rig.agent.push(2, QStringLiteral("connected"));
        QTRY_VERIFY(rig.session()->isSessionConnected());
        QCOMPARE(configManager->config.value(QLatin1String("lastProfile")).toString(), QStringLiteral("home"));
        const QJsonObject saved
            = QJsonDocument::fromJson(rig.env.readConfigFile(QStringLiteral("config.json"))).object();
        QCOMPARE(saved.value(QLatin1String("lastProfile")).toString(), QStringLiteral("home"));
    }

    void sameProfileAsLastDoesNotWriteSettings()
    {
        Rig rig; // "lastProfile" is "office", which is selected
        QVERIFY(rig.start());
        QFile::remove(rig.env.configFile(QStringLiteral("config.json")));
        QVERIFY(rig.connectSession());
        QVERIFY(!QFile::exists(rig.env.configFile(QStringLiteral("config.json"))));
    }

    // Without a notification area nothing would draw the icon: a window hidden
    // into it could not be found again, so it is minimised instead.
    void withoutNotificationAreaMinimises_data()
    {
        QTest::addColumn<bool>("minimizeOnConnect");
        QTest::newRow("user closes during a session") << false;
        QTest::newRow("minimise on connect") << true;
    }
    void withoutNotificationAreaMinimises()
    {
        QFETCH(bool, minimizeOnConnect);
        Rig rig(minimizeOnConnect);
        rig.trayAvailable = false;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        if (!minimizeOnConnect)
            rig.window->close();
        QTRY_VERIFY(rig.window->isMinimized());
        QVERIFY(rig.window->isVisible());
        QVERIFY(!rig.tray()->icon()->isVisible());
        QVERIFY(rig.session()->isSessionConnected());
    }

    void agentAbsentDoesNothing()
    {
        TestEnv env;
        env.writeConfigFile(QStringLiteral("profile.json"),
                            QJsonDocument(QJsonObject{{QStringLiteral("office"), officeProfile()}}).toJson());
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        Orvalin window;
        window.setAgentUrl(QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port)));
        window.show();
        auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
        QTRY_VERIFY(!statusBar->text().isEmpty()
                    && !window.findChild<QPushButton *>(QStringLiteral("buttonConnect"))->isEnabled());
        auto *tray = window.findChild<TrayController *>();
        auto *card = window.findChild<ConnectionStatusCard *>();
        window.findChild<QLineEdit *>(QStringLiteral("lineEditOTP"))->setText(QStringLiteral("1"));
        QTest::keyClick(window.findChild<QLineEdit *>(QStringLiteral("lineEditOTP")), Qt::Key_Return);
        tray->connectAction()->trigger();
        QMetaObject::invokeMethod(&window, "disconnectVPN");
        QTest::qWait(100);
        QCOMPARE(card->status(), ConnectionStatusCard::Disconnected);
        QCOMPARE(tray->look(), TrayController::Look::NotConnected);
        QVERIFY(!window.findChild<SessionController *>()->isDisconnectRequested());
    }

private:
    static void agentAnswersConnect(Rig &rig)
    {
        rig.agent.answer(QStringLiteral("connect"), QStringLiteral("ok"));
        rig.agent.answer(QStringLiteral("status"), fullStatus());
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
