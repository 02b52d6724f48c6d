#pragma once

#include <QByteArray>
#include <QFileInfoList>
#include <QString>
#include <QStringList>

// The pure rules of the inventory scans, shared by every platform.
namespace ScanRules {

// "20240131" becomes "2024-01-31"; any other value stays as it is.
QString normaliseInstallDate(const QString &value);

// The ports in "LISTENING" lines of `netstat -ano` output, each once, in
// order of first appearance.
QStringList parseNetstatListeningPorts(const QByteArray &output);

// The ports in LISTEN state of a /proc/net/tcp or /proc/net/tcp6 table, each
// once, in order of first appearance.
QStringList parseProcNetTcpListeningPorts(const QByteArray &table);

// Appends the ports of more that ports does not hold yet.
void mergePorts(QStringList &ports, const QStringList &more);

// The main executable among files (in name order) for a product: the first
// whose base name contains, or is contained in, the display name lower-cased
// without spaces; else the first larger than 1 MiB; else the first. Empty
// when files is empty.
QString chooseMainExecutable(const QFileInfoList &files, const QString &displayName);

// The process names left out of a process scan, compared whole and ignoring case.
const QStringList &excludedProcesses();

// The record name of a process: the executable name without a trailing ".exe"
// in any capitalisation.
QString processRecordName(const QString &exeName);

} // namespace ScanRules
