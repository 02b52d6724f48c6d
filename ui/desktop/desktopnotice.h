#pragma once

#include <QObject>
#include <QString>

#include <memory>

class TrayController;

// Puts a notice on the desktop. On Linux it goes to the desktop's
// notification service (org.freedesktop.Notifications on the session bus),
// where Qt's tray sends messages too, but without needing a tray host, which
// many desktops lack; the tray's balloon stands in when no service answers.
// On Windows it is the tray icon's notification.
class DesktopNotice : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotice(TrayController *tray, QObject *parent = nullptr);
    ~DesktopNotice() override;

    // `title` and `body` are plain text.
    void show(const QString &title, const QString &body);

    // The application's name, as notices carry it.
    static QString applicationName();

signals:
    // The user clicked a notice.
    void activated();

private:
    struct Private;
    std::unique_ptr<Private> d;
    TrayController *tray;
};
