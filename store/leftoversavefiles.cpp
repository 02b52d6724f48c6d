#include "leftoversavefiles.h"

#include "configmanager.h"
#include "connectionhistory.h"
#include "fileowner.h"
#include "profilestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace LeftoverSaveFiles {

namespace {
// What QTemporaryFile puts in place of "XXXXXX" in a save copy's name.
constexpr qsizetype suffixLength = 6;
} // namespace

QStringList storeFileNames()
{
    return {QFileInfo(ConfigManager::filePath(false)).fileName(), QFileInfo(ProfileStore::filePath(false)).fileName(),
            QFileInfo(ConnectionHistory::defaultPath()).fileName()};
}

bool isSaveCopyOf(const QString &fileName, const QStringList &targets)
{
    for (const QString &target : targets) {
        if (fileName.size() != target.size() + 1 + suffixLength || !fileName.startsWith(target)
            || fileName.at(target.size()) != QLatin1Char('.'))
            continue;
        const QStringView suffix = QStringView(fileName).right(suffixLength);
        if (std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
                return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                       || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
            }))
            return true;
    }
    return false;
}

QStringList remove(const QString &directory, const QStringList &targets, const QDateTime &startedAt)
{
    QStringList patterns;
    for (const QString &target : targets)
        patterns << target + QStringLiteral(".*");
    const QDir dir(directory);
    QStringList removed;
    for (const QString &name : dir.entryList(patterns, QDir::Files | QDir::Hidden | QDir::System)) {
        if (!isSaveCopyOf(name, targets))
            continue;
        const QString path = dir.filePath(name);
        if (!isOwnRegularFile(path) || QFileInfo(path).lastModified() >= startedAt)
            continue;
        if (QFile::remove(path)) {
            removed << name;
            qInfo("Removed %s, left behind by a save that did not finish", qUtf8Printable(name));
        }
    }
    return removed;
}

} // namespace LeftoverSaveFiles
