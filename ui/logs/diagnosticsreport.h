#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

class SessionController;

// The text a user sends to the helpdesk: versions and system, settings,
// profiles without their passwords, the agent link and the last status, the
// connection history and the tail of the agent's log, with every secret
// replaced by "[redacted]".
namespace DiagnosticsReport {

struct Input
{
    QJsonObject settings;
    // Name to profile object; only name, host, username and group are written.
    QJsonObject profiles;
    bool linkUp = false;
    // How the link to the agent stands: "up", "connecting", "waiting" or
    // "not opened"; the next try while waiting; tries since it was last up,
    // and how often it came back.
    QString linkState;
    qint64 msUntilNextTry = -1;
    bool linkRefused = false;
    int linkRetries = 0;
    int linkRestored = 0;
    bool sessionUp = false;
    QJsonObject lastStatus;
    QList<QJsonObject> history;
    QString logPath;
    // Literal secrets held in memory, removed wherever they appear.
    QStringList secrets;
    // The administrator's policy: where it was found, the keys that apply
    // (names only) and what was ignored.
    bool policyPresent = false;
    QString policySource;
    QStringList policyKeys;
    QStringList policyProblems;
};

constexpr int logLines = 500;
// At most this much of the log's end is read; each line is kept up to
// BoundedText::storedBytes.
constexpr qint64 logBytes = 1024 * 1024;

// Everything the window holds, gathered from the session control.
Input gather(SessionController *session);
QString compose(const Input &input);
// The last `count` lines of the file, each cut to the stored bound, from at
// most its last logBytes; empty when it cannot be read.
QString lastLines(const QString &path, int count);
// kestrum-diagnostics-<yyyyMMdd-HHmmss>.txt in the home folder.
QString defaultFilePath();

} // namespace DiagnosticsReport
