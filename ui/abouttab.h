#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class Policy;
class QLabel;
class QWidget;
class SessionController;
class TextBrowser;

// The About tab's two readers: the agent's log, followed while it grows, and
// the security tips in the user's language. Each runs as a modal dialog over
// the window and is gone when it closes. It also exports the redacted
// diagnostics report.
class AboutTab : public QObject
{
    Q_OBJECT

public:
    explicit AboutTab(QWidget *window);

    void viewLog();
    void showSecurityTips();

    // Where the report's contents come from and where its outcome is told.
    void setSession(SessionController *session);
    void setStatusLine(QLabel *statusLine);
    // Picks the file to write, given the suggested path; an empty result
    // cancels. A save dialog unless a test sets its own.
    using PathChooser = std::function<QString(const QString &suggested)>;
    void setPathChooser(PathChooser chooser);
    // Asks for a place and writes the report there; false when cancelled or
    // the file could not be written (after the error box).
    bool exportDiagnostics();

    // The dialogs before they run; null after the error box when the file
    // cannot be read. The caller owns the dialog.
    TextBrowser *openLogViewer();
    TextBrowser *openSecurityTips(const QString &localeName);

    // The line that tells the administrator's policy is in force, and which
    // of its keys; hidden without a policy.
    static void showPolicy(QLabel *label, const Policy &policy);
    static QString policyText(const Policy &policy);

    static QString logFilePath();
    // Chinese only for a system locale named exactly "zh_CN".
    static QString tipsFileName(const QString &localeName);

private:
    QWidget *window;
    QPointer<SessionController> session;
    QPointer<QLabel> statusLine;
    PathChooser choosePath;
};
