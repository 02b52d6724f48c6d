#include "abouttab.h"
#include "agentlink.h"
#include "diagnosticsreport.h"
#include "appglobals.h"
#include "configmanager.h"
#include "diagnosticsreport.h"
#include "fakeagent.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "redaction.h"
#include "secretstore.h"
#include "sessioncontroller.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

// The diagnostics report: what redaction removes, a report exported from a
// window holding planted secrets, and a write that fails.
namespace {

const QString plantedPassword = QStringLiteral("Pl4nted-Passw0rd");
const QString plantedSecret = QStringLiteral("Pl4nted-Secr3t");
const QString plantedOtp = QStringLiteral("731902");

const QStringList headings{
    QStringLiteral("== Version and system =="), QStringLiteral("== Settings =="),
    QStringLiteral("== Profiles =="),           QStringLiteral("== Agent link =="),
    QStringLiteral("== Connection history =="), QStringLiteral("== Agent log (last 500 lines) =="),
};

struct Rig
{
    Rig()
    {
        env.writeConfigFile(
            QStringLiteral("profile.json"),
            QJsonDocument(QJsonObject{{QStringLiteral("office"),
                                       QJsonObject{{QStringLiteral("host"), QStringLiteral("vpn.example.net")},
                                                   {QStringLiteral("username"), QStringLiteral("alice")},
                                                   {QStringLiteral("group"), QStringLiteral("staff")},
                                                   {QStringLiteral("secret"), plantedSecret}}}})
                .toJson());
        configManager->config.insert(QStringLiteral("minimize"), false);
        configManager->config.insert(QStringLiteral("lastProfile"), QStringLiteral("office"));
        agent.answer(QStringLiteral("config"), QStringLiteral("agent ready"));
        // The probe at link-up: no session yet.
        agent.answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("code"), 1}});
        window = std::make_unique<Orvalin>();
        window->setAgentUrl(agent.url());
        window->findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
        about()->setPathChooser([this](const QString &suggested) {
            suggestedPath = suggested;
            return chosenPath;
        });
    }

    bool start()
    {
        window->show();
        // Until the reply to "config" has written the status line and the
        // probe has been answered.
        return QTest::qWaitFor(
            [this] {
                return statusBar()->text() == QLatin1String("agent ready")
                       && !agent.requestsFor(QStringLiteral("status")).isEmpty();
            },
            5000);
    }

    AboutTab *about() const { return window->findChild<AboutTab *>(); }
    SessionController *session() const { return window->findChild<SessionController *>(); }
    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(QLatin1String(name)); }
    QLabel *statusBar() const { return window->findChild<QLabel *>(QStringLiteral("statusBar")); }

    TestEnv env;
    FakeAgent agent;
    std::unique_ptr<Orvalin> window;
    QString chosenPath;
    QString suggestedPath;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    void init() { secretStoreClearService(); }

    void redaction_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("literals");
        QTest::addColumn<QString>("expected");

        const QStringList none;
        QTest::newRow("JSON string") << "{\"username\":\"alice\",\"password\":\"hunter2\"}" << none
                                     << "{\"username\":\"alice\",\"password\":\"[redacted]\"}";
        QTest::newRow("JSON with spaces and escapes") << "{\"Secret\" : \"a\\\"b,c\", \"group\": \"staff\"}" << none
                                                      << "{\"Secret\" : \"[redacted]\", \"group\": \"staff\"}";
        QTest::newRow("JSON number") << "{\"otp\": 123456, \"mtu\": 1400}" << none
                                     << "{\"otp\": \"[redacted]\", \"mtu\": 1400}";
        QTest::newRow("key=value") << "login user=alice password=hunter2 otp=123456 host=vpn" << none
                                   << "login user=alice password=[redacted] otp=[redacted] host=vpn";
        QTest::newRow("longer key names") << "user_password=x1&access_token=abc&page=2" << none
                                          << "user_password=[redacted]&access_token=[redacted]&page=2";
        QTest::newRow("header") << "Authorization: Bearer eyJhbGciOi.x.y\nAccept: */*" << none
                                << "Authorization: Bearer [redacted]\nAccept: */*";
        QTest::newRow("quoted value") << "secret='two words' next=1" << none << "secret=[redacted] next=1";
        QTest::newRow("literal anywhere")
            << "tunnel up, using hunter2 as key" << QStringList{"hunter2"} << "tunnel up, using [redacted] as key";
        QTest::newRow("literal as a key's value") << "login password=hunter2 otp=42" << QStringList{"hunter2", "42"}
                                                  << "login password=[redacted] otp=[redacted]";
        QTest::newRow("password with OTP first")
            << "sent pw42 then pw" << QStringList{"pw", "pw42"} << "sent [redacted] then [redacted]";
        QTest::newRow("literal escaped in JSON")
            << "{\"note\":\"a\\\"q\"}" << QStringList{"a\"q"} << "{\"note\":\"[redacted]\"}";
        QTest::newRow("nothing secret") << "DNS=10.8.0.1 MTU=1400 tokenizer" << none
                                        << "DNS=10.8.0.1 MTU=1400 tokenizer";
        // A text cut to its bound can end in the beginning of a secret.
        QTest::newRow("literal cut at a bound")
            << QStringLiteral("rejected hunt…") << QStringList{"hunter2"} << QStringLiteral("rejected [redacted]…");
        QTest::newRow("no cut, no prefix removed")
            << QStringLiteral("rejected hunt") << QStringList{"hunter2"} << QStringLiteral("rejected hunt");
    }
    void redaction()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, literals);
        QFETCH(QString, expected);
        QCOMPARE(redactSecrets(text, literals), expected);
    }

    // What the agent said reaches the report bounded: the status values, the
    // log's lines, and a huge log read from its end only. A secret is removed
    // before a value is cut, so no beginning of one is left.
    void reportKeepsAgentTextBounded()
    {
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("tunwarden.log"));
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("first\n");
        log.write(QByteArray(3 * 1024 * 1024, 'y'));
        log.write("\n");
        log.write(QByteArray(600 * 1024, 'w'));
        log.write("\nlast line\n");
        log.close();

        DiagnosticsReport::Input input;
        input.logPath = logPath;
        input.secrets = QStringList{plantedPassword};
        input.lastStatus.insert(QStringLiteral("TLSCipherSuite"), QString(100000, QLatin1Char('z')));
        input.lastStatus.insert(QStringLiteral("ServerAddress"),
                                QString(QString(1015, QLatin1Char('a')) + plantedPassword));
        const QString report = DiagnosticsReport::compose(input);

        for (const QString &line : report.split(QLatin1Char('\n')))
            QVERIFY2(line.toUtf8().size() <= 1100, qPrintable(line.left(40)));
        QVERIFY(report.contains(QStringLiteral("  TLSCipherSuite: zzz")));
        QVERIFY(report.contains(QStringLiteral("\nlast line\n")));
        QVERIFY(report.contains(QStringLiteral("\nwww")) && report.contains(QStringLiteral("www…\n")));
        QVERIFY(!report.contains(QStringLiteral("yyy")) && !report.contains(QStringLiteral("first")));
        QVERIFY(!report.contains(plantedPassword.left(3)));
        QVERIFY2(report.size() < 64 * 1024, qPrintable(QString::number(report.size())));
    }

    // Secrets planted in the profile file, the credential store, the typed
    // one-time password and the agent's log never reach the report.
    void exportRedactsPlantedSecrets()
    {
        QVERIFY(secretStoreSet(QStringLiteral("office"), plantedPassword));
        Rig rig;
        QSignalSpy restored(rig.window->findChild<ProfileManager *>(), &ProfileManager::keyRestored);
        QVERIFY(rig.start());
        QTRY_COMPARE_WITH_TIMEOUT(restored.size(), 1, 10000);

        rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
        rig.agent.answer(
            QStringLiteral("status"),
            QJsonObject{{QStringLiteral("VPNAddress"), QStringLiteral("10.8.0.6")}, {QStringLiteral("MTU"), 1400}});
        rig.window->findChild<QLineEdit *>(QStringLiteral("lineEditOTP"))->setText(plantedOtp);
        QTest::mouseClick(rig.button("buttonConnect"), Qt::LeftButton);
        QTRY_VERIFY(rig.session()->isSessionConnected() && rig.button("buttonDetails")->isEnabled());
        QCOMPARE(rig.agent.requestsFor(QStringLiteral("connect")).constFirst().params.value(QLatin1String("password")),
                 QJsonValue(plantedPassword + plantedOtp));
        // The session ends before the export: the one-time password field is
        // empty again, yet the agent's log still holds what was typed.
        rig.agent.push(3, QStringLiteral("session ended"));
        QTRY_VERIFY(!rig.session()->isSessionConnected());

        // 603 lines: the report keeps the last 500, from "log line 104" on.
        QFile log(tempLocation + QStringLiteral("/tunwarden.log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        for (int i = 1; i <= 600; ++i)
            log.write(QByteArray("log line ") + QByteArray::number(i) + '\n');
        log.write(
            QStringLiteral("request {\"username\":\"alice\",\"password\":\"%1%2\",\"secret\":\"%3\",\"otp\":\"%2\"}\n")
                .arg(plantedPassword, plantedOtp, plantedSecret)
                .toUtf8());
        log.write(QStringLiteral("login username=alice password=%1 secret=%2 otp=%3\n")
                      .arg(plantedPassword, plantedSecret, plantedOtp)
                      .toUtf8());
        log.write(QStringLiteral("retrying with %1 and code %2 for %3\n")
                      .arg(plantedPassword, plantedOtp, plantedSecret)
                      .toUtf8());
        log.close();

        QTemporaryDir out;
        rig.chosenPath = out.filePath(QStringLiteral("report.txt"));
        QTest::mouseClick(rig.button("buttonExportDiagnostics"), Qt::LeftButton);
        QVERIFY(QFile::exists(rig.chosenPath));

        const QString report = QString::fromUtf8(readFile(rig.chosenPath));
        for (const QString &planted : {plantedPassword, plantedSecret, plantedOtp})
            QVERIFY2(!report.contains(planted), qPrintable(planted));
        QVERIFY(report.contains(QStringLiteral("[redacted]")));
        for (const QString &heading : headings)
            QVERIFY2(report.contains(heading), qPrintable(heading));
        // What the helpdesk needs is still there.
        QVERIFY(report.contains(QStringLiteral("Product version: ") + appVersion));
        QVERIFY(report.contains(QStringLiteral("username: alice")));
        QVERIFY(report.contains(QStringLiteral("VPNAddress: 10.8.0.6")));
        QVERIFY(report.contains(QStringLiteral("\"event\":\"connected\"")));
        QVERIFY(report.contains(QStringLiteral("\"lastProfile\": \"office\"")));
        QVERIFY(report.contains(QStringLiteral("\nlog line 104\n")));
        QVERIFY(!report.contains(QStringLiteral("\nlog line 103\n")));
        QVERIFY(report.contains(QStringLiteral("login username=alice password=[redacted]")));

        QVERIFY(rig.statusBar()->text().contains(QDir::toNativeSeparators(rig.chosenPath)));
        const QFileInfo suggested(rig.suggestedPath);
        QCOMPARE(suggested.absolutePath(), QDir::homePath());
        QVERIFY2(QRegularExpression(QStringLiteral("^kestrum-diagnostics-\\d{8}-\\d{6}\\.txt$"))
                     .match(suggested.fileName())
                     .hasMatch(),
                 qPrintable(suggested.fileName()));
    }

    // The agent is not there: the report tells how the link stands and how
    // often it was tried; once the agent is back, that the link came back.
    void reportShowsTheLink()
    {
        TestEnv env;
        quint16 port = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            port = probe.serverPort();
        }
        Orvalin window;
        window.setAgentUrl(QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port)));
        window.show();
        auto *session = window.findChild<SessionController *>();
        QTRY_VERIFY_WITH_TIMEOUT(session->agentLink() && session->agentLink()->retryCount() >= 2, 5000);
        QString report = DiagnosticsReport::compose(DiagnosticsReport::gather(session));
        QVERIFY2(report.contains(QStringLiteral("Link: not connected\nLink state: waiting, next try in ")),
                 qPrintable(report));
        QVERIFY(
            QRegularExpression(QStringLiteral("Link retries since it was last up: [2-9]\n")).match(report).hasMatch());

        FakeAgent agent(nullptr, port);
        QTRY_VERIFY_WITH_TIMEOUT(session->isLinkUp(), 8000);
        agent.dropClients();
        QTRY_COMPARE_WITH_TIMEOUT(agent.linkCount(), 2, 3000);
        QTRY_VERIFY(session->isLinkUp());
        report = DiagnosticsReport::compose(DiagnosticsReport::gather(session));
        QVERIFY2(
            report.contains(QStringLiteral("Link: connected\nLink state: up\nLink retries since it was last up: 0\n"
                                           "Link restored since start: 1 times\n")),
            qPrintable(report));
    }

    void failedWriteLeavesNoFile_data()
    {
        QTest::addColumn<bool>("sizeLimit");
        QTest::newRow("folder missing") << false;
#ifdef Q_OS_LINUX
        QTest::newRow("disk full midway") << true;
#endif
    }
    void failedWriteLeavesNoFile()
    {
        QFETCH(bool, sizeLimit);
        Rig rig;
        QVERIFY(rig.start());
        QTemporaryDir out;
        rig.chosenPath = sizeLimit ? out.filePath(QStringLiteral("report.txt"))
                                   : out.filePath(QStringLiteral("missing/report.txt"));
        const QString before = rig.statusBar()->text();

        QString boxText;
        closeNextModalBox(&boxText);
        bool written = true;
#ifdef Q_OS_LINUX
        // A file-size limit makes the write stop part-way, as a full disk does.
        struct rlimit old
        {
        };
        if (sizeLimit) {
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &old);
            struct rlimit small = old;
            small.rlim_cur = 512;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        }
        written = rig.about()->exportDiagnostics();
        if (sizeLimit)
            setrlimit(RLIMIT_FSIZE, &old);
#else
        written = rig.about()->exportDiagnostics();
#endif
        QVERIFY(!written);
        QVERIFY2(boxText.contains(QDir::toNativeSeparators(rig.chosenPath)), qPrintable(boxText));
        QVERIFY(!QFile::exists(rig.chosenPath));
        // Nor is a temporary file left beside it.
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(rig.statusBar()->text(), before);
    }
};

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
