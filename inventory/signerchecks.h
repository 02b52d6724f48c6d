#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The Authenticode signers of executables, as the scans ask for them: checked
// on the global thread pool across the cores, and kept for the life of the
// process per file version (path, size, modification time, file id), so a
// second scan of the same files checks nothing again. A change of the trusted
// roots drops what was kept.
namespace SignerChecks {

// The signer of one file (InventorySource::digitalSigner), from what is kept
// when the file has not changed since.
QString signerOf(const QString &filePath);

// The signers of many files, checked in parallel. `ready` runs on the calling
// thread once per path, in the paths' order, as soon as that signer is known;
// an empty path gives an empty signer. When `stop` turns true the checks not
// yet started are dropped and the call returns early.
void signersInOrder(const QStringList &filePaths, const std::function<void(qsizetype, const QString &)> &ready,
                    const std::function<bool()> &stop = {});

// How many files have really been checked since the process started: the
// rest were answered from what was kept.
quint64 checksRun();

} // namespace SignerChecks
