#pragma once

#include "appglobals.h"
#include "configmanager.h"
#include "connectionstatuscard.h"
#include "detaildialog.h"
#include "fakeagent.h"
#include "loading.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "sessioncontroller.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <memory>

// The session tests' fixture: the real window against an in-process agent,
// and the profile and status replies they share.

inline const QString hostName = QStringLiteral("vpn.example.net");

inline QJsonObject officeProfile()
{
    return QJsonObject{{QStringLiteral("host"), hostName},
                       {QStringLiteral("username"), QStringLiteral("alice")},
                       {QStringLiteral("group"), QStringLiteral("staff")},
                       {QStringLiteral("secret"), QStringLiteral("s3")}};
}

inline QJsonObject noSession()
{
    return QJsonObject{{QStringLiteral("code"), 1}, {QStringLiteral("message"), QStringLiteral("no session")}};
}

inline QJsonObject fullStatus()
{
    return QJsonObject{
        {QStringLiteral("DtlsConnected"), true},
        {QStringLiteral("TLSCipherSuite"), QStringLiteral("TLS_AES_256_GCM_SHA384")},
        {QStringLiteral("DTLSCipherSuite"), QStringLiteral("ECDHE-RSA-AES256-GCM-SHA384")},
        {QStringLiteral("DTLSPort"), 443}, // a number where text is expected
        {QStringLiteral("ServerAddress"), QStringLiteral("203.0.113.7")},
        {QStringLiteral("LocalAddress"), QStringLiteral("192.168.0.23")},
        {QStringLiteral("VPNAddress"), QStringLiteral("10.8.0.6")},
        {QStringLiteral("MTU"), 1400},
        {QStringLiteral("DNS"), QJsonArray{QStringLiteral("10.8.0.1"), QStringLiteral("10.8.0.2")}},
        {QStringLiteral("SplitInclude"),
         QJsonArray{QStringLiteral("10.1.2.3/8"), QStringLiteral("192.168.1.0/255.255.255.0")}},
        {QStringLiteral("SplitExclude"), QJsonArray{QStringLiteral("not-a-route")}},
    };
}

inline QStringList tableRows(QTableWidget *table)
{
    QStringList out;
    for (int row = 0; row < table->rowCount(); ++row)
        out << table->item(row, 0)->text() + QLatin1Char('/') + table->item(row, 1)->text();
    return out;
}

// One window wired to its own fake agent, with the profile "office" stored
// (and, optionally, "home"), the minimise switch off unless asked for.
struct Rig
{
    explicit Rig(bool minimize = false)
    {
        env.writeConfigFile(
            QStringLiteral("profile.json"),
            QJsonDocument(QJsonObject{{QStringLiteral("office"), officeProfile()},
                                      {QStringLiteral("home"),
                                       QJsonObject{{QStringLiteral("host"), QStringLiteral("home.example.org")}}}})
                .toJson());
        configManager->config.insert(QStringLiteral("minimize"), minimize);
        configManager->config.insert(QStringLiteral("lastProfile"), QStringLiteral("office"));
        agent.answer(QStringLiteral("config"), QStringLiteral("agent ready"));
        // The probe at each link-up: the agent runs no session.
        agent.answer(QStringLiteral("status"), noSession());
        window = std::make_unique<Orvalin>();
        window->setAgentUrl(agent.url());
        // The offscreen platform has no notification area; most tests want one.
        tray()->setTrayAvailableQuery([this] { return trayAvailable; });
    }

    // Until the agent has the link's "config" and its probe, so a test that
    // changes the "status" answer next does not change the probe's.
    bool start()
    {
        window->show();
        return QTest::qWaitFor(
            [this] {
                return !agent.requestsFor(QStringLiteral("config")).isEmpty() && count(QStringLiteral("status")) > 0;
            },
            5000);
    }

    // Puts a password into the in-memory profile, as the credential store does on restore.
    void restorePassword(const QString &name, const QString &password)
    {
        QJsonObject profile = profiles()->profiles.value(name).toObject();
        profile.insert(QStringLiteral("password"), password);
        profiles()->profiles.insert(name, profile);
    }

    bool connectSession(const QString &otp = QString(), const QJsonObject &status = fullStatus())
    {
        agent.answer(QStringLiteral("connect"), QStringLiteral("connected to vpn.example.net"));
        agent.answer(QStringLiteral("status"), status);
        otpField()->setText(otp);
        QTest::mouseClick(connectButton(), Qt::LeftButton);
        return QTest::qWaitFor([this] { return session()->isSessionConnected() && detailsButton()->isEnabled(); },
                               5000);
    }

    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QPushButton *connectButton() const { return child<QPushButton>("buttonConnect"); }
    QPushButton *detailsButton() const { return child<QPushButton>("buttonDetails"); }
    QLineEdit *otpField() const { return child<QLineEdit>("lineEditOTP"); }
    QComboBox *hostBox() const { return child<QComboBox>("comboBoxHost"); }
    QLabel *label(const char *name) const { return child<QLabel>(name); }
    ConnectionStatusCard *card() const { return window->findChild<ConnectionStatusCard *>(); }
    SessionController *session() const { return window->findChild<SessionController *>(); }
    TrayController *tray() const { return window->findChild<TrayController *>(); }
    ProfileManager *profiles() const { return window->findChild<ProfileManager *>(); }
    Loading *ring() const { return child<Loading>("progressBar"); }
    DetailDialog *details() const { return window->details(); }
    int count(const QString &method) const { return int(agent.requestsFor(method).size()); }

    TestEnv env;
    FakeAgent agent;
    bool trayAvailable = true;
    std::unique_ptr<Orvalin> window;
};
