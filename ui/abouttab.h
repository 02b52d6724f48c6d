#pragma once

#include <QObject>
#include <QString>

class QWidget;
class TextBrowser;

// The About tab's two readers: the agent's log, followed while it grows, and
// the security tips in the user's language. Each runs as a modal dialog over
// the window and is gone when it closes.
class AboutTab : public QObject
{
    Q_OBJECT

public:
    explicit AboutTab(QWidget *window);

    void viewLog();
    void showSecurityTips();

    // The dialogs before they run; null after the error box when the file
    // cannot be read. The caller owns the dialog.
    TextBrowser *openLogViewer();
    TextBrowser *openSecurityTips(const QString &localeName);

    static QString logFilePath();
    // Chinese only for a system locale named exactly "zh_CN".
    static QString tipsFileName(const QString &localeName);

private:
    QWidget *window;
};
