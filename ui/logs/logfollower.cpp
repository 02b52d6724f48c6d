#include "logfollower.h"

#include "regularfile.h"
#include "textbrowser.h"

#include <QFile>
#include <QFileInfo>

namespace {
// Enough to tell a rotated file from the one already shown.
constexpr qsizetype identityBytes = 64;
} // namespace

LogFollower::LogFollower(const QString &path, TextBrowser *view, QObject *parent)
    : QObject(parent)
    , path(path)
    , view(view)
{
    connect(&watcher, &QFileSystemWatcher::fileChanged, this, &LogFollower::onChanged);
    // The directory tells when a removed or rotated file comes back.
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, &LogFollower::onChanged);
}

bool LogFollower::start()
{
    QFile file(path);
    if (!openRegularFile(file))
        return false;
    reload(file);
    watchFile();
    watcher.addPath(QFileInfo(path).absolutePath());
    return true;
}

void LogFollower::watchFile()
{
    // The watcher drops a path whose file was removed or replaced; watching it
    // again follows the file now at that path.
    watcher.removePath(path);
    watcher.addPath(path);
}

void LogFollower::onChanged()
{
    QFile file(path);
    // Unreadable, gone or not a plain file for now: the view keeps what it shows.
    if (!openRegularFile(file))
        return;
    const qint64 size = file.size();
    const bool watched = watcher.files().contains(path);
    if (!watched || !sameFileAsBefore(file, size)) {
        reload(file);
        watchFile();
    } else if (size > offset) {
        append(file, size);
    }
}

bool LogFollower::sameFileAsBefore(QFile &file, qint64 size)
{
    if (size < offset)
        return false;
    if (lastBytes.isEmpty())
        return true;
    return file.seek(offset - lastBytes.size()) && file.read(lastBytes.size()) == lastBytes;
}

void LogFollower::reload(QFile &file)
{
    const qint64 size = file.size();
    // Only the end of a long log fits the view; start on a whole line.
    const qint64 from = qMax<qint64>(0, size - maxHeldCharacters);
    file.seek(from);
    QByteArray bytes = file.read(size - from);
    if (from > 0) {
        const qsizetype lineEnd = bytes.indexOf('\n');
        if (lineEnd >= 0)
            bytes.remove(0, lineEnd + 1);
    }
    offset = file.pos();
    lastBytes = bytes.right(identityBytes);
    decoder.resetState();
    pendingCarriageReturn = false;
    view->setPlainTextToEnd(decode(bytes));
    view->dropOldestLines(maxHeldCharacters);
}

void LogFollower::append(QFile &file, qint64 size)
{
    // Far more than the view holds: reading it whole is cheaper.
    if (size - offset > maxHeldCharacters) {
        reload(file);
        return;
    }
    if (!file.seek(offset))
        return;
    const QByteArray bytes = file.read(size - offset);
    if (bytes.isEmpty())
        return;
    offset += bytes.size();
    lastBytes = QByteArray(lastBytes + bytes).right(identityBytes);
    view->appendPlainText(decode(bytes));
    // Dropping lines re-lays out the whole view, so it drops a tenth at
    // once rather than a little on every append.
    if (view->heldCharacters() > maxHeldCharacters)
        view->dropOldestLines(maxHeldCharacters - maxHeldCharacters / 10);
}

QString LogFollower::decode(const QByteArray &bytes)
{
    // The decoder keeps a character split between two reads; a "\r" at the
    // end waits for the "\n" that may follow.
    QString text = decoder.decode(bytes);
    if (pendingCarriageReturn)
        text.prepend(QLatin1Char('\r'));
    pendingCarriageReturn = text.endsWith(QLatin1Char('\r'));
    if (pendingCarriageReturn)
        text.chop(1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}
