#include "appglobals.h"
#include "configmanager.h"
#include "fakeagent.h"
#include "orvalin.h"
#include "testenv.h"

#ifndef Q_OS_WIN
#include "autostartentry.h"
#endif

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

QJsonObject savedSettings(const TestEnv &env)
{
    return QJsonDocument::fromJson(env.readConfigFile("config.json")).object();
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestSettingsTab : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void initialisationShowsSettingsAndSavesNothing();
    void toggle_data();
    void toggle();
    void themeSelection();

    // The XDG autostart entry; Windows keeps the switch in the Run key instead.
#ifndef Q_OS_WIN
    void autostartOnAndOff();
    void autostartOffWithoutEntry();
    void autostartWriteFailure();
    void autostartHonoursConfigHome();
    void quotedExec_data();
    void quotedExec();
    void installedEntry_data();
    void installedEntry();
#endif

    void disabledDuringSession();

private:
    void startWindow();
    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    QString statusText() const
    {
        return child<QLabel>("statusBar")->text();
    }
    QString entryPath() const
    {
        return xdg->path() + "/autostart/KestrumSSLVPN.desktop";
    }

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<QTemporaryDir> xdg;
    std::unique_ptr<FakeAgent> agent;
    std::unique_ptr<Orvalin> window;
};

void TestSettingsTab::init()
{
    env = std::make_unique<TestEnv>();
    xdg = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", xdg->path().toUtf8());
    agent = std::make_unique<FakeAgent>();
    agent->answer("config", "ready");
}

void TestSettingsTab::cleanup()
{
    window.reset();
    agent.reset();
    env.reset();
    xdg.reset();
}

void TestSettingsTab::startWindow()
{
    window = std::make_unique<Orvalin>();
    window->setAgentUrl(agent->url());
    window->show();
    // The link's own "config" marks the end of the deferred set-up.
    QTRY_COMPARE(agent->requestsFor("config").size(), 1);
}

void TestSettingsTab::initialisationShowsSettingsAndSavesNothing()
{
    const QByteArray file = R"({"autoLogin": true, "minimize": false, "block": false, "debug": true,
                                "cisco_compat": true, "no_dtls": true, "local": false, "theme": "light"})";
    env->writeConfigFile("config.json", file);
    QVERIFY(configManager->loadConfig());
    startWindow();

    QCOMPARE(child<QCheckBox>("checkBoxAutoLogin")->isChecked(), true);
    QCOMPARE(child<QCheckBox>("checkBoxAutoStart")->isChecked(), false);
    QCOMPARE(child<QCheckBox>("checkBoxMinimize")->isChecked(), false);
    QCOMPARE(child<QCheckBox>("checkBoxBlock")->isChecked(), false);
    QCOMPARE(child<QCheckBox>("checkBoxDebug")->isChecked(), true);
    QCOMPARE(child<QCheckBox>("checkBoxCiscoCompat")->isChecked(), true);
    QCOMPARE(child<QCheckBox>("checkBoxDtls")->isChecked(), true);
    QCOMPARE(child<QCheckBox>("checkBoxLang")->isChecked(), false);

    // The only "config" is the one the link sends, built from the boxes as set.
    QTest::qWait(100);
    QCOMPARE(agent->requestsFor("config").size(), 1);
    const QJsonObject sent = agent->requestsFor("config").first().params;
    QCOMPARE(sent.value("log_level").toString(), QString("Debug"));
    QCOMPARE(sent.value("skip_verify").toBool(), true);
    QCOMPARE(sent.value("cisco_compat").toBool(), true);
    QCOMPARE(sent.value("no_dtls").toBool(), true);
    QCOMPARE(env->readConfigFile("config.json"), file);
    QVERIFY(env->errors.isEmpty());
}

void TestSettingsTab::toggle_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("sendsConfig");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QJsonValue>("sent");

    // From the defaults: autoLogin, debug, cisco_compat and no_dtls off; minimize, block, local and notifications on.
    QTest::newRow("autoLogin") << "checkBoxAutoLogin"
                               << "autoLogin" << false << "" << QJsonValue();
    QTest::newRow("minimize") << "checkBoxMinimize"
                              << "minimize" << false << "" << QJsonValue();
    QTest::newRow("local") << "checkBoxLang"
                           << "local" << false << "" << QJsonValue();
    QTest::newRow("notifications") << "checkBoxNotifications"
                                   << "notifications" << false << "" << QJsonValue();
    QTest::newRow("block") << "checkBoxBlock"
                           << "block" << true << "skip_verify" << QJsonValue(true);
    QTest::newRow("debug") << "checkBoxDebug"
                           << "debug" << true << "log_level" << QJsonValue("Debug");
    QTest::newRow("cisco_compat") << "checkBoxCiscoCompat"
                                  << "cisco_compat" << true << "cisco_compat" << QJsonValue(true);
    QTest::newRow("no_dtls") << "checkBoxDtls"
                             << "no_dtls" << true << "no_dtls" << QJsonValue(true);
}

void TestSettingsTab::toggle()
{
    QFETCH(QString, box);
    QFETCH(QString, key);
    QFETCH(bool, sendsConfig);
    QFETCH(QString, member);
    QFETCH(QJsonValue, sent);

    startWindow();
    auto *checkBox = window->findChild<QCheckBox *>(box);
    const bool before = checkBox->isChecked();
    QCOMPARE(before, ConfigManager::defaults().value(key).toBool());
    QVERIFY(!QFile::exists(env->configFile("config.json")));

    child<QWidget>("tabWidget")->setProperty("currentIndex", 3);
    QTest::mouseClick(checkBox, Qt::LeftButton, {}, QPoint(12, checkBox->height() / 2));
    QCOMPARE(checkBox->isChecked(), !before);

    // Saved at once, the other settings untouched.
    QCOMPARE(savedSettings(*env).value(key).toBool(), !before);
    QCOMPARE(savedSettings(*env).size(), ConfigManager::defaults().size());
    if (sendsConfig) {
        QTRY_COMPARE(agent->requestsFor("config").size(), 2);
        QCOMPARE(agent->requestsFor("config").last().params.value(member), sent);
    } else {
        QTest::qWait(100);
        QCOMPARE(agent->requestsFor("config").size(), 1);
    }
}

void TestSettingsTab::themeSelection()
{
    startWindow();
    auto *combo = child<QComboBox>("comboBoxTheme");
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->itemText(0), QString("浅色"));
    QCOMPARE(combo->itemText(1), QString("深色"));

    combo->setCurrentIndex(1);
    QCOMPARE(savedSettings(*env).value("theme").toString(), QString("dark"));
    QVERIFY(qApp->styleSheet().contains("#0F172A"));
    combo->setCurrentIndex(0);
    QCOMPARE(savedSettings(*env).value("theme").toString(), QString("light"));
    QVERIFY(qApp->styleSheet().contains("#F8FAFC"));
    // The theme is not part of the agent's configuration.
    QCOMPARE(agent->requestsFor("config").size(), 1);
}

#ifndef Q_OS_WIN
void TestSettingsTab::autostartOnAndOff()
{
    startWindow();
    auto *autoStart = child<QCheckBox>("checkBoxAutoStart");
    QVERIFY(!autoStart->isChecked());
    const QString path = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());

    autoStart->setChecked(true);
    QCOMPARE(statusText(), "开机自启已启用: " + path);
    const QStringList lines = readFile(entryPath()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QString("[Desktop Entry]"));
    QVERIFY(lines.contains("Type=Application"));
    QVERIFY(lines.contains("Exec=\"" + path + "\""));
    QVERIFY(lines.contains("Name=Kestrum SSLVPN Client"));
    // Nothing of it goes into the settings file.
    QVERIFY(!QFile::exists(env->configFile("config.json")));

    autoStart->setChecked(false);
    QCOMPARE(statusText(), QString("开机自启已禁用"));
    QVERIFY(!QFile::exists(entryPath()));
    QVERIFY(!QFile::exists(env->configFile("config.json")));
}

void TestSettingsTab::autostartOffWithoutEntry()
{
    // An entry at start shows as checked.
    QDir().mkpath(xdg->path() + "/autostart");
    QFile entry(entryPath());
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nExec=\"/opt/kestrum/KestrumSSLVPN\"\n");
    entry.close();
    startWindow();
    auto *autoStart = child<QCheckBox>("checkBoxAutoStart");
    QVERIFY(autoStart->isChecked());

    // Removed behind the program's back: switching off still reports success.
    QVERIFY(QFile::remove(entryPath()));
    autoStart->setChecked(false);
    QCOMPARE(statusText(), QString("开机自启已禁用"));
}

void TestSettingsTab::autostartWriteFailure()
{
    // A file where the configuration directory should be: nothing can be created below it.
    const QString blocker = xdg->path() + "/not-a-directory";
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_CONFIG_HOME", blocker.toUtf8());

    startWindow();
    auto *autoStart = child<QCheckBox>("checkBoxAutoStart");
    autoStart->setChecked(true);
    QCOMPARE(statusText(), QString("开机自启设置失败"));
    // The box keeps the user's choice; the next start shows the real state.
    QVERIFY(autoStart->isChecked());
}

void TestSettingsTab::autostartHonoursConfigHome()
{
    QCOMPARE(AutostartEntry::filePath(), entryPath());
    // A relative or empty value is ignored in favour of ~/.config.
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    QCOMPARE(AutostartEntry::filePath(), QDir::homePath() + "/.config/autostart/KestrumSSLVPN.desktop");
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(AutostartEntry::filePath(), QDir::homePath() + "/.config/autostart/KestrumSSLVPN.desktop");
}

void TestSettingsTab::quotedExec_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");

    QTest::newRow("plain") << "/opt/kestrum/KestrumSSLVPN"
                           << R"("/opt/kestrum/KestrumSSLVPN")";
    QTest::newRow("spaces") << "/home/al ice/Kestrum SSLVPN/KestrumSSLVPN"
                            << R"("/home/al ice/Kestrum SSLVPN/KestrumSSLVPN")";
    QTest::newRow("dollar") << "/opt/$HOME/app"
                            << R"("/opt/\\$HOME/app")";
    QTest::newRow("quote") << R"(/opt/a"b/app)"
                           << R"("/opt/a\\"b/app")";
    QTest::newRow("backtick") << "/opt/a`b/app"
                              << R"("/opt/a\\`b/app")";
    QTest::newRow("backslash") << R"(/opt/a\b/app)"
                               << R"("/opt/a\\\\b/app")";
    QTest::newRow("percent") << "/opt/100%/app"
                             << R"("/opt/100%%/app")";
}

void TestSettingsTab::quotedExec()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QCOMPARE(AutostartEntry::quotedExec(path), exec);
}

void TestSettingsTab::installedEntry_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("menuEntry");
    QTest::addColumn<bool>("installed");

    const QString menuEntry = QStringLiteral("share/applications/" ORVALIN_APP_ID ".desktop");
    QTest::newRow("installed prefix") << "prefix/bin/KestrumSSLVPN"
                                      << "prefix/" + menuEntry << true;
    QTest::newRow("build folder") << "build/bin/KestrumSSLVPN" << QString() << false;
    // Another program's entries beside a bin folder do not make it ours.
    QTest::newRow("other entry") << "usr/bin/KestrumSSLVPN"
                                 << "usr/share/applications/other.desktop" << false;
    QTest::newRow("entry elsewhere") << "opt/bin/KestrumSSLVPN"
                                     << "usr/" + menuEntry << false;
}

void TestSettingsTab::installedEntry()
{
    QFETCH(QString, executable);
    QFETCH(QString, menuEntry);
    QFETCH(bool, installed);

    QTemporaryDir root;
    QDir dir(root.path());
    QVERIFY(dir.mkpath(QFileInfo(dir.filePath(executable)).path()));
    QFile program(dir.filePath(executable));
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.close();
    if (!menuEntry.isEmpty()) {
        QVERIFY(dir.mkpath(QFileInfo(dir.filePath(menuEntry)).path()));
        QFile entry(dir.filePath(menuEntry));
        QVERIFY(entry.open(QIODevice::WriteOnly));
    }

    const QString path = dir.filePath(executable);
    QCOMPARE(AutostartEntry::isInstalled(path), installed);
    // Installed, the entry carries the menu entry's icon; from a build folder
    // it is the plain entry it has always been.
    const QString contents = AutostartEntry::contents(path, installed);
    QVERIFY(contents.contains("\nExec=" + AutostartEntry::quotedExec(path) + "\n"));
    QCOMPARE(contents.contains(QStringLiteral("\nIcon=" ORVALIN_APP_ID "\n")), installed);
    QCOMPARE(AutostartEntry::contents(path, false), "[Desktop Entry]\nType=Application\nName=Kestrum SSLVPN Client\n"
                                                    "Comment=Start the Kestrum SSLVPN Client at log-on\nExec="
                                                        + AutostartEntry::quotedExec(path)
                                                        + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
}
#endif

void TestSettingsTab::disabledDuringSession()
{
    env->writeConfigFile("profile.json", R"({"office": {"name": "office", "host": "vpn.example.com"}})");
    // No session of the agent's own when the link comes up.
    agent->answer("status", QJsonObject{{"code", 1}});
    configManager->config.insert("minimize", false);
    startWindow();
    auto *page = child<QWidget>("tabSetting");
    auto *debug = child<QCheckBox>("checkBoxDebug");
    QVERIFY(page->isEnabled());

    QTest::mouseClick(child<QWidget>("buttonConnect"), Qt::LeftButton);
    QTRY_COMPARE(agent->requestsFor("connect").size(), 1);
    agent->push(2, "connected");
    QTRY_VERIFY(!page->isEnabled());
    QVERIFY(!debug->isEnabled());
    // A click on a greyed box changes nothing and sends nothing.
    child<QWidget>("tabWidget")->setProperty("currentIndex", 3);
    QTest::mouseClick(debug, Qt::LeftButton, {}, QPoint(12, debug->height() / 2));
    QVERIFY(!debug->isChecked());
    QCOMPARE(agent->requestsFor("config").size(), 1);

    agent->push(3, "closed");
    QTRY_VERIFY(page->isEnabled());
}

QTEST_MAIN(TestSettingsTab)
#include "tst_settingstab.moc"
