#include "appglobals.h"
#include "configmanager.h"
#include "keychainclass.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "secretstore.h"
#include "sessioncontroller.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

// The three values a user types that must never reach a file or the output.
const QString password = QStringLiteral("Pw-Audit-7fQ2zX");
const QString secret = QStringLiteral("Sec-Audit-9kL4mV");
const QString otp = QStringLiteral("58271943");
const QString userName = QStringLiteral("audit.user");

const char childConfigVar[] = "ORVALIN_AUDIT_CONFIG";
const char childTempVar[] = "ORVALIN_AUDIT_TEMP";
const char childAgentVar[] = "ORVALIN_AUDIT_AGENT";

// Every file under `root` whose bytes contain `value`, as UTF-8 or UTF-16.
QStringList filesContaining(const QString &root, const QString &value)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        const QByteArray utf16(reinterpret_cast<const char *>(value.utf16()), value.size() * 2);
        if (bytes.contains(value.toUtf8()) || bytes.contains(utf16))
            found << file.fileName();
    }
    return found;
}

} // namespace

// A whole session with known secrets, run in a client process of its own so
// that its stdout and stderr can be searched along with every file it and the
// agent wrote.
class TestSecretsAudit : public QObject
{
    Q_OBJECT

private slots:
    void init() { secretStoreClearService(); }
    void nothingSecretLeftBehind();
    void clientSession();
};

void TestSecretsAudit::nothingSecretLeftBehind()
{
    QTemporaryDir configRoot;
    QTemporaryDir tempRoot;
    QVERIFY(configRoot.isValid() && tempRoot.isValid());

    QProcess simulator;
    const quint16 port = startSimulator(simulator, {QStringLiteral("--lose-after"), QStringLiteral("3")});
    QVERIFY2(port, "the simulator listens");

    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(childConfigVar), configRoot.path() + QStringLiteral("/Orvalin"));
    environment.insert(QLatin1String(childTempVar), tempRoot.path());
    environment.insert(QLatin1String(childAgentVar), QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port));
    client.setProcessEnvironment(environment);
    client.start(QCoreApplication::applicationFilePath(), {QStringLiteral("clientSession")});
    QVERIFY(client.waitForStarted(5000));
    QVERIFY(client.waitForFinished(90000));
    const QByteArray output = client.readAllStandardOutput();
    const QByteArray errors = client.readAllStandardError();
    QVERIFY2(client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0,
             QByteArray(output + errors).right(3000).constData());
    QVERIFY2(output.contains("PASS   : TestSecretsAudit::clientSession()"), output.right(3000).constData());

    simulator.terminate();
    if (!simulator.waitForFinished(3000))
        simulator.kill();
    const QByteArray agentOutput = simulator.readAll() + simulator.readAllStandardError();

    // The search finds what is there: the user name is in the profile file and
    // the agent's log.
    QVERIFY(!filesContaining(configRoot.path(), userName).isEmpty());
    QVERIFY(!filesContaining(tempRoot.path(), userName).isEmpty());
    QVERIFY(QFile::exists(tempRoot.path() + QStringLiteral("/tunwarden.log")));

    QVERIFY(QFile::exists(configRoot.path() + QStringLiteral("/Orvalin/profile.json")));
    for (const QString &value : {password, secret, otp}) {
        QCOMPARE(filesContaining(configRoot.path(), value), QStringList());
        QCOMPARE(filesContaining(tempRoot.path(), value), QStringList());
        QVERIFY2(!output.contains(value.toUtf8()), qPrintable(value));
        QVERIFY2(!errors.contains(value.toUtf8()), qPrintable(value));
        QVERIFY2(!agentOutput.contains(value.toUtf8()), qPrintable(value));
    }
}

// The client's side of the audit, run only as the audit's child process:
// save the profile in the dialog, connect with the one-time password, live
// through a loss and the reconnection, disconnect and quit.
void TestSecretsAudit::clientSession()
{
    const QString agent = qEnvironmentVariable(childAgentVar);
    if (agent.isEmpty())
        QSKIP("runs only as the client process of nothingSecretLeftBehind");
    TestEnv env;
    configLocation = qEnvironmentVariable(childConfigVar);
    tempLocation = qEnvironmentVariable(childTempVar);
    QDir().mkpath(configLocation);
    configManager->loadConfig();
    configManager->config.insert(QStringLiteral("minimize"), false);
    configManager->saveConfig();

    Orvalin window;
    window.setAgentUrl(QUrl(agent));
    window.show();
    auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
    const QString notice = statusBar->text();
    QTRY_VERIFY_WITH_TIMEOUT(statusBar->text() != notice && !statusBar->text().isEmpty(), 5000);

    auto *dialog = window.findChild<ProfileManager *>();
    QSignalSpy stored(&dialog->keyChain, &KeyChainClass::keyStored);
    QTimer::singleShot(0, dialog, [&] {
        auto type = [&](const char *name, const QString &text) {
            QTest::keyClicks(dialog->findChild<QLineEdit *>(QLatin1String(name)), text);
        };
        type("lineEditName", QStringLiteral("audit"));
        type("lineEditHost", QStringLiteral("vpn.example.com"));
        type("lineEditUsername", userName);
        type("lineEditPassword", password);
        type("lineEditSecretkey", secret);
        closeNextModalBox();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("buttonSave")), Qt::LeftButton);
    });
    QTest::mouseClick(window.findChild<QToolButton *>(QStringLiteral("buttonProfile")), Qt::LeftButton);
    QVERIFY(stored.size() || stored.wait(10000));
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("comboBoxHost"))->currentText(), QStringLiteral("audit"));

    auto *session = window.findChild<SessionController *>();
    QSignalSpy closed(&window, &Orvalin::vpnClosed);
    QSignalSpy connected(&window, &Orvalin::vpnConnected);
    auto *otpField = window.findChild<QLineEdit *>(QStringLiteral("lineEditOTP"));
    QTest::keyClicks(otpField, otp);
    QTest::keyClick(otpField, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 5000);
    QCOMPARE(session->sessionParameters().value(QLatin1String("password")).toString(), password + otp);
    QCOMPARE(session->sessionParameters().value(QLatin1String("secret")).toString(), secret);

    // The simulated loss and the reconnection with the same parameters.
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 6000);
    QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, 5000);

    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("buttonConnect")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 2, 3000);
    QVERIFY(!session->isSessionConnected());
}

QTEST_MAIN(TestSecretsAudit)
#include "tst_secretsaudit.moc"
