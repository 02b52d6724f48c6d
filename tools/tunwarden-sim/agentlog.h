#pragma once

#include <QFile>
#include <QString>

// The agent's log: timestamped lines in <log_path>/tunwarden.log once the
// client has configured a path, and on stderr. Callers never pass secrets.
class AgentLog
{
public:
    // Switches to a new directory (appending) and level; false when the file cannot be opened.
    bool open(const QString &directory, bool debug);
    void info(const QString &text);
    void debug(const QString &text);
    QString filePath() const;

private:
    void write(const char *level, const QString &text);

    QFile file;
    bool debugEnabled = false;
};
