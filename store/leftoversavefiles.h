#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Every file this program writes goes through QSaveFile: the new content is
// written beside the target first and then renamed over it. Qt names that copy
// after its target, a dot and six letters ("history.jsonl.AbcXyz"). A process
// killed between the two steps leaves the copy behind for good, and a copy of
// profile.json from before its passwords moved to the credential store may
// still hold them. Start-up removes such left-overs.
namespace LeftoverSaveFiles {

// The settings, profile and history files: the ones whose copies are removed.
QStringList storeFileNames();

// Whether `fileName` is a save copy of one of `targets` (plain file names).
bool isSaveCopyOf(const QString &fileName, const QStringList &targets);

// Removes the save copies of `targets` found in `directory` itself (not below
// it) that are regular files owned by this user and were last written before
// `startedAt`, the start of this process: only this instance writes these
// files, so an older copy belongs to none that is still running. Returns the
// names removed.
QStringList remove(const QString &directory, const QStringList &targets, const QDateTime &startedAt);

} // namespace LeftoverSaveFiles
