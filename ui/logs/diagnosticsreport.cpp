#include "diagnosticsreport.h"

#include "abouttab.h"
#include "agentlink.h"
#include "appglobals.h"
#include "boundedtext.h"
#include "configmanager.h"
#include "policy.h"
#include "profilemanager.h"
#include "redaction.h"
#include "regularfile.h"
#include "sessioncontroller.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QScreen>
#include <QSysInfo>
#include <QTextStream>

namespace DiagnosticsReport {

namespace {

void heading(QTextStream &out, const QString &title)
{
    out << "\n== " << title << " ==\n";
}

} // namespace

Input gather(SessionController *session)
{
    Input input;
    input.settings = configManager ? configManager->config : QJsonObject();
    if (ProfileManager *profiles = session->profiles())
        input.profiles = profiles->profiles;
    input.linkUp = session->isLinkUp();
    if (const AgentLink *link = session->agentLink()) {
        switch (link->state()) {
        case AgentLink::State::Closed:
            input.linkState = QStringLiteral("not opened");
            break;
        case AgentLink::State::Connecting:
            input.linkState = QStringLiteral("connecting");
            break;
        case AgentLink::State::Up:
            input.linkState = QStringLiteral("up");
            break;
        case AgentLink::State::Waiting:
            input.linkState = QStringLiteral("waiting");
            break;
        }
        input.msUntilNextTry = link->msUntilNextAttempt();
        input.linkRefused = link->isRefused();
        input.linkRetries = link->retryCount();
        input.linkRestored = link->restoredCount();
    }
    input.sessionUp = session->isSessionConnected();
    input.lastStatus = session->lastStatusReply();
    input.history = session->history().events();
    input.logPath = AboutTab::logFilePath();
    input.secrets = session->heldSecrets();
    const Policy &policy = Policy::current();
    input.policyPresent = policy.isPresent();
    input.policySource = policy.source();
    input.policyKeys = policy.keysInForce();
    input.policyProblems = policy.problems();
    return input;
}

QString lastLines(const QString &path, int count)
{
    QFile file(path);
    // The log's folder is shared: a FIFO there must not freeze the export.
    if (!openRegularFile(file))
        return QString();
    // Read backwards in blocks until enough line ends are in hand, so a large
    // log is not read whole; a log of few, huge lines stops at logBytes.
    constexpr qint64 block = 64 * 1024;
    const qint64 size = file.size();
    qint64 start = size;
    QByteArray tail;
    while (start > 0 && tail.count('\n') <= count && tail.size() < logBytes) {
        const qint64 from = std::max<qint64>(0, start - block);
        if (!file.seek(from))
            break;
        tail.prepend(file.read(start - from));
        start = from;
    }
    QList<QByteArray> lines = tail.split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    // The first piece may be the end of a line cut by the block boundary;
    // when it is all there is, it shows as the end of a longer line.
    if (start > 0 && lines.size() > 1)
        lines.removeFirst();
    else if (start > 0 && !lines.isEmpty())
        lines.first().prepend(QString(BoundedText::ellipsis).toUtf8());
    if (lines.size() > count)
        lines = lines.mid(lines.size() - count);
    QStringList text;
    for (const QByteArray &line : std::as_const(lines))
        text << BoundedText::cutUtf8(QString::fromUtf8(line), BoundedText::storedBytes);
    return text.join(QLatin1Char('\n'));
}

QString compose(const Input &input)
{
    QString text;
    QTextStream out(&text);
    out << "Kestrum SSLVPN Client diagnostics, " << QDateTime::currentDateTime().toString(Qt::ISODate) << '\n';

    heading(out, QStringLiteral("Version and system"));
    out << "Product version: " << appVersion << '\n';
    out << "Qt version: " << qVersion() << '\n';
    out << "Operating system: " << QSysInfo::prettyProductName() << " (" << QSysInfo::kernelType() << ' '
        << QSysInfo::kernelVersion() << ", " << QSysInfo::currentCpuArchitecture() << ")\n";
    out << "Locale: " << QLocale::system().name() << " (interface " << QLocale().name() << ")\n";
    const QScreen *screen = QGuiApplication::primaryScreen();
    out << "Screen scale factor: " << (screen ? QString::number(screen->devicePixelRatio()) : QStringLiteral("none"))
        << '\n';

    heading(out, QStringLiteral("Settings"));
    out << QString::fromUtf8(QJsonDocument(input.settings).toJson(QJsonDocument::Indented));

    heading(out, QStringLiteral("Administrator policy"));
    if (!input.policyPresent) {
        out << "(none)\n";
    } else {
        out << "Source: " << input.policySource << '\n';
        out << "Keys in force: "
            << (input.policyKeys.isEmpty() ? QStringLiteral("(none)") : input.policyKeys.join(QStringLiteral("; ")))
            << '\n';
        for (const QString &problem : input.policyProblems)
            out << "Ignored: " << problem << '\n';
    }

    heading(out, QStringLiteral("Profiles"));
    if (input.profiles.isEmpty())
        out << "(none)\n";
    for (auto it = input.profiles.constBegin(); it != input.profiles.constEnd(); ++it) {
        const QJsonObject profile = it.value().toObject();
        out << "Profile: " << it.key() << '\n'
            << "  host: " << profile.value(QLatin1String("host")).toString() << '\n'
            << "  username: " << profile.value(QLatin1String("username")).toString() << '\n'
            << "  group: " << profile.value(QLatin1String("group")).toString() << '\n';
    }

    heading(out, QStringLiteral("Agent link"));
    out << "Link: " << (input.linkUp ? "connected" : "not connected") << '\n';
    if (!input.linkState.isEmpty()) {
        out << "Link state: " << input.linkState;
        if (input.msUntilNextTry >= 0)
            out << ", next try in " << QString::number(input.msUntilNextTry / 1000.0, 'f', 1) << " s";
        if (input.linkRefused)
            out << ", listener refused by the identity check";
        out << '\n';
        out << "Link retries since it was last up: " << input.linkRetries << '\n';
        out << "Link restored since start: " << input.linkRestored << " times\n";
    }
    out << "Session: " << (input.sessionUp ? "up" : "down") << '\n';
    out << "Last status reply:";
    if (input.lastStatus.isEmpty()) {
        out << " (none)\n";
    } else {
        out << '\n';
        for (auto it = input.lastStatus.constBegin(); it != input.lastStatus.constEnd(); ++it) {
            const QJsonValue value = it.value();
            QString shown;
            if (value.isArray())
                shown = QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
            else if (value.isObject())
                shown = QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
            else
                shown = value.toVariant().toString();
            // Secrets go before the cut, or a cut one would no longer be found.
            shown = BoundedText::cutUtf8(redactSecrets(shown, input.secrets), BoundedText::storedBytes);
            out << "  " << it.key() << ": " << shown << '\n';
        }
    }

    heading(out, QStringLiteral("Connection history"));
    if (input.history.isEmpty())
        out << "(empty)\n";
    for (const QJsonObject &event : input.history)
        out << QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)) << '\n';

    heading(out, QStringLiteral("Agent log (last %1 lines)").arg(logLines));
    out << "File: " << QDir::toNativeSeparators(input.logPath) << '\n';
    const QString log = lastLines(input.logPath, logLines);
    out << (log.isEmpty() ? QStringLiteral("(empty or unreadable)") : log) << '\n';
    out.flush();

    return redactSecrets(text, input.secrets);
}

QString defaultFilePath()
{
    return QDir::home().filePath(QStringLiteral("kestrum-diagnostics-")
                                 + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))
                                 + QStringLiteral(".txt"));
}

} // namespace DiagnosticsReport
