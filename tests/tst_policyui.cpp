#include "abouttab.h"
#include "appglobals.h"
#include "configmanager.h"
#include "fakeagent.h"
#include "orvalin.h"
#include "policy.h"
#include "profilemanager.h"
#include "passwordprompt.h"
#include "secretstore.h"
#include "sessioncontroller.h"
#include "testenv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <memory>

// The administrator's policy as a user meets it in the window: the Setting
// tab's fixed controls, the profile dialog and host list, the About tab and
// the diagnostics report.
namespace {

const QByteArray userProfiles = R"({
    "home": {"host": "home.example", "username": "h"},
    "Office": {"host": "evil.example", "username": "bob"}
})";

struct Rig
{
    explicit Rig(const QByteArray &policy, const QByteArray &settings = QByteArray())
    {
        qputenv("XDG_CONFIG_HOME", xdg.path().toUtf8());
        if (!settings.isNull())
            env.writeConfigFile(QStringLiteral("config.json"), settings);
        env.writeConfigFile(QStringLiteral("profile.json"), userProfiles);
        // As start-up does: the policy first, then the settings file.
        Policy::install(Policy::fromJson(policy, QStringLiteral("/etc/kestrum-sslvpn/policy.json")));
        configManager->loadConfig();
        agent.answer(QStringLiteral("config"), QStringLiteral("ready"));
        agent.answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("code"), 1}});
        window = std::make_unique<Orvalin>();
        window->setAgentUrl(agent.url());
    }

    bool start()
    {
        window->show();
        return QTest::qWaitFor([this] { return !agent.requestsFor(QStringLiteral("config")).isEmpty(); }, 5000);
    }

    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    ProfileManager *dialog() const { return window->findChild<ProfileManager *>(); }
    template<typename T>
    T *inDialog(const char *name) const
    {
        return dialog()->findChild<T *>(QLatin1String(name));
    }
    QJsonObject savedSettings() const
    {
        return QJsonDocument::fromJson(env.readConfigFile(QStringLiteral("config.json"))).object();
    }
    QStringList hostItems() const
    {
        QStringList items;
        auto *hosts = child<QComboBox>("comboBoxHost");
        for (int i = 0; i < hosts->count(); ++i)
            items << hosts->itemText(i);
        return items;
    }
    void selectInDialog(const QString &name) const
    {
        auto *list = inDialog<QListView>("listProfile");
        list->setCurrentIndex(dialog()->model->index(dialog()->model->stringList().indexOf(name)));
    }

    QTemporaryDir xdg;
    TestEnv env;
    FakeAgent agent;
    std::unique_ptr<Orvalin> window;
};

} // namespace

class TestPolicyUi : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void settingsFixedByPolicy_data();
    void settingsFixedByPolicy();
    void profilesFromPolicy();
    void onlyPolicyProfiles();
    void noSavedPasswordsNoPasswordField();
    void aboutAndDiagnosticsTellPolicy();
    void askedPasswordServesOneSession();
    void cancelledPromptSendsNothing();
};

namespace {
// Answers the next password prompt: types `password` and presses Return, or
// presses Escape when there is none. Counts the prompts it saw.
class PromptAnswerer
{
public:
    explicit PromptAnswerer(std::optional<QString> answer)
        : answer(std::move(answer))
    {
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            auto *prompt = qobject_cast<PasswordPrompt *>(QApplication::activeModalWidget());
            if (!prompt || prompt == last)
                return;
            last = prompt;
            ++prompts;
            auto *field = prompt->findChild<QLineEdit *>(QStringLiteral("lineEditPassword"));
            masked = field->echoMode() == QLineEdit::Password;
            if (this->answer) {
                QTest::keyClicks(field, *this->answer);
                QTest::keyClick(field, Qt::Key_Return);
            } else {
                QTest::keyClick(field, Qt::Key_Escape);
            }
        });
        timer.start(20);
    }

    int prompts = 0;
    bool masked = false;

private:
    std::optional<QString> answer;
    QPointer<PasswordPrompt> last;
    QTimer timer;
};
} // namespace

void TestPolicyUi::init()
{
    secretStoreClearService();
}

void TestPolicyUi::settingsFixedByPolicy_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("English") << false << QStringLiteral("Set by your administrator");
    QTest::newRow("Chinese") << true << QStringLiteral("由管理员设置");
}

void TestPolicyUi::settingsFixedByPolicy()
{
    QFETCH(bool, chinese);
    QFETCH(QString, tooltip);

    QTranslator translator;
    if (chinese) {
        QVERIFY(translator.load(QStringLiteral(":/i18n/orvalin_zh_CN.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    const auto removeTranslator = qScopeGuard([&translator] { QCoreApplication::removeTranslator(&translator); });

    // The user chose debug off and minimise on before the policy came.
    Rig rig(R"({"settings": {"debug": true, "minimize": false, "theme": "dark", "notifications": false,
                             "autoStart": true}})",
            R"({"debug": false, "minimize": true})");
    QVERIFY(rig.start());

    const QList<std::pair<const char *, bool>> fixed{{"checkBoxDebug", true},
                                                     {"checkBoxMinimize", false},
                                                     {"checkBoxNotifications", false},
                                                     {"checkBoxAutoStart", true}};
    for (const auto &[name, checked] : fixed) {
        auto *box = rig.child<QCheckBox>(name);
        QVERIFY2(!box->isEnabled(), name);
        QCOMPARE(box->isChecked(), checked);
        QCOMPARE(box->toolTip(), tooltip);
    }
    auto *theme = rig.child<QComboBox>("comboBoxTheme");
    QVERIFY(!theme->isEnabled());
    QCOMPARE(theme->currentIndex(), 1);
    QCOMPARE(theme->toolTip(), tooltip);
    for (const char *name : {"checkBoxBlock", "checkBoxAutoLogin", "checkBoxLang"}) {
        QVERIFY2(rig.child<QCheckBox>(name)->isEnabled(), name);
        QVERIFY2(rig.child<QCheckBox>(name)->toolTip().isEmpty(), name);
    }
    // The tab says so in words too; without fixed settings it does not (profilesFromPolicy).
    QVERIFY(!rig.child<QLabel>("labelSettingPolicy")->isHidden());
    // The agent is told the forced value.
    QCOMPARE(rig.agent.requestsFor(QStringLiteral("config")).first().params.value("log_level"), QJsonValue("Debug"));
    // Start at log-on follows the policy.
    QVERIFY(QFile::exists(rig.xdg.path() + QStringLiteral("/autostart/KestrumSSLVPN.desktop")));

    // A click on a fixed box changes nothing; a free one is saved, and the
    // file keeps the user's own values, never the forced ones.
    rig.child<QWidget>("tabWidget")->setProperty("currentIndex", 3);
    auto *debug = rig.child<QCheckBox>("checkBoxDebug");
    QTest::mouseClick(debug, Qt::LeftButton, {}, QPoint(12, debug->height() / 2));
    QVERIFY(debug->isChecked());
    auto *block = rig.child<QCheckBox>("checkBoxBlock");
    QTest::mouseClick(block, Qt::LeftButton, {}, QPoint(12, block->height() / 2));
    const QJsonObject saved = rig.savedSettings();
    QCOMPARE(saved.value("block"), QJsonValue(false));
    QCOMPARE(saved.value("debug"), QJsonValue(false));
    QCOMPARE(saved.value("minimize"), QJsonValue(true));
    QVERIFY(!saved.contains("theme"));
    QVERIFY(!saved.contains("notifications"));
    QVERIFY(!saved.contains("autoStart"));

    // While a session is up the tab is disabled; afterwards the fixed boxes stay disabled.
    rig.child<QWidget>("tabSetting")->setEnabled(false);
    rig.child<QWidget>("tabSetting")->setEnabled(true);
    QVERIFY(!debug->isEnabled());
    QVERIFY(block->isEnabled());
}

void TestPolicyUi::profilesFromPolicy()
{
    Rig rig(R"({"profiles": [{"name": "Office", "host": "vpn.corp.example", "group": "staff"}]})");
    configManager->config.insert(QStringLiteral("lastProfile"), QStringLiteral("home"));
    QVERIFY(rig.start());
    QVERIFY(rig.child<QLabel>("labelSettingPolicy")->isHidden());
    // The policy's gateway first, in the window's list and in the dialog's.
    QCOMPARE(rig.hostItems(), (QStringList{"Office", "home"}));
    QCOMPARE(rig.dialog()->model->stringList(), (QStringList{"Office", "home"}));
    rig.dialog()->show();

    rig.selectInDialog(QStringLiteral("Office"));
    // The policy's host wins over the file's.
    QCOMPARE(rig.inDialog<QLineEdit>("lineEditHost")->text(), QStringLiteral("vpn.corp.example"));
    QCOMPARE(rig.inDialog<QLineEdit>("lineEditUsername")->text(), QStringLiteral("bob"));
    for (const char *name : {"lineEditHost", "lineEditGroup"}) {
        QVERIFY2(!rig.inDialog<QLineEdit>(name)->isEnabled(), name);
        QCOMPARE(rig.inDialog<QLineEdit>(name)->toolTip(), Policy::setByAdministratorText());
    }
    QVERIFY(rig.inDialog<QLineEdit>("lineEditUsername")->isEnabled());
    QVERIFY(!rig.inDialog<QPushButton>("buttonDelete")->isEnabled());
    QVERIFY(rig.inDialog<QPushButton>("buttonNew")->isEnabled());

    // The user's own profile stays theirs.
    rig.selectInDialog(QStringLiteral("home"));
    QVERIFY(rig.inDialog<QLineEdit>("lineEditHost")->isEnabled());
    QVERIFY(rig.inDialog<QPushButton>("buttonDelete")->isEnabled());
    QVERIFY(rig.inDialog<QLineEdit>("lineEditHost")->toolTip().isEmpty());

    // A new user name for the policy's gateway is saved; its host is not the user's to write.
    rig.selectInDialog(QStringLiteral("Office"));
    auto *user = rig.inDialog<QLineEdit>("lineEditUsername");
    user->clear();
    QTest::keyClicks(user, QStringLiteral("carol"));
    QTest::mouseClick(rig.inDialog<QPushButton>("buttonSave"), Qt::LeftButton);
    const QJsonObject file = QJsonDocument::fromJson(rig.env.readConfigFile(QStringLiteral("profile.json"))).object();
    QCOMPARE(file.value("Office").toObject(), (QJsonObject{{"host", "evil.example"}, {"username", "carol"}}));
    QCOMPARE(rig.dialog()->profiles.value("Office").toObject().value("host"), QJsonValue("vpn.corp.example"));
}

void TestPolicyUi::onlyPolicyProfiles()
{
    Rig rig(R"({"allowUserProfiles": false, "profiles": [{"name": "Office", "host": "vpn.corp.example"},
                                                          {"name": "Branch", "host": "branch.corp.example"}]})");
    QVERIFY(rig.start());
    QCOMPARE(rig.hostItems(), (QStringList{"Office", "Branch"}));
    rig.dialog()->show();
    // It opens on the first of them; nothing can be added.
    QCOMPARE(rig.inDialog<QLineEdit>("lineEditName")->text(), QStringLiteral("Office"));
    QVERIFY(!rig.inDialog<QPushButton>("buttonNew")->isEnabled());
    QVERIFY(!rig.inDialog<QLineEdit>("lineEditName")->isEnabled());
    rig.selectInDialog(QStringLiteral("Branch"));
    QVERIFY(!rig.inDialog<QPushButton>("buttonNew")->isEnabled());
    QVERIFY(!rig.inDialog<QPushButton>("buttonDelete")->isEnabled());
    // The user's own profiles are still in the file.
    QTest::mouseClick(rig.inDialog<QPushButton>("buttonSave"), Qt::LeftButton);
    const QByteArray file = rig.env.readConfigFile(QStringLiteral("profile.json"));
    QVERIFY(file.contains("home.example"));
}

void TestPolicyUi::noSavedPasswordsNoPasswordField()
{
    Rig rig(R"({"allowSavePassword": false})");
    rig.env.writeConfigFile(QStringLiteral("profile.json"), "{}");
    rig.window = std::make_unique<Orvalin>();
    rig.window->setAgentUrl(rig.agent.url());
    QVERIFY(rig.start());
    rig.dialog()->show();
    QVERIFY(!rig.inDialog<QLineEdit>("lineEditPassword")->isVisible());
    QVERIFY(!rig.inDialog<QLabel>("labelPassword")->isVisible());

    // The first profile saved brings no notice about saved passwords.
    bool boxShown = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&boxShown] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxShown = true;
            box->done(QMessageBox::Ok);
        }
    });
    watcher.start(20);
    QTest::keyClicks(rig.inDialog<QLineEdit>("lineEditName"), QStringLiteral("lab"));
    QTest::keyClicks(rig.inDialog<QLineEdit>("lineEditHost"), QStringLiteral("lab.example"));
    QTest::keyClicks(rig.inDialog<QLineEdit>("lineEditUsername"), QStringLiteral("l"));
    QTest::mouseClick(rig.inDialog<QPushButton>("buttonSave"), Qt::LeftButton);
    QTest::qWait(200);
    QVERIFY(!boxShown);
    QVERIFY(rig.dialog()->profiles.contains("lab"));
    QTest::qWait(300);
    QCOMPARE(secretStoreLookup(QStringLiteral("lab")), QString());
}

void TestPolicyUi::aboutAndDiagnosticsTellPolicy()
{
    Rig rig(R"({"allowSavePassword": false, "settings": {"theme": "dark", "colour": "red"},
                "profiles": [{"name": "Office", "host": "vpn.corp.example", "password": "hunter2"}]})");
    QVERIFY(rig.start());
    auto *label = rig.child<QLabel>("labelPolicy");
    rig.child<QWidget>("tabWidget")->setProperty("currentIndex", 4);
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(),
             QStringLiteral("Managed by your administrator: allowSavePassword; settings (theme); profiles (1)"));

    const QString path = rig.env.tempDir() + QStringLiteral("/report.txt");
    auto *about = rig.window->findChild<AboutTab *>();
    about->setPathChooser([path](const QString &) { return path; });
    QTest::mouseClick(rig.child<QPushButton>("buttonExportDiagnostics"), Qt::LeftButton);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(file.readAll());
    QVERIFY2(report.contains(QLatin1String("== Administrator policy ==\n"
                                           "Source: /etc/kestrum-sslvpn/policy.json\n"
                                           "Keys in force: allowSavePassword; settings (theme); profiles (1)\n")),
             qPrintable(report));
    QVERIFY(report.contains(QLatin1String("Ignored: settings: unknown setting \"colour\"; ignored")));
    QVERIFY(report.contains(QLatin1String("Ignored: profiles[0] (\"Office\"): member \"password\"")));
    QVERIFY(!report.contains(QLatin1String("hunter2")));

    // Without a policy the line is not there.
    Policy::install(Policy());
    Orvalin plain;
    QVERIFY(plain.findChild<QLabel *>(QStringLiteral("labelPolicy"))->text().isEmpty());
    QVERIFY(plain.findChild<QLabel *>(QStringLiteral("labelPolicy"))->isHidden());
}

void TestPolicyUi::askedPasswordServesOneSession()
{
    Rig rig(R"({"allowSavePassword": false})");
    rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
    rig.agent.answer(QStringLiteral("reconnect"), QStringLiteral("reconnected"));
    QVERIFY(rig.start());
    auto *session = rig.window->findChild<SessionController *>();
    rig.child<QComboBox>("comboBoxHost")->setCurrentText(QStringLiteral("home"));
    rig.child<QLineEdit>("lineEditOTP")->setText(QStringLiteral("123456"));

    PromptAnswerer answerer(QStringLiteral("typed-pw"));
    QTest::mouseClick(rig.child<QPushButton>("buttonConnect"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(session->isSessionConnected(), 5000);
    QCOMPARE(answerer.prompts, 1);
    QVERIFY(answerer.masked);
    // The typed password with the one-time password appended.
    QCOMPARE(rig.agent.requestsFor(QStringLiteral("connect")).size(), 1);
    QCOMPARE(rig.agent.requestsFor(QStringLiteral("connect")).first().params.value("password"),
             QJsonValue("typed-pw123456"));

    // The session is lost: its reconnection reuses it without asking again.
    rig.agent.push(6, QStringLiteral("lost"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.agent.requestsFor(QStringLiteral("reconnect")).size(), 1, 5000);
    QCOMPARE(rig.agent.requestsFor(QStringLiteral("reconnect")).first().params.value("password"),
             QJsonValue("typed-pw123456"));
    QTRY_VERIFY_WITH_TIMEOUT(session->isSessionConnected(), 5000);
    QCOMPARE(answerer.prompts, 1);

    // Once it ends, the password is gone from memory, and it never was in the store or a file.
    rig.agent.push(3, QStringLiteral("ended"));
    QTRY_VERIFY_WITH_TIMEOUT(!session->isSessionConnected(), 5000);
    QVERIFY(!session->sessionParameters().contains("password"));
    QVERIFY(!session->heldSecrets().join(QLatin1Char(' ')).contains(QLatin1String("typed-pw")));
    QCOMPARE(secretStoreLookup(QStringLiteral("home")), QString());
    QVERIFY(!rig.env.readConfigFile(QStringLiteral("profile.json")).contains("typed-pw"));
    QVERIFY(!rig.env.readConfigFile(QStringLiteral("history.jsonl")).contains("typed-pw"));
}

void TestPolicyUi::cancelledPromptSendsNothing()
{
    Rig rig(R"({"allowSavePassword": false})");
    rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
    QVERIFY(rig.start());
    PromptAnswerer answerer(std::nullopt);
    QTest::mouseClick(rig.child<QPushButton>("buttonConnect"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.prompts, 1, 5000);
    QTest::qWait(300);
    QVERIFY(rig.agent.requestsFor(QStringLiteral("connect")).isEmpty());
    QVERIFY(!rig.window->findChild<SessionController *>()->isSessionConnected());
}

QTEST_MAIN(TestPolicyUi)
#include "tst_policyui.moc"
