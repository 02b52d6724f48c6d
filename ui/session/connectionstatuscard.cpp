#include "connectionstatuscard.h"

#include "boundedlabel.h"
#include "decoration.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QString hintText = QStringLiteral("点击 \"连接\" 开始");
const QString greyStyle = QStringLiteral("color: #64748B;");

QPushButton *makeButton(const QString &text, const QString &objectName, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    if (!objectName.isEmpty())
        button->setObjectName(objectName);
    button->setFixedHeight(32);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

template<typename Label = QLabel>
Label *makeLabel(const QString &objectName, const QString &styleSheet, QWidget *parent)
{
    auto *label = new Label(parent);
    if (!objectName.isEmpty())
        label->setObjectName(objectName);
    if (!styleSheet.isEmpty())
        label->setStyleSheet(styleSheet);
    return label;
}

} // namespace

ConnectionStatusCard::ConnectionStatusCard(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("connectionStatusCard"));
    setMinimumHeight(120);
    setMaximumHeight(180);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(24, 20, 24, 20);
    outer->setSpacing(12);

    // Header: emoji, title above the gateway line.
    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    iconLabel = new DecorativeLabel(this);
    iconLabel->setStyleSheet(QStringLiteral("font-size: 32px;"));
    iconLabel->setFixedSize(48, 48);
    iconLabel->setAlignment(Qt::AlignCenter);
    header->addWidget(iconLabel);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(4);
    statusLabel = makeLabel(QStringLiteral("statusLabel"), QString(), this);
    QFont titleFont = statusLabel->font();
    titleFont.setPointSize(16);
    titleFont.setWeight(QFont::DemiBold);
    statusLabel->setFont(titleFont);
    titles->addWidget(statusLabel);
    // The gateway comes from the profile file, the address and the error from
    // the agent: shown as plain text, bounded.
    serverLabel = makeLabel<BoundedLabel>(QStringLiteral("serverLabel"), greyStyle, this);
    titles->addWidget(serverLabel);
    header->addLayout(titles);
    header->addStretch();
    outer->addLayout(header);

    // Connected: VPN address and the disconnect button.
    infoRow = new QWidget(this);
    auto *infoLayout = new QHBoxLayout(infoRow);
    infoLayout->setContentsMargins(0, 0, 0, 0);
    infoLayout->setSpacing(16);
    vpnLabel = makeLabel<BoundedLabel>(QStringLiteral("vpnLabel"), greyStyle, infoRow);
    durationLabel = makeLabel(QStringLiteral("durationLabel"), greyStyle, infoRow);
    disconnectBtn = makeButton(QStringLiteral("断开连接"), QStringLiteral("disconnectBtn"), infoRow);
    infoLayout->addWidget(vpnLabel);
    infoLayout->addWidget(durationLabel);
    infoLayout->addStretch();
    infoLayout->addWidget(disconnectBtn);
    outer->addWidget(infoRow);

    // Error: the agent's message with retry and details.
    errorRow = new QWidget(this);
    auto *errorLayout = new QHBoxLayout(errorRow);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    errorLayout->setSpacing(8);
    errorLabel = makeLabel<BoundedLabel>(QStringLiteral("errorLabel"), QStringLiteral("color: #EF4444;"), errorRow);
    // Wrapped, in the height the card has for it.
    errorLabel->setMaximumLines(2);
    retryBtn = makeButton(QStringLiteral("重试"), QString(), errorRow);
    detailsBtn = makeButton(QStringLiteral("详情"), QString(), errorRow);
    errorLayout->addWidget(errorLabel, 1);
    errorLayout->addWidget(retryBtn);
    errorLayout->addWidget(detailsBtn);
    outer->addWidget(errorRow);

    // Connecting: a progress line.
    progressRow = new QWidget(this);
    auto *progressLayout = new QVBoxLayout(progressRow);
    progressLayout->setContentsMargins(0, 8, 0, 0);
    progressLayout->setSpacing(4);
    progressLabel = makeLabel(QString(), greyStyle, progressRow);
    progressLabel->setAlignment(Qt::AlignCenter);
    progressLabel->setText(QStringLiteral("0%"));
    progressLayout->addWidget(progressLabel);
    outer->addWidget(progressRow);

    infoRow->hide();
    errorRow->hide();
    progressRow->hide();

    iconLabel->setText(QStringLiteral("🔓"));
    statusLabel->setText(QStringLiteral("未连接"));
    serverLabel->setText(hintText);

    // Screen readers announce the card by its state; the emoji (a decorative
    // label) repeats the title, so the card speaks for it.
    setAccessibleName(tr("Not connected"));
    setAccessibleDescription(tr("State of the VPN connection"));

    connect(disconnectBtn, &QPushButton::clicked, this, &ConnectionStatusCard::disconnectClicked);
    connect(retryBtn, &QPushButton::clicked, this, &ConnectionStatusCard::retryClicked);
    connect(detailsBtn, &QPushButton::clicked, this, &ConnectionStatusCard::detailsClicked);
}

ConnectionStatusCard::Status ConnectionStatusCard::status() const
{
    return currentStatus;
}

QString ConnectionStatusCard::statusName() const
{
    switch (currentStatus) {
    case Connecting:
        return QStringLiteral("connecting");
    case Connected:
        return QStringLiteral("connected");
    case Error:
        return QStringLiteral("error");
    case Disconnected:
        break;
    }
    return QStringLiteral("disconnected");
}

QString ConnectionStatusCard::accessibleStateName() const
{
    // The visible titles are Chinese in both languages; what a screen reader
    // announces follows the interface language.
    switch (currentStatus) {
    case Connecting:
        return tr("Connecting");
    case Connected:
        return tr("Connected");
    case Error:
        return tr("Connection failed");
    case Disconnected:
        break;
    }
    return tr("Not connected");
}

void ConnectionStatusCard::setStatus(Status status)
{
    if (status == currentStatus)
        return;
    currentStatus = status;
    updateDisplay();
}

void ConnectionStatusCard::setServerText(const QString &text)
{
    serverLabel->setText(text);
}

void ConnectionStatusCard::setErrorText(const QString &text)
{
    errorLabel->setText(text);
}

void ConnectionStatusCard::setVpnAddress(const QString &address)
{
    vpnLabel->setText(QStringLiteral("VPN地址: %1").arg(address));
}

void ConnectionStatusCard::updateDisplay()
{
    for (QWidget *widget : {infoRow, errorRow, progressRow})
        widget->hide();
    for (QWidget *widget :
         {static_cast<QWidget *>(disconnectBtn), static_cast<QWidget *>(retryBtn), static_cast<QWidget *>(detailsBtn)})
        widget->hide();

    QString title;
    QString icon;
    QString colour;
    switch (currentStatus) {
    case Disconnected:
        title = QStringLiteral("未连接");
        icon = QStringLiteral("🔓");
        colour = QStringLiteral("color: #64748B;");
        serverLabel->setText(hintText);
        break;
    case Connecting:
        title = QStringLiteral("正在连接...");
        icon = QStringLiteral("🔄");
        colour = QStringLiteral("color: #F59E0B;");
        progressRow->show();
        break;
    case Connected:
        title = QStringLiteral("已连接");
        icon = QStringLiteral("🔒");
        colour = QStringLiteral("color: #10B981;");
        infoRow->show();
        disconnectBtn->show();
        break;
    case Error:
        title = QStringLiteral("连接失败");
        icon = QStringLiteral("⚠️");
        colour = QStringLiteral("color: #EF4444;");
        errorRow->show();
        retryBtn->show();
        detailsBtn->show();
        break;
    }

    statusLabel->setText(title);
    statusLabel->setStyleSheet(colour);
    iconLabel->setText(icon);
    setAccessibleName(accessibleStateName());

    // The property getter already reads the new state; re-polishing makes
    // rules such as [status="error"] re-evaluate.
    style()->unpolish(this);
    style()->polish(this);
    // The tabs below always want more height than the window has; the card
    // keeps at least what this state's rows need (the connected state has an
    // extra one), between its usual 120 and its 180 at most.
    setMinimumHeight(qBound(120, layout()->minimumSize().height(), maximumHeight()));
    update();
}
