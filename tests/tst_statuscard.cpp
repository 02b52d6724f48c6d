#include "boundedlabel.h"
#include "connectionstatuscard.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QVBoxLayout>

// The status card on its own: state table, the "status" style attribute,
// and the three button signals.
class TestStatusCard : public QObject
{
    Q_OBJECT

private:
    static QLabel *label(ConnectionStatusCard &card, const char *name)
    {
        return card.findChild<QLabel *>(QLatin1String(name));
    }
    static QWidget *rowOf(QWidget *widget) { return widget->parentWidget(); }

private slots:
    void initialState()
    {
        ConnectionStatusCard card;
        QCOMPARE(card.objectName(), QStringLiteral("connectionStatusCard"));
        QCOMPARE(card.status(), ConnectionStatusCard::Disconnected);
        QCOMPARE(label(card, "statusLabel")->text(), QStringLiteral("未连接"));
        QCOMPARE(label(card, "serverLabel")->text(), QStringLiteral("点击 \"连接\" 开始"));
        QCOMPARE(label(card, "serverLabel")->text().size(), 10);
        bool openLock = false;
        for (QLabel *l : card.findChildren<QLabel *>())
            openLock |= l->text() == QStringLiteral("\U0001F513");
        QVERIFY2(openLock, "open-lock emoji shown");
        // No state change yet: the title carries no colour of its own.
        QVERIFY(label(card, "statusLabel")->styleSheet().isEmpty());
        QCOMPARE(card.minimumHeight(), 120);
        QCOMPARE(card.maximumHeight(), 180);
        QCOMPARE(card.property("status").toString(), QStringLiteral("disconnected"));
    }

    void states_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QString>("attribute");
        QTest::addColumn<QString>("visibleRowOf"); // object name of a widget in the visible row, or ""
        QTest::newRow("connecting") << int(ConnectionStatusCard::Connecting) << QStringLiteral("正在连接...")
                                    << QStringLiteral("\U0001F504") << QStringLiteral("color: #F59E0B;")
                                    << QStringLiteral("connecting") << QStringLiteral("progress");
        QTest::newRow("connected") << int(ConnectionStatusCard::Connected) << QStringLiteral("已连接")
                                   << QStringLiteral("\U0001F512") << QStringLiteral("color: #10B981;")
                                   << QStringLiteral("connected") << QStringLiteral("vpnLabel");
        QTest::newRow("error") << int(ConnectionStatusCard::Error) << QStringLiteral("连接失败")
                               << QStringLiteral("\u26A0\uFE0F") << QStringLiteral("color: #EF4444;")
                               << QStringLiteral("error") << QStringLiteral("errorLabel");
    }
    void states()
    {
        QFETCH(int, state);
        QFETCH(QString, title);
        QFETCH(QString, icon);
        QFETCH(QString, colour);
        QFETCH(QString, attribute);
        QFETCH(QString, visibleRowOf);

        ConnectionStatusCard card;
        card.setServerText(QStringLiteral("vpn.example.net"));
        card.show();
        card.setStatus(ConnectionStatusCard::Status(state));

        QCOMPARE(label(card, "statusLabel")->text(), title);
        QCOMPARE(label(card, "statusLabel")->styleSheet(), colour);
        QCOMPARE(card.property("status").toString(), attribute);
        // The gateway line is only replaced in Disconnected.
        QCOMPARE(label(card, "serverLabel")->text(), QStringLiteral("vpn.example.net"));

        const QList<QLabel *> labels = card.findChildren<QLabel *>();
        const auto iconLabel = std::find_if(labels.begin(), labels.end(), [&](QLabel *l) { return l->text() == icon; });
        QVERIFY2(iconLabel != labels.end(), "state emoji shown");

        QWidget *infoRow = rowOf(label(card, "vpnLabel"));
        QWidget *errorRow = rowOf(label(card, "errorLabel"));
        QLabel *progress = nullptr;
        for (QLabel *l : labels)
            if (l->text() == QLatin1String("0%"))
                progress = l;
        QVERIFY(progress);
        QWidget *progressRow = rowOf(progress);

        QCOMPARE(infoRow->isVisible(), visibleRowOf == QLatin1String("vpnLabel"));
        QCOMPARE(errorRow->isVisible(), visibleRowOf == QLatin1String("errorLabel"));
        QCOMPARE(progressRow->isVisible(), visibleRowOf == QLatin1String("progress"));
        QCOMPARE(card.findChild<QPushButton *>(QStringLiteral("disconnectBtn"))->isVisible(),
                 state == ConnectionStatusCard::Connected);
    }

    void sameStateChangesNothing()
    {
        ConnectionStatusCard card;
        card.show();
        card.setStatus(ConnectionStatusCard::Connected);
        // Tamper with what the update step writes; a repeated state must not restore it.
        label(card, "statusLabel")->setText(QStringLiteral("marker"));
        label(card, "statusLabel")->setStyleSheet(QString());
        QWidget *infoRow = rowOf(label(card, "vpnLabel"));
        infoRow->hide();
        card.setStatus(ConnectionStatusCard::Connected);
        QCOMPARE(label(card, "statusLabel")->text(), QStringLiteral("marker"));
        QVERIFY(label(card, "statusLabel")->styleSheet().isEmpty());
        QVERIFY(!infoRow->isVisible());
    }

    void errorThenDisconnectedRestoresHint()
    {
        ConnectionStatusCard card;
        card.show();
        card.setStatus(ConnectionStatusCard::Connecting);
        card.setServerText(QStringLiteral("vpn.example.net"));
        card.setStatus(ConnectionStatusCard::Error);
        card.setErrorText(QStringLiteral("认证失败"));
        QVERIFY(label(card, "errorLabel")->isVisible());
        card.setStatus(ConnectionStatusCard::Disconnected);
        QCOMPARE(label(card, "serverLabel")->text(), QStringLiteral("点击 \"连接\" 开始"));
        QCOMPARE(label(card, "statusLabel")->text(), QStringLiteral("未连接"));
        QCOMPARE(label(card, "statusLabel")->styleSheet(), QStringLiteral("color: #64748B;"));
        QVERIFY(!label(card, "errorLabel")->isVisible());
        // The text as set: the label alone on screen is too narrow to show it whole.
        QCOMPARE(card.findChild<BoundedLabel *>(QStringLiteral("errorLabel"))->text(), QStringLiteral("认证失败"));
    }

    void vpnAddress()
    {
        ConnectionStatusCard card;
        card.setVpnAddress(QStringLiteral("10.8.0.6"));
        QCOMPARE(label(card, "vpnLabel")->text(), QStringLiteral("VPN地址: 10.8.0.6"));
        // No field width and no placeholder interpretation of the argument.
        card.setVpnAddress(QStringLiteral("%1"));
        QCOMPARE(label(card, "vpnLabel")->text(), QStringLiteral("VPN地址: %1"));
    }

    void styleRuleFollowsState()
    {
        QWidget host;
        host.setStyleSheet(
            QStringLiteral("QFrame#connectionStatusCard { background: rgb(1, 2, 3); }"
                           "QFrame#connectionStatusCard[status=\"error\"] { background: rgb(200, 10, 10); }"));
        auto *card = new ConnectionStatusCard(&host);
        card->setAttribute(Qt::WA_StyledBackground);
        host.resize(400, 180);
        card->resize(400, 180);
        host.show();

        const auto centre = [card] { return card->grab().toImage().pixelColor(card->width() - 3, card->height() - 3); };
        QCOMPARE(centre(), QColor(1, 2, 3));
        card->setStatus(ConnectionStatusCard::Connecting);
        QCOMPARE(centre(), QColor(1, 2, 3));
        card->setStatus(ConnectionStatusCard::Error);
        QCOMPARE(centre(), QColor(200, 10, 10));
        card->setStatus(ConnectionStatusCard::Connected);
        QCOMPARE(centre(), QColor(1, 2, 3));
    }

    void longErrorWrapsWithinHeight()
    {
        // In a tall column the layout would give the card all the height it
        // asks for; the card itself is never resized here.
        QWidget column;
        auto *layout = new QVBoxLayout(&column);
        auto *card = new ConnectionStatusCard(&column);
        layout->addWidget(card);
        layout->addStretch(1);
        column.resize(480, 900);
        column.show();
        card->setStatus(ConnectionStatusCard::Error);
        card->setErrorText(QString(20, QChar(u'x')).append(QLatin1Char(' ')).repeated(20));
        QVERIFY(QTest::qWaitForWindowExposed(&column));
        QApplication::processEvents();
        QLabel *error = label(*card, "errorLabel");
        QVERIFY(card->height() >= 120);
        QVERIFY2(card->height() <= 180, qPrintable(QString::number(card->height())));
        // Wrapped: the label is more than one line tall, and the whole text fits its width.
        const int line = error->fontMetrics().lineSpacing();
        QVERIFY2(error->height() >= 2 * line, qPrintable(QString::number(error->height())));
        QVERIFY(error->width() < error->fontMetrics().horizontalAdvance(error->text()));
        QVERIFY(error->mapTo(card, QPoint(0, error->height())).y() <= card->height());
    }

    void buttonsEmitSignals()
    {
        ConnectionStatusCard card;
        card.show();
        QSignalSpy disconnects(&card, &ConnectionStatusCard::disconnectClicked);
        QSignalSpy retries(&card, &ConnectionStatusCard::retryClicked);
        QSignalSpy details(&card, &ConnectionStatusCard::detailsClicked);

        card.setStatus(ConnectionStatusCard::Connected);
        QTest::mouseClick(card.findChild<QPushButton *>(QStringLiteral("disconnectBtn")), Qt::LeftButton);
        QCOMPARE(disconnects.count(), 1);

        card.setStatus(ConnectionStatusCard::Error);
        QPushButton *retry = nullptr;
        QPushButton *detailsButton = nullptr;
        for (QPushButton *button : card.findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("重试"))
                retry = button;
            else if (button->text() == QStringLiteral("详情"))
                detailsButton = button;
        }
        QVERIFY(retry && detailsButton);
        QVERIFY(retry->isVisible() && detailsButton->isVisible());
        QCOMPARE(retry->height(), 32);
        QTest::mouseClick(retry, Qt::LeftButton);
        QTest::mouseClick(detailsButton, Qt::LeftButton);
        QCOMPARE(retries.count(), 1);
        QCOMPARE(details.count(), 1);
        QCOMPARE(disconnects.count(), 1);
    }
};

QTEST_MAIN(TestStatusCard)
#include "tst_statuscard.moc"
