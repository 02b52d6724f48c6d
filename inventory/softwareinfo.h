#pragma once

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

// One piece of software found on the machine: an installed product, an
// executable in a chosen directory, or a running process. A plain value that
// is copied between the scanner, the window's list and the report request.
struct SoftwareInfo
{
    QString name;
    QString version;
    QString publisher;
    QString installPath;
    QString executablePath;
    QString uninstallString;
    QString installDate;
    qint64 fileSize = 0;
    QString fileHashMd5;
    QString fileHashSha256;
    QString digitalSigner;
    QString processName;
    QString portList;
    QString networkInfo;

    // The record as one element of a report's "software_list": every key is
    // present even when empty; the uninstall command stays on the machine.
    QJsonObject toReportJson() const;

    bool operator==(const SoftwareInfo &other) const;
    bool operator!=(const SoftwareInfo &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(SoftwareInfo)
