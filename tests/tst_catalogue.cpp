#include "translation.h"

#include <QFile>
#include <QJsonObject>
#include <QJsonValue>
#include <QImage>
#include <QLocale>
#include <QMenu>
#include <QTextBrowser>
#include <QTranslator>
#include <QtTest>

// The embedded resource bundles and the Chinese catalogue as the application
// finds them at start: by locale, from ":/i18n".
class TstCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void loadsOnlyForChineseChina_data();
    void loadsOnlyForChineseChina();
    void startUpRule_data();
    void startUpRule();
    void translations_data();
    void translations();
    void textViewContextMenu_data();
    void textViewContextMenu();
    void resources_data();
    void resources();

private:
    static bool loadCatalogue(QTranslator &translator, const QLocale &locale);
};

bool TstCatalogue::loadCatalogue(QTranslator &translator, const QLocale &locale)
{
    return translator.load(locale, QStringLiteral("orvalin"), QStringLiteral("_"), QStringLiteral(":/i18n"), QString());
}

void TstCatalogue::loadsOnlyForChineseChina_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("found");

    QTest::newRow("zh_CN") << QLocale(QLocale::Chinese, QLocale::China) << true;
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << false;
    QTest::newRow("zh_TW") << QLocale(QLocale::Chinese, QLocale::Taiwan) << false;
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << false;
}

void TstCatalogue::loadsOnlyForChineseChina()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, found);

    QTranslator translator;
    QCOMPARE(loadCatalogue(translator, locale), found);
}

void TstCatalogue::startUpRule_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("settingsLoaded");
    QTest::addColumn<QJsonValue>("local");
    QTest::addColumn<bool>("installed");

    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("zh_CN, local on") << chinese << true << QJsonValue(true) << true;
    QTest::newRow("en_US, local on") << english << true << QJsonValue(true) << false;
    QTest::newRow("zh_CN, local off") << chinese << true << QJsonValue(false) << false;
    QTest::newRow("zh_CN, local not a bool") << chinese << true << QJsonValue("yes") << false;
    QTest::newRow("zh_CN, settings not loaded") << chinese << false << QJsonValue(true) << false;
}

void TstCatalogue::startUpRule()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, settingsLoaded);
    QFETCH(QJsonValue, local);
    QFETCH(bool, installed);

    QTranslator translator;
    const QJsonObject config{{QStringLiteral("local"), local}};
    QCOMPARE(installCatalogue(translator, settingsLoaded, config, locale), installed);
    QCOMPARE(QCoreApplication::translate("Orvalin", "Gateway"),
             installed ? QStringLiteral("网关") : QStringLiteral("Gateway"));
    QCoreApplication::removeTranslator(&translator);
}

void TstCatalogue::translations_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("chinese");

    QTest::newRow("Orvalin tab") << "Orvalin"
                                 << "About" << QStringLiteral("帮助");
    QTest::newRow("Orvalin label") << "Orvalin"
                                   << "TLS CipherSuite:" << QStringLiteral("TLS 加密套件：");
    QTest::newRow("Orvalin connect") << "Orvalin"
                                     << "Connect" << QStringLiteral("连接");
    QTest::newRow("Orvalin disconnect") << "Orvalin"
                                        << "Disconnect" << QStringLiteral("断开");
    QTest::newRow("Orvalin log viewer") << "Orvalin"
                                        << "Log Viewer" << QStringLiteral("连接日志");
    QTest::newRow("Orvalin log error") << "Orvalin"
                                       << "Couldn't open log file" << QStringLiteral("未能打开日志文件");
    QTest::newRow("Orvalin history") << "Orvalin"
                                     << "History" << QStringLiteral("连接记录");
    QTest::newRow("Orvalin diagnostics") << "Orvalin"
                                         << "Export diagnostics" << QStringLiteral("导出诊断信息");
    QTest::newRow("HistoryDialog clear") << "HistoryDialog"
                                         << "Clear" << QStringLiteral("清空");
    QTest::newRow("HistoryDialog summary") << "HistoryDialog"
                                           << "Last 24 hours: sessions %1, connected %2, losses %3"
                                           << QStringLiteral("最近 24 小时：会话 %1 次，连接时长 %2，中断 %3 次");
    QTest::newRow("HistoryDialog link back") << "HistoryDialog"
                                             << "Agent link restored" << QStringLiteral("与代理的连接已恢复");
    QTest::newRow("HistoryDialog taken over") << "HistoryDialog"
                                              << "Session taken over" << QStringLiteral("已接管运行中的会话");
    QTest::newRow("Orvalin plus stays") << "Orvalin"
                                        << "+"
                                        << "+";
    QTest::newRow("Orvalin title has no entry") << "Orvalin"
                                                << "Kestrum SSLVPN Client"
                                                << "Kestrum SSLVPN Client";
    QTest::newRow("ConfigManager") << "ConfigManager"
                                   << "Couldn't open config file" << QStringLiteral("未能打开配置文件");
    QTest::newRow("DetailDialog title") << "DetailDialog"
                                        << "Statistics and Route Details" << QStringLiteral("流量统计和路由详情");
    QTest::newRow("DetailDialog column") << "DetailDialog"
                                         << "Destination" << QStringLiteral("地址");
    QTest::newRow("ProfileManager title") << "ProfileManager"
                                          << "Profile Manager" << QStringLiteral("Profile 管理");
    QTest::newRow("ProfileManager group") << "ProfileManager"
                                          << "Group:" << QStringLiteral("用户组：");
    QTest::newRow("ProfileManager secret stays") << "ProfileManager"
                                                 << "Secret:"
                                                 << "Secret:";
    QTest::newRow("ProfileManager file") << "ProfileManager"
                                         << "Couldn't open profile file" << QStringLiteral("未能打开 profile 文件");
    QTest::newRow("same source, other context") << "DetailDialog"
                                                << "Host:"
                                                << "Host:";
    QTest::newRow("QObject error") << "QObject"
                                   << "Error" << QStringLiteral("错误");
    QTest::newRow("QObject tips") << "QObject"
                                  << "Tips" << QStringLiteral("提示");
    QTest::newRow("KeyChainClass has no entries") << "KeyChainClass"
                                                  << "Read key failed: %1"
                                                  << "Read key failed: %1";
}

void TstCatalogue::translations()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, chinese);

    const QByteArray ctx = context.toUtf8();
    const QByteArray src = source.toUtf8();
    QCOMPARE(QCoreApplication::translate(ctx.constData(), src.constData()), source);

    QTranslator translator;
    QVERIFY(loadCatalogue(translator, QLocale(QLocale::Chinese, QLocale::China)));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const QString translated = QCoreApplication::translate(ctx.constData(), src.constData());
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(translated, chinese);
}

void TstCatalogue::textViewContextMenu_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("English") << false
                             << QStringList{QStringLiteral("&Copy"), QStringLiteral("Copy &Link Location"),
                                            QStringLiteral("Select All")};
    QTest::newRow("Chinese") << true
                             << QStringList{QStringLiteral("复制(&C)"), QStringLiteral("复制链接(&L)"),
                                            QStringLiteral("全选")};
}

// Qt's own menu of a read-only text view, as in the log viewer and the security tips.
void TstCatalogue::textViewContextMenu()
{
    QFETCH(bool, installed);
    QFETCH(QStringList, entries);

    QTranslator translator;
    if (installed) {
        QVERIFY(loadCatalogue(translator, QLocale(QLocale::Chinese, QLocale::China)));
        QCoreApplication::installTranslator(&translator);
    }

    QTextBrowser view;
    view.resize(400, 200);
    view.setHtml(QStringLiteral("<p><a href=\"https://www.kestrum.example/\">link</a> text</p>"));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(2);
    const QPoint onLink = view.cursorRect(cursor).center();

    std::unique_ptr<QMenu> menu(view.createStandardContextMenu(onLink));
    QStringList texts;
    for (const QAction *action : menu->actions())
        if (!action->isSeparator())
            texts.append(action->text().section(QLatin1Char('\t'), 0, 0)); // drop the shortcut column
    QCoreApplication::removeTranslator(&translator);

    for (const QString &entry : entries)
        QVERIFY2(texts.contains(entry), qPrintable(texts.join(QLatin1String(" | "))));
}

void TstCatalogue::resources_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QString>("startsWith");

    QTest::newRow("tray connected") << ":/assets/connected.png" << QSize(16, 16) << QString();
    QTest::newRow("tray not connected") << ":/assets/notconnected.png" << QSize(16, 16) << QString();
    QTest::newRow("tray connecting") << ":/assets/connecting.png" << QSize(16, 16) << QString();
    QTest::newRow("logo") << ":/assets/orvalin64.png" << QSize(64, 64) << QString();
    QTest::newRow("tips") << ":/resource/README.md" << QSize() << "## Security\n";
    QTest::newRow("tips zh_CN") << ":/resource/README_zh_CN.md" << QSize() << QStringLiteral("## 安全提醒\n");
    QTest::newRow("catalogue") << ":/i18n/orvalin_zh_CN.qm" << QSize() << QString();
}

void TstCatalogue::resources()
{
    QFETCH(QString, path);
    QFETCH(QSize, imageSize);
    QFETCH(QString, startsWith);

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray bytes = file.readAll();
    QVERIFY(!bytes.isEmpty());
    if (imageSize.isValid()) {
        const QImage image = QImage::fromData(bytes, "PNG");
        QCOMPARE(image.size(), imageSize);
        QVERIFY(image.hasAlphaChannel());
    }
    if (!startsWith.isEmpty())
        QVERIFY(QString::fromUtf8(bytes).startsWith(startsWith));
}

QTEST_MAIN(TstCatalogue)
#include "tst_catalogue.moc"
