#include "abouttab.h"

#include "appglobals.h"
#include "logfollower.h"
#include "messageboxes.h"
#include "textbrowser.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QPointer>

#include <memory>

AboutTab::AboutTab(QWidget *window)
    : QObject(window)
    , window(window)
{
}

QString AboutTab::logFilePath()
{
    return tempLocation + QStringLiteral("/tunwarden.log");
}

QString AboutTab::tipsFileName(const QString &localeName)
{
    return localeName == QLatin1String("zh_CN") ? QStringLiteral("README_zh_CN.md") : QStringLiteral("README.md");
}

TextBrowser *AboutTab::openLogViewer()
{
    auto dialog = std::make_unique<TextBrowser>(QCoreApplication::translate("Orvalin", "Log Viewer"), window);
    // The follower lives as the dialog's child, so following ends with it.
    auto *follower = new LogFollower(logFilePath(), dialog.get(), dialog.get());
    if (!follower->start()) {
        dialog.reset();
        MessageBoxes::showError(window, QCoreApplication::translate("Orvalin", "Couldn't open log file"));
        return nullptr;
    }
    return dialog.release();
}

TextBrowser *AboutTab::openSecurityTips(const QString &localeName)
{
    QFile file(QStringLiteral(":/resource/") + tipsFileName(localeName));
    if (!file.open(QIODevice::ReadOnly)) {
        MessageBoxes::showError(window, QStringLiteral("无法打开 README.md"));
        return nullptr;
    }
    auto *dialog = new TextBrowser(QStringLiteral("安全提示"), window);
    dialog->setMarkdownText(QString::fromUtf8(file.readAll()));
    return dialog;
}

void AboutTab::viewLog()
{
    // The window may close while the dialog runs (quit from the tray).
    QPointer<TextBrowser> dialog = openLogViewer();
    if (!dialog)
        return;
    dialog->exec();
    delete dialog;
}

void AboutTab::showSecurityTips()
{
    QPointer<TextBrowser> dialog = openSecurityTips(QLocale::system().name());
    if (!dialog)
        return;
    dialog->exec();
    delete dialog;
}
