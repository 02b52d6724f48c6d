#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QStringDecoder>

class QFile;
class TextBrowser;

// Shows a growing log file in a TextBrowser and follows it: new bytes are
// appended, a file that shrank or was replaced (log rotation) is read again,
// and the view never holds more than `maxHeldCharacters` of it: past that,
// the oldest lines go, a tenth of the bound at a time.
class LogFollower : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype maxHeldCharacters = 10 * 1024 * 1024;

    LogFollower(const QString &path, TextBrowser *view, QObject *parent = nullptr);

    // The first reading; false when the file cannot be opened.
    bool start();

private:
    void onChanged();
    void reload(QFile &file);
    void append(QFile &file, qint64 size);
    bool sameFileAsBefore(QFile &file, qint64 size);
    void watchFile();
    QString decode(const QByteArray &bytes);

    QString path;
    TextBrowser *view;
    QFileSystemWatcher watcher;
    qint64 offset = 0;    // bytes of the file already shown
    QByteArray lastBytes; // the bytes just before `offset`, to recognise the same file
    QStringDecoder decoder{QStringDecoder::Utf8};
    bool pendingCarriageReturn = false;
};
