#include "appglobals.h"
#include "configmanager.h"
#include "fakeagent.h"
#include "orvalin.h"
#include "privatebus.h"
#include "profilemanager.h"
#include "secretstore.h"
#include "testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>

#include <cstdio>

namespace {
const int waitMs = 10000;

const QString notice = QStringLiteral(
    "This software can save passwords in the Keychain of the operating system to avoid plaintext passwords, but you "
    "should evaluate whether your usage scenarios allow saving passwords and avoid potential security risks.");

struct BoxSeen
{
    QString text;
    QPointer<QWidget> parent;
    bool dialogVisible = false;
    // A link in the text can be clicked and opens in the browser.
    bool opensLinks = false;
};

// Closes every modal box that comes up while it lives and records what each
// looked like.
class BoxWatcher
{
public:
    explicit BoxWatcher(QWidget *dialog)
    {
        QObject::connect(&timer, &QTimer::timeout, &timer, [this, dialog] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
                const bool opensLinks = label && label->openExternalLinks()
                                        && label->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse);
                boxes.append(BoxSeen{box->text(), box->parentWidget(), dialog->isVisible(), opensLinks});
                box->done(QMessageBox::Ok);
            }
        });
        timer.start(20);
    }

    QList<BoxSeen> boxes;

private:
    QTimer timer;
};

// Profiles named b, A and a, without passwords, and the one used last.
void writeProfilesbAa(const TestEnv &env, const QString &lastProfile)
{
    const QJsonObject plain{{QStringLiteral("host"), QStringLiteral("h")},
                            {QStringLiteral("username"), QStringLiteral("u")}};
    env.writeConfigFile(QStringLiteral("profile.json"), QJsonDocument(QJsonObject{{QStringLiteral("b"), plain},
                                                                                  {QStringLiteral("A"), plain},
                                                                                  {QStringLiteral("a"), plain}})
                                                            .toJson());
    configManager->config.insert(QStringLiteral("lastProfile"), lastProfile);
}

// Shows the window against its own agent and waits until its deferred set-up
// (which wires the dialog) has run and the link is up.
bool showWindow(Orvalin &window, FakeAgent &agent)
{
    agent.answer(QStringLiteral("config"), QStringLiteral("ready"));
    window.setAgentUrl(agent.url());
    window.show();
    return QTest::qWaitFor([&agent] { return agent.requestsFor(QStringLiteral("config")).size() == 1; }, waitMs);
}
} // namespace

// Works a profile dialog as a user would: typing, clicking buttons and rows.
class DialogDriver
{
public:
    template<typename T>
    T *child(const char *name) const
    {
        return dialog->findChild<T *>(QLatin1String(name));
    }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(name); }
    QPushButton *button(const char *name) const { return child<QPushButton>(name); }
    QListView *list() const { return child<QListView>("listProfile"); }

    void type(const char *name, const QString &text) const
    {
        QLineEdit *field = edit(name);
        field->clear();
        QTest::keyClicks(field, text);
    }

    void fill(const QString &name, const QString &host, const QString &user, const QString &password = QString(),
              const QString &group = QString(), const QString &secret = QString()) const
    {
        type("lineEditName", name);
        type("lineEditHost", host);
        type("lineEditUsername", user);
        type("lineEditPassword", password);
        type("lineEditGroup", group);
        type("lineEditSecretkey", secret);
    }

    void click(const char *name) const { QTest::mouseClick(button(name), Qt::LeftButton); }

    void clickRow(const QString &name) const
    {
        const int row = dialog->model->stringList().indexOf(name);
        QVERIFY2(row >= 0, qPrintable(name));
        const QRect rect = list()->visualRect(dialog->model->index(row));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // Saves the form and returns the boxes it brought up (the keychain notice
    // for the first profile). They are modal, so they come and go inside the click.
    QList<BoxSeen> save() const
    {
        BoxWatcher watcher(dialog);
        click("buttonSave");
        return watcher.boxes;
    }

    // Reopens the dialog as the window's "+" button would.
    void reopen() const { dialog->show(); }

    ProfileManager *dialog = nullptr;
};

// The dialog as the main window holds it: a child of the window, loaded,
// wired, its model shared with a host selector.
class Fixture : public DialogDriver
{
public:
    explicit Fixture(const QByteArray &profileFile = QByteArray())
    {
        if (!profileFile.isNull())
            env.writeConfigFile(QStringLiteral("profile.json"), profileFile);
        dialog = new ProfileManager(&window);
        loaded = dialog->loadProfile();
        dialog->updateModel();
        hostSelector = new QComboBox(&window);
        hostSelector->setModel(dialog->model);
        dialog->initConnections();
        window.show();
        dialog->show();
    }

    QStringList fieldTexts() const
    {
        QStringList texts;
        for (const char *name : {"lineEditName", "lineEditHost", "lineEditUsername", "lineEditPassword",
                                 "lineEditGroup", "lineEditSecretkey"})
            texts << edit(name)->text();
        return texts;
    }

    QJsonObject file() const
    {
        return QJsonDocument::fromJson(env.readConfigFile(QStringLiteral("profile.json"))).object();
    }

    QStringList hostSelectorItems() const
    {
        QStringList items;
        for (int i = 0; i < hostSelector->count(); ++i)
            items << hostSelector->itemText(i);
        return items;
    }

    TestEnv env;
    QWidget window;
    QComboBox *hostSelector = nullptr;
    bool loaded = false;
};

class TestProfileDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void formAtStart();
    void chineseTexts();
    void firstSaveShowsNoticeOnce();
    void requiredFields_data();
    void requiredFields();
    void valuesStoredTrimmed();
    void namesListedInCodeUnitOrder();
    void typingExistingNameReplaces();
    void deleteOnlyProfile();
    void deleteSelectsFirstRemaining();
    void reselectingShownProfileKeepsEdits();
    void missingGroupAndSecretShowEmpty();
    void noPasswordInAnyFile();
    void fileFailureBoxBelongsToWindow();
    void deleteKeepsUnrestoredPassword();
    void saveKeepsUnrestoredCredential_data();
    void saveKeepsUnrestoredCredential();
    void newProfileWithoutPasswordIsRestored();
    void withoutCredentialStoreNothingIsLost();
    void windowSelectsLastProfile_data();
    void windowSelectsLastProfile();
    void windowWithoutProfileFile();
    void plusButtonOpensDialog();
    void windowKeepsPickedHost();
};

void TestProfileDialog::init()
{
    // Profile names are credential keys: every case starts without entries.
    secretStoreClearService();
}

void TestProfileDialog::formAtStart()
{
    Fixture f;
    QVERIFY(f.loaded);
    QCOMPARE(f.dialog->objectName(), QStringLiteral("ProfileManager"));
    QCOMPARE(f.dialog->windowTitle(), QStringLiteral("Profile Manager"));
    QCOMPARE(f.dialog->size(), QSize(426, 370));
    QCOMPARE(f.dialog->minimumSize(), QSize(426, 370));
    QCOMPARE(f.dialog->maximumSize(), QSize(426, 370));
    QCOMPARE(f.list()->model(), f.dialog->model);
    QCOMPARE(f.list()->editTriggers(), QAbstractItemView::NoEditTriggers);

    for (const char *name : {"lineEditName", "lineEditHost", "lineEditUsername"})
        QCOMPARE(f.edit(name)->placeholderText(), QStringLiteral("required"));
    QCOMPARE(f.edit("lineEditPassword")->echoMode(), QLineEdit::Password);
    QVERIFY(f.edit("lineEditName")->isEnabled());
    QVERIFY(!f.button("buttonNew")->isEnabled());
    QVERIFY(!f.button("buttonDelete")->isEnabled());
    QVERIFY(f.button("buttonSave")->isEnabled());
    QVERIFY(!f.button("buttonNew")->autoDefault());
    QVERIFY(!f.button("buttonDelete")->autoDefault());
}

void TestProfileDialog::chineseTexts()
{
    QTranslator translator;
    QVERIFY(translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("orvalin"), QStringLiteral("_"),
                            QStringLiteral(":/i18n")));
    QCoreApplication::installTranslator(&translator);
    const auto removeTranslator = qScopeGuard([&translator] { QCoreApplication::removeTranslator(&translator); });

    Fixture f;
    QCOMPARE(f.dialog->windowTitle(), QStringLiteral("Profile 管理"));
    const QList<std::pair<const char *, QString>> labels{
        {"labelName", QStringLiteral("名称：")},       {"labelHost", QStringLiteral("主机：")},
        {"labelUsername", QStringLiteral("用户名：")}, {"labelPassword", QStringLiteral("密码：")},
        {"labelGroup", QStringLiteral("用户组：")},    {"labelSecretkey", QStringLiteral("Secret:")}};
    for (const auto &[name, text] : labels)
        QCOMPARE(f.child<QLabel>(name)->text(), text);
    QCOMPARE(f.button("buttonNew")->text(), QStringLiteral("新建"));
    QCOMPARE(f.button("buttonDelete")->text(), QStringLiteral("删除"));
    QCOMPARE(f.button("buttonSave")->text(), QStringLiteral("保存"));
    for (const char *name : {"lineEditName", "lineEditHost", "lineEditUsername"})
        QCOMPARE(f.edit(name)->placeholderText(), QStringLiteral("必须填写"));

    // The keychain notice ends with a clickable link to the product's site.
    f.fill(QStringLiteral("office"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("pw"));
    const QList<BoxSeen> boxes = f.save();
    QCOMPARE(boxes.size(), 1);
    const QString text = boxes.first().text;
    QVERIFY2(text.startsWith(QStringLiteral(
                 "本软件具有可选的密码保存功能，其中密码将保存在操作系统的密钥串里。用户需评估自己的使用环境是否"
                 "允许保存密码以及设备丢失可能带来的潜在风险。请务必前往本软件官网 <a href=\"https://")),
             qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("</a> 下载和使用最新版本！")), qPrintable(text));
    QVERIFY(boxes.first().opensLinks);
}

void TestProfileDialog::firstSaveShowsNoticeOnce()
{
    Fixture f;
    QSignalSpy stored(&f.dialog->keyChain, &KeyChainClass::keyStored);
    f.fill(QStringLiteral("office"), QStringLiteral("vpn.example.com"), QStringLiteral("alice"),
           QStringLiteral("Tr0ub4dor&3"), QStringLiteral("staff"), QStringLiteral("k3y"));
    const QList<BoxSeen> boxes = f.save();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, notice);
    QCOMPARE(boxes.first().parent.data(), f.dialog);
    // The notice comes before the profile is stored.
    QVERIFY(boxes.first().dialogVisible);

    QVERIFY(!f.dialog->isVisible());
    QCOMPARE(f.dialog->profiles.value(QStringLiteral("office")).toObject(),
             (QJsonObject{{QStringLiteral("host"), QStringLiteral("vpn.example.com")},
                          {QStringLiteral("username"), QStringLiteral("alice")},
                          {QStringLiteral("password"), QStringLiteral("Tr0ub4dor&3")},
                          {QStringLiteral("group"), QStringLiteral("staff")},
                          {QStringLiteral("secret"), QStringLiteral("k3y")}}));
    QVERIFY(stored.wait(waitMs));
    QCOMPARE(secretStoreLookup(QStringLiteral("office")), QStringLiteral("Tr0ub4dor&3"));

    // Reopened, it shows the saved profile selected, its name locked.
    f.reopen();
    QCOMPARE(f.list()->currentIndex().data().toString(), QStringLiteral("office"));
    QVERIFY(!f.edit("lineEditName")->isEnabled());
    QVERIFY(f.button("buttonNew")->isEnabled());
    QVERIFY(f.button("buttonDelete")->isEnabled());
    QCOMPARE(f.edit("lineEditHost")->text(), QStringLiteral("vpn.example.com"));

    f.click("buttonNew");
    f.fill(QStringLiteral("lab"), QStringLiteral("lab.example.com"), QStringLiteral("bob"), QStringLiteral("pw2"));
    QCOMPARE(f.save().size(), 0);
    QCOMPARE(f.dialog->profiles.keys(), (QStringList{QStringLiteral("lab"), QStringLiteral("office")}));
}

void TestProfileDialog::requiredFields_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::newRow("no name") << QString() << QStringLiteral("h") << QStringLiteral("u");
    QTest::newRow("no host") << QStringLiteral("office") << QString() << QStringLiteral("u");
    QTest::newRow("no user") << QStringLiteral("office") << QStringLiteral("h") << QString();
    QTest::newRow("blank name") << QStringLiteral("   ") << QStringLiteral("h") << QStringLiteral("u");
    QTest::newRow("blank user") << QStringLiteral("office") << QStringLiteral("h") << QStringLiteral(" \t");
}

void TestProfileDialog::requiredFields()
{
    QFETCH(QString, name);
    QFETCH(QString, host);
    QFETCH(QString, user);
    Fixture f;
    f.fill(name, host, user, QStringLiteral("pw"));
    QCOMPARE(f.save().size(), 0);
    QVERIFY(f.dialog->isVisible());
    QVERIFY(f.dialog->profiles.isEmpty());
    QCOMPARE(f.env.readConfigFile(QStringLiteral("profile.json")), QByteArray());
    // Everything typed is still there to be completed.
    QCOMPARE(f.edit("lineEditHost")->text(), host);
}

void TestProfileDialog::valuesStoredTrimmed()
{
    Fixture f;
    QSignalSpy stored(&f.dialog->keyChain, &KeyChainClass::keyStored);
    f.fill(QStringLiteral("  office "), QStringLiteral(" vpn.example.com "), QStringLiteral("alice  "),
           QStringLiteral(" pw "), QStringLiteral(" g "), QStringLiteral(" s "));
    QCOMPARE(f.save().size(), 1);

    QCOMPARE(f.dialog->model->stringList(), QStringList{QStringLiteral("office")});
    QCOMPARE(f.hostSelectorItems(), QStringList{QStringLiteral("office")});
    QCOMPARE(f.fieldTexts(),
             (QStringList{QStringLiteral("office"), QStringLiteral("vpn.example.com"), QStringLiteral("alice"),
                          QStringLiteral("pw"), QStringLiteral("g"), QStringLiteral("s")}));
    QCOMPARE(f.file().keys(), QStringList{QStringLiteral("office")});
    QCOMPARE(f.file().value(QStringLiteral("office")).toObject().value(QStringLiteral("host")).toString(),
             QStringLiteral("vpn.example.com"));
    QVERIFY(stored.wait(waitMs));
    QCOMPARE(stored.first().first().toString(), QStringLiteral("office"));
    QCOMPARE(secretStoreLookup(QStringLiteral("office")), QStringLiteral("pw"));
}

void TestProfileDialog::namesListedInCodeUnitOrder()
{
    Fixture f;
    for (const char *name : {"b", "A", "a"}) {
        f.reopen();
        f.click("buttonNew");
        f.fill(QLatin1String(name), QStringLiteral("h"), QStringLiteral("u"));
        f.save();
    }
    const QStringList expected{QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("b")};
    QCOMPARE(f.dialog->model->stringList(), expected);
    QCOMPARE(f.hostSelectorItems(), expected);
    QCOMPARE(f.file().keys(), expected);
}

void TestProfileDialog::typingExistingNameReplaces()
{
    Fixture f;
    f.fill(QStringLiteral("office"), QStringLiteral("old.example.com"), QStringLiteral("alice"));
    f.save();
    f.reopen();
    f.click("buttonNew");
    QCOMPARE(f.fieldTexts(), QStringList(6));
    f.fill(QStringLiteral("office"), QStringLiteral("new.example.com"), QStringLiteral("alice2"));
    QCOMPARE(f.save().size(), 0);
    QCOMPARE(f.dialog->profiles.keys(), QStringList{QStringLiteral("office")});
    QCOMPARE(f.file().value(QStringLiteral("office")).toObject().value(QStringLiteral("host")).toString(),
             QStringLiteral("new.example.com"));
    QCOMPARE(f.file().value(QStringLiteral("office")).toObject().value(QStringLiteral("username")).toString(),
             QStringLiteral("alice2"));
}

void TestProfileDialog::deleteOnlyProfile()
{
    Fixture f;
    QSignalSpy stored(&f.dialog->keyChain, &KeyChainClass::keyStored);
    QSignalSpy deleted(&f.dialog->keyChain, &KeyChainClass::keyDeleted);
    QSignalSpy secretStored(&f.dialog->secretChain, &KeyChainClass::keyStored);
    QSignalSpy secretDeleted(&f.dialog->secretChain, &KeyChainClass::keyDeleted);
    f.fill(QStringLiteral("office"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("pw"),
           QStringLiteral("g"), QStringLiteral("s"));
    f.save();
    QTRY_VERIFY_WITH_TIMEOUT(stored.size() == 1 && secretStored.size() == 1, waitMs);
    QCOMPARE(secretStoreLookup(QStringLiteral("office"), secretStoreSecretService()), QStringLiteral("s"));
    QCOMPARE(f.hostSelector->count(), 1);

    f.reopen();
    f.click("buttonDelete");
    QVERIFY(f.dialog->isVisible());
    QCOMPARE(f.dialog->model->rowCount(), 0);
    QCOMPARE(f.hostSelector->count(), 0);
    QCOMPARE(f.fieldTexts(), QStringList(6));
    QVERIFY(f.edit("lineEditName")->isEnabled());
    QVERIFY(!f.button("buttonNew")->isEnabled());
    QVERIFY(!f.button("buttonDelete")->isEnabled());
    QCOMPARE(f.file(), QJsonObject());

    QTRY_VERIFY_WITH_TIMEOUT(deleted.size() == 1 && secretDeleted.size() == 1, waitMs);
    QCOMPARE(deleted.first().first().toString(), QStringLiteral("office"));
    QCOMPARE(secretStoreLookup(QStringLiteral("office")), QString());
    QCOMPARE(secretStoreLookup(QStringLiteral("office"), secretStoreSecretService()), QString());
    // The emptied form has no name to file a password under.
    QCOMPARE(stored.size(), 1);
}

void TestProfileDialog::deleteSelectsFirstRemaining()
{
    Fixture f;
    for (const char *name : {"home", "lab", "office"}) {
        f.reopen();
        f.click("buttonNew");
        f.fill(QLatin1String(name), QLatin1String(name) + QStringLiteral(".example.com"), QStringLiteral("u"),
               QLatin1String(name) + QStringLiteral("-pw"));
        f.save();
    }
    f.reopen();
    f.clickRow(QStringLiteral("lab"));
    QCOMPARE(f.edit("lineEditHost")->text(), QStringLiteral("lab.example.com"));

    QSignalSpy deleted(&f.dialog->keyChain, &KeyChainClass::keyDeleted);
    f.click("buttonDelete");
    QVERIFY(f.dialog->isVisible());
    QCOMPARE(f.hostSelectorItems(), (QStringList{QStringLiteral("home"), QStringLiteral("office")}));
    QCOMPARE(f.list()->currentIndex().row(), 0);
    QCOMPARE(f.edit("lineEditName")->text(), QStringLiteral("home"));
    QCOMPARE(f.edit("lineEditHost")->text(), QStringLiteral("home.example.com"));
    QCOMPARE(f.edit("lineEditPassword")->text(), QStringLiteral("home-pw"));
    QVERIFY(!f.edit("lineEditName")->isEnabled());
    QVERIFY(f.button("buttonDelete")->isEnabled());

    QVERIFY(deleted.wait(waitMs));
    QCOMPARE(secretStoreLookup(QStringLiteral("lab")), QString());
    QCOMPARE(secretStoreLookup(QStringLiteral("home")), QStringLiteral("home-pw"));
    QCOMPARE(secretStoreLookup(QStringLiteral("office")), QStringLiteral("office-pw"));
    QCOMPARE(f.file().keys(), (QStringList{QStringLiteral("home"), QStringLiteral("office")}));
}

void TestProfileDialog::reselectingShownProfileKeepsEdits()
{
    const QJsonObject office{{QStringLiteral("host"), QStringLiteral("office.example.com")},
                             {QStringLiteral("username"), QStringLiteral("alice")}};
    const QJsonObject lab{{QStringLiteral("host"), QStringLiteral("lab.example.com")},
                          {QStringLiteral("username"), QStringLiteral("bob")}};
    Fixture f(QJsonDocument(QJsonObject{{QStringLiteral("office"), office}, {QStringLiteral("lab"), lab}}).toJson());

    // After New, typing an existing name and then picking it in the list keeps
    // what was typed.
    f.click("buttonNew");
    f.type("lineEditName", QStringLiteral("office"));
    f.type("lineEditHost", QStringLiteral("typed.example.com"));
    f.clickRow(QStringLiteral("office"));
    QCOMPARE(f.list()->currentIndex().data().toString(), QStringLiteral("office"));
    QCOMPARE(f.edit("lineEditHost")->text(), QStringLiteral("typed.example.com"));
    QVERIFY(!f.edit("lineEditName")->isEnabled());
    QVERIFY(f.button("buttonDelete")->isEnabled());

    // Another profile replaces the fields; coming back shows the stored values.
    f.clickRow(QStringLiteral("lab"));
    QCOMPARE(f.edit("lineEditHost")->text(), QStringLiteral("lab.example.com"));
    // Filled in from its start, so a long host shows its beginning.
    QCOMPARE(f.edit("lineEditHost")->cursorPosition(), 0);
    f.clickRow(QStringLiteral("office"));
    QCOMPARE(f.edit("lineEditHost")->text(), QStringLiteral("office.example.com"));
}

void TestProfileDialog::missingGroupAndSecretShowEmpty()
{
    const QJsonObject full{{QStringLiteral("host"), QStringLiteral("h1")},
                           {QStringLiteral("username"), QStringLiteral("u1")},
                           {QStringLiteral("group"), QStringLiteral("staff")},
                           {QStringLiteral("secret"), QStringLiteral("k3y")}};
    const QJsonObject bare{{QStringLiteral("host"), QStringLiteral("h2")},
                           {QStringLiteral("username"), QStringLiteral("u2")}};
    Fixture f(QJsonDocument(QJsonObject{{QStringLiteral("home"), full}, {QStringLiteral("lab"), bare}}).toJson());
    f.clickRow(QStringLiteral("home"));
    QCOMPARE(f.edit("lineEditGroup")->text(), QStringLiteral("staff"));
    f.clickRow(QStringLiteral("lab"));
    QCOMPARE(f.fieldTexts(), (QStringList{QStringLiteral("lab"), QStringLiteral("h2"), QStringLiteral("u2"), QString(),
                                          QString(), QString()}));
    QCOMPARE(f.dialog->profiles.value(QStringLiteral("lab")).toObject(), bare);
}

void TestProfileDialog::noPasswordInAnyFile()
{
    const QStringList passwords{QStringLiteral("first-Secret-1"), QStringLiteral("second-Secret-2"),
                                QStringLiteral("third-Secret-3")};
    Fixture f;
    QSignalSpy stored(&f.dialog->keyChain, &KeyChainClass::keyStored);
    const QStringList names{QStringLiteral("home"), QStringLiteral("lab"), QStringLiteral("office")};
    for (int i = 0; i < names.size(); ++i) {
        f.reopen();
        f.click("buttonNew");
        f.fill(names.at(i), QStringLiteral("h"), QStringLiteral("u"), passwords.at(i));
        f.save();
    }
    f.reopen();
    f.clickRow(QStringLiteral("lab"));
    f.click("buttonDelete");
    QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 4, waitMs);

    int files = 0;
    QDirIterator it(f.env.configDir(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        ++files;
        for (const QString &password : passwords)
            QVERIFY2(!bytes.contains(password.toUtf8()), qPrintable(file.fileName() + QStringLiteral(": ") + password));
    }
    QVERIFY(files >= 1);
    QCOMPARE(f.file().keys(), (QStringList{QStringLiteral("home"), QStringLiteral("office")}));
}

void TestProfileDialog::fileFailureBoxBelongsToWindow()
{
    Fixture f;
    QVERIFY(f.loaded);
    QVERIFY(QDir(f.env.configDir()).remove(QStringLiteral("profile.json")));
    QVERIFY(QDir().mkpath(f.env.configFile(QStringLiteral("profile.json"))));

    f.fill(QStringLiteral("office"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("pw"));
    const QList<BoxSeen> boxes = f.save();
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes.at(0).text, notice);
    // The failure box belongs to the window and comes after the dialog closed.
    const BoxSeen &failure = boxes.at(1);
    QCOMPARE(failure.text, QStringLiteral("Couldn't open profile file"));
    QCOMPARE(failure.parent.data(), &f.window);
    QVERIFY(!failure.dialogVisible);
    // The change stays in memory; nothing reached the credential store.
    QVERIFY(f.dialog->profiles.contains(QStringLiteral("office")));
    QCOMPARE(secretStoreLookup(QStringLiteral("office")), QString());
    QVERIFY(f.env.errors.isEmpty());
}

void TestProfileDialog::deleteKeepsUnrestoredPassword()
{
    // "lab" has no password in memory (its read found nothing); an entry that
    // appears later must not be overwritten with the empty field when another
    // profile is deleted and "lab" is shown.
    const QJsonObject plain{{QStringLiteral("host"), QStringLiteral("h")},
                            {QStringLiteral("username"), QStringLiteral("u")}};
    Fixture f(QJsonDocument(QJsonObject{{QStringLiteral("home"), plain}, {QStringLiteral("lab"), plain}}).toJson());
    QSignalSpy readErrors(&f.dialog->keyChain, &KeyChainClass::error);
    QTRY_COMPARE_WITH_TIMEOUT(readErrors.size(), 2, waitMs);
    QVERIFY(secretStoreSet(QStringLiteral("lab"), QStringLiteral("lab-pw")));

    QSignalSpy deleted(&f.dialog->keyChain, &KeyChainClass::keyDeleted);
    f.clickRow(QStringLiteral("home"));
    f.click("buttonDelete");
    QCOMPARE(f.edit("lineEditName")->text(), QStringLiteral("lab"));
    QCOMPARE(f.edit("lineEditPassword")->text(), QString());
    QVERIFY(deleted.wait(waitMs));
    QCOMPARE(secretStoreLookup(QStringLiteral("lab")), QStringLiteral("lab-pw"));
}

void TestProfileDialog::saveKeepsUnrestoredCredential_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("typed"); // what the user types into the field, "-" for nothing
    QTest::addColumn<QString>("stored");
    const QString password = QStringLiteral("lineEditPassword");
    const QString secret = QStringLiteral("lineEditSecretkey");
    QTest::newRow("password, only the group changed")
        << password << QString() << QStringLiteral("-") << QStringLiteral("office-stored");
    QTest::newRow("password typed") << password << QString() << QStringLiteral("typed") << QStringLiteral("typed");
    QTest::newRow("secret, only the group changed")
        << secret << secretStoreSecretService() << QStringLiteral("-") << QStringLiteral("office-stored");
    QTest::newRow("secret typed") << secret << secretStoreSecretService() << QStringLiteral("typed")
                                  << QStringLiteral("typed");
}

void TestProfileDialog::saveKeepsUnrestoredCredential()
{
    // At start the store could not be read (locked or slow), so "office" shows
    // an empty field although the store holds its value.
    QFETCH(QString, field);
    QFETCH(QString, service);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    const QJsonObject plain{{QStringLiteral("host"), QStringLiteral("h")},
                            {QStringLiteral("username"), QStringLiteral("u")}};
    Fixture f(QJsonDocument(QJsonObject{{QStringLiteral("office"), plain}}).toJson());
    KeyChainClass &chain = service.isEmpty() ? f.dialog->keyChain : f.dialog->secretChain;
    QSignalSpy readErrors(&chain, &KeyChainClass::error);
    QTRY_COMPARE_WITH_TIMEOUT(readErrors.size(), 1, waitMs);
    QVERIFY(secretStoreSet(QStringLiteral("office"), QStringLiteral("office-stored"), service));

    f.clickRow(QStringLiteral("office"));
    QCOMPARE(f.edit(field.toLatin1().constData())->text(), QString());
    f.type("lineEditGroup", QStringLiteral("staff"));
    if (typed != QLatin1String("-"))
        f.type(field.toLatin1().constData(), typed);
    QSignalSpy written(&chain, &KeyChainClass::keyStored);
    f.save();
    QCOMPARE(f.file().value(QStringLiteral("office")).toObject().value(QStringLiteral("group")).toString(),
             QStringLiteral("staff"));
    // A write, if one was started, has landed by now.
    if (typed != QLatin1String("-"))
        QVERIFY(written.wait(waitMs));
    else
        QVERIFY(!written.wait(500));
    // What the next start reads back.
    KeyChainClass reader(service.isEmpty() ? KeyChainClass::serviceName() : service);
    QSignalSpy read(&reader, &KeyChainClass::keyRestored);
    reader.readKey(QStringLiteral("office"));
    QVERIFY(read.wait(waitMs));
    QCOMPARE(read.first().at(1).toString(), stored);
}

// A new profile saved with the password left empty still gets its entry, so
// the next start reads it back and announces it (which automatic log-on
// waits for).
void TestProfileDialog::newProfileWithoutPasswordIsRestored()
{
    Fixture f;
    QSignalSpy stored(&f.dialog->keyChain, &KeyChainClass::keyStored);
    f.fill(QStringLiteral("office"), QStringLiteral("vpn.example.com"), QStringLiteral("alice"));
    f.save();
    QVERIFY(stored.wait(waitMs));
    QCOMPARE(stored.first().first().toString(), QStringLiteral("office"));

    ProfileManager next;
    QSignalSpy restored(&next, &ProfileManager::keyRestored);
    QVERIFY(next.loadProfile());
    QVERIFY(restored.wait(waitMs));
    QCOMPARE(restored.first().first().toString(), QStringLiteral("office"));
    QCOMPARE(next.profiles.value(QStringLiteral("office")).toObject().value(QStringLiteral("password")),
             QJsonValue(QString()));
}

namespace {
// The child of withoutCredentialStoreNothingIsLost, on a bus without a Secret
// Service: builds the window on a profile file of the original format, then
// deletes one profile in the dialog, which writes the password of the profile
// shown next. Prints the status line and the file as they end up.
int windowWithoutStore(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestEnv env;
    QJsonObject shown{{QStringLiteral("host"), QStringLiteral("h")},
                      {QStringLiteral("username"), QStringLiteral("u")},
                      {QStringLiteral("password"), QStringLiteral("shown-pw")},
                      {QStringLiteral("secret"), QStringLiteral("shown-secret")}};
    env.writeConfigFile(
        QStringLiteral("profile.json"),
        QJsonDocument(QJsonObject{{QStringLiteral("gone"), shown}, {QStringLiteral("shown"), shown}}).toJson());
    Orvalin window;
    auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
    if (!KeyChainClass::waitForJobs(30000))
        return 3;
    // The passwords could not move out of the file, but nothing is lost yet.
    const QString statusAtStart = statusBar->text();
    DialogDriver driver;
    driver.dialog = window.findChild<ProfileManager *>();
    driver.dialog->initConnections();
    driver.dialog->show();
    driver.clickRow(QStringLiteral("gone"));
    driver.click("buttonDelete");
    if (driver.edit("lineEditName")->text() != QLatin1String("shown") || !KeyChainClass::waitForJobs(30000))
        return 4;
    const QString status = statusBar->text();
    std::printf("start %s\nstatus %s\nfile %s\n", statusAtStart.toUtf8().toBase64().constData(),
                status.toUtf8().toBase64().constData(),
                env.readConfigFile(QStringLiteral("profile.json")).toBase64().constData());
    return 0;
}
} // namespace

// No Secret Service at all (the package only recommends one): a Delete that
// writes the next profile's password leaves that password in the file it came
// from, and the status line says that the keyring is unavailable.
void TestProfileDialog::withoutCredentialStoreNothingIsLost()
{
    PrivateSessionBus bus;
    QVERIFY(bus.isValid());
    QProcess child;
    child.setProcessEnvironment(bus.environment());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--window-without-store")});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    QString statusAtStart;
    QString status;
    QByteArray file;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith("start "))
            statusAtStart = QString::fromUtf8(QByteArray::fromBase64(line.mid(6)));
        else if (line.startsWith("status "))
            status = QString::fromUtf8(QByteArray::fromBase64(line.mid(7)));
        else if (line.startsWith("file "))
            file = QByteArray::fromBase64(line.mid(5));
    }
    const QString unavailable = QStringLiteral("系统密钥环不可用，密码仅在本次运行期间保留");
    QVERIFY(!statusAtStart.isEmpty() && statusAtStart != unavailable);
    QCOMPARE(status, unavailable);
    const QJsonObject profiles = QJsonDocument::fromJson(file).object();
    QCOMPARE(profiles.keys(), QStringList{QStringLiteral("shown")});
    QCOMPARE(profiles.value(QStringLiteral("shown")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("shown-pw"));
    QCOMPARE(profiles.value(QStringLiteral("shown")).toObject().value(QStringLiteral("secret")).toString(),
             QStringLiteral("shown-secret"));
}

void TestProfileDialog::windowSelectsLastProfile_data()
{
    QTest::addColumn<QString>("lastProfile");
    QTest::addColumn<QString>("shown");
    QTest::newRow("last used") << QStringLiteral("b") << QStringLiteral("b");
    QTest::newRow("never connected") << QString() << QStringLiteral("A");
    QTest::newRow("deleted since") << QStringLiteral("gone") << QStringLiteral("A");
    QTest::newRow("case differs") << QStringLiteral("B") << QStringLiteral("A");
}

void TestProfileDialog::windowSelectsLastProfile()
{
    QFETCH(QString, lastProfile);
    QFETCH(QString, shown);
    TestEnv env;
    writeProfilesbAa(env, lastProfile);

    Orvalin window;
    auto *hostSelector = window.findChild<QComboBox *>(QStringLiteral("comboBoxHost"));
    auto *profileManager = window.findChild<ProfileManager *>();
    QVERIFY(hostSelector && profileManager);
    QCOMPARE(profileManager->parentWidget(), &window);
    QCOMPARE(hostSelector->model(), profileManager->model);
    QCOMPARE(hostSelector->count(), 3);
    QCOMPARE(hostSelector->itemText(0), QStringLiteral("A"));
    QCOMPARE(hostSelector->itemText(1), QStringLiteral("a"));
    QCOMPARE(hostSelector->itemText(2), QStringLiteral("b"));
    QCOMPARE(hostSelector->currentText(), shown);
}

void TestProfileDialog::windowWithoutProfileFile()
{
    TestEnv env;
    QVERIFY(QDir().mkpath(env.configFile(QStringLiteral("profile.json"))));
    QWidget *boxParent = nullptr;
    QString boxText;
    // The box comes up while the window is being built.
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [&, timer] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxText = box->text();
            boxParent = box->parentWidget();
            box->done(QMessageBox::Ok);
            timer->deleteLater();
        }
    });
    timer->start(20);

    Orvalin window;
    QCOMPARE(boxText, QStringLiteral("Couldn't open profile file"));
    QCOMPARE(boxParent, &window);
    auto *hostSelector = window.findChild<QComboBox *>(QStringLiteral("comboBoxHost"));
    QVERIFY(hostSelector->model() != window.findChild<ProfileManager *>()->model);
    QCOMPARE(hostSelector->count(), 0);
}

void TestProfileDialog::plusButtonOpensDialog()
{
    TestEnv env;
    FakeAgent agent;
    Orvalin window;
    QVERIFY(showWindow(window, agent));

    auto *hostSelector = window.findChild<QComboBox *>(QStringLiteral("comboBoxHost"));
    QCOMPARE(hostSelector->count(), 0);
    auto *dialog = window.findChild<ProfileManager *>();
    QSignalSpy stored(&dialog->keyChain, &KeyChainClass::keyStored);

    // Inside the dialog's own modal loop: fill in a profile and save it, which
    // brings up the keychain notice and then closes the dialog.
    bool wasModal = false;
    BoxWatcher watcher(dialog);
    QTimer::singleShot(0, dialog, [&] {
        wasModal = QApplication::activeModalWidget() == dialog;
        auto type = [&](const char *name, const QString &text) {
            QTest::keyClicks(dialog->findChild<QLineEdit *>(QLatin1String(name)), text);
        };
        type("lineEditName", QStringLiteral("office"));
        type("lineEditHost", QStringLiteral("vpn.example.com"));
        type("lineEditUsername", QStringLiteral("alice"));
        type("lineEditPassword", QStringLiteral("pw-from-window"));
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("buttonSave")), Qt::LeftButton);
    });
    QTest::mouseClick(window.findChild<QToolButton *>(QStringLiteral("buttonProfile")), Qt::LeftButton);

    QVERIFY(wasModal);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(hostSelector->count(), 1);
    QCOMPARE(hostSelector->currentText(), QStringLiteral("office"));
    QVERIFY(stored.wait(waitMs));
    QCOMPARE(secretStoreLookup(QStringLiteral("office")), QStringLiteral("pw-from-window"));
}

void TestProfileDialog::windowKeepsPickedHost()
{
    // Save and Delete in the dialog rebuild the shared list; the host selector
    // keeps the profile the user picked as long as it exists.
    TestEnv env;
    writeProfilesbAa(env, QStringLiteral("b"));
    FakeAgent agent;
    Orvalin window;
    QVERIFY(showWindow(window, agent));

    auto *hostSelector = window.findChild<QComboBox *>(QStringLiteral("comboBoxHost"));
    QCOMPARE(hostSelector->currentText(), QStringLiteral("b"));
    hostSelector->setCurrentIndex(hostSelector->findText(QStringLiteral("a")));

    DialogDriver d;
    d.dialog = window.findChild<ProfileManager *>();
    d.reopen();
    d.fill(QStringLiteral("c"), QStringLiteral("h"), QStringLiteral("u"));
    d.save();
    QCOMPARE(hostSelector->count(), 4);
    QCOMPARE(hostSelector->currentText(), QStringLiteral("a"));

    d.reopen();
    d.clickRow(QStringLiteral("A"));
    d.click("buttonDelete");
    QCOMPARE(hostSelector->count(), 3);
    QCOMPARE(hostSelector->currentText(), QStringLiteral("a"));

    // When the picked profile itself goes, the selector shows the first one.
    d.clickRow(QStringLiteral("a"));
    d.click("buttonDelete");
    QCOMPARE(hostSelector->count(), 2);
    QCOMPARE(hostSelector->currentText(), QStringLiteral("b"));
}

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--window-without-store") == 0)
        return windowWithoutStore(argc, argv);
    QApplication app(argc, argv);
    TestProfileDialog test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_profiledialog.moc"
