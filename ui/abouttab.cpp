#include "abouttab.h"

#include "appglobals.h"
#include "diagnosticsreport.h"
#include "sessioncontroller.h"
#include "storedfile.h"
#include "logfollower.h"
#include "messageboxes.h"
#include "policy.h"
#include "textbrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QPointer>

#include <memory>

AboutTab::AboutTab(QWidget *window)
    : QObject(window)
    , window(window)
{
}

QString AboutTab::policyText(const Policy &policy)
{
    if (!policy.isPresent())
        return QString();
    const QStringList keys = policy.keysInForce();
    if (keys.isEmpty())
        return QCoreApplication::translate(
            "Orvalin", "An administrator policy was found but could not be used; the diagnostics report tells why.");
    return QCoreApplication::translate("Orvalin", "Managed by your administrator: %1")
        .arg(keys.join(QStringLiteral("; ")));
}

void AboutTab::showPolicy(QLabel *label, const Policy &policy)
{
    const QString text = policyText(policy);
    label->setText(text);
    label->setVisible(!text.isEmpty());
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

void AboutTab::setSession(SessionController *controller)
{
    session = controller;
}

void AboutTab::setStatusLine(QLabel *label)
{
    statusLine = label;
}

void AboutTab::setPathChooser(PathChooser chooser)
{
    choosePath = std::move(chooser);
}

bool AboutTab::exportDiagnostics()
{
    if (!session)
        return false;
    const QString suggested = DiagnosticsReport::defaultFilePath();
    const QString path
        = choosePath
              ? choosePath(suggested)
              : QFileDialog::getSaveFileName(window, QCoreApplication::translate("Orvalin", "Export diagnostics"),
                                             suggested, QCoreApplication::translate("Orvalin", "Text files (*.txt)"));
    if (path.isEmpty())
        return false;
    const QString report = DiagnosticsReport::compose(DiagnosticsReport::gather(session));
    // All or nothing: a failed write leaves no partial report behind.
    if (!writeFileSafely(path, report.toUtf8())) {
        MessageBoxes::showError(window, QStringLiteral("无法写入诊断信息文件：") + QDir::toNativeSeparators(path));
        return false;
    }
    if (statusLine)
        statusLine->setText(QStringLiteral("诊断信息已保存到 ") + QDir::toNativeSeparators(path));
    return true;
}
