#include "agentlog.h"

#include <QDateTime>
#include <QDir>

#include <cstdio>

bool AgentLog::open(const QString &directory, bool debug)
{
    debugEnabled = debug;
    const QString path = QDir(directory).filePath(QStringLiteral("tunwarden.log"));
    if (file.isOpen() && file.fileName() == path)
        return true;
    file.close();
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void AgentLog::info(const QString &text)
{
    write("INFO", text);
}

void AgentLog::debug(const QString &text)
{
    if (debugEnabled)
        write("DEBUG", text);
}

QString AgentLog::filePath() const
{
    return file.isOpen() ? file.fileName() : QString();
}

void AgentLog::write(const char *level, const QString &text)
{
    const QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8()
                            + " [" + level + "] " + text.toUtf8() + '\n';
    std::fputs(line.constData(), stderr);
    if (file.isOpen()) {
        file.write(line);
        file.flush();
    }
}
