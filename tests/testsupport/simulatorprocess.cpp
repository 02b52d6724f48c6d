#include "simulatorprocess.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

quint16 startSimulator(QProcess &simulator, const QStringList &arguments, const QStringList &launcher)
{
    QStringList command = launcher;
    command << QStringLiteral(ORVALIN_BIN_DIR "/tunwarden-sim") << QStringLiteral("--port") << QStringLiteral("0");
    command += arguments;
    simulator.setProgram(command.takeFirst());
    simulator.setArguments(command);
    simulator.start();
    if (!simulator.waitForStarted(5000))
        return 0;
    static const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$"));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && simulator.state() == QProcess::Running) {
        if (!simulator.canReadLine() && !simulator.waitForReadyRead(100))
            continue;
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(simulator.readLine()).trimmed());
        if (match.hasMatch())
            return match.captured(1).toUShort();
    }
    return 0;
}
