#include "commandline.h"

#include "appglobals.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

using InstanceCommand::Action;

// Options Qt's GUI application takes for itself (a session manager restarts
// the client with -session, for instance): accepted and left to Qt.
const QStringList qtValueOptions{
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("session"),
    QStringLiteral("display"),         QStringLiteral("geometry"),
    QStringLiteral("style"),           QStringLiteral("stylesheet"),
    QStringLiteral("qmljsdebugger"),
};
const QStringList qtFlagOptions{QStringLiteral("reverse"), QStringLiteral("widgetcount")};

// Columns a character takes on a terminal: two for the wide East Asian ones.
int columns(QChar ch)
{
    const char16_t u = ch.unicode();
    return (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3)
                   || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60)
                   || (u >= 0xFFE0 && u <= 0xFFE6)
               ? 2
               : 1;
}

// Lines of at most `width` columns after `indent` spaces, broken at spaces
// or next to wide characters (Chinese has no spaces).
QString wrapped(const QString &text, int indent, int width)
{
    const QString margin(indent, QLatin1Char(' '));
    QString out;
    QString line;
    int used = 0;
    int breakAt = -1; // in `line`: where the next line may start
    for (const QChar ch : text) {
        const int wide = columns(ch);
        if (wide == 2 && !line.isEmpty())
            breakAt = int(line.size());
        if (used + wide > width && breakAt > 0) {
            out += margin + line.left(breakAt).trimmed() + QLatin1Char('\n');
            line = line.mid(breakAt);
            used = 0;
            for (const QChar rest : std::as_const(line))
                used += columns(rest);
            breakAt = -1;
        }
        line += ch;
        used += wide;
        if (ch == QLatin1Char(' ') || wide == 2)
            breakAt = int(line.size());
    }
    if (!line.trimmed().isEmpty())
        out += margin + line.trimmed() + QLatin1Char('\n');
    return out;
}

QCommandLineOption hidden(QCommandLineOption option)
{
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    // "-platform offscreen" is Qt's spelling; ours are "--status" and so on.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption connectOption(QStringLiteral("connect"), QString(), QStringLiteral("profile"));
    const QCommandLineOption otpStdin(QStringLiteral("otp-stdin"));
    const QCommandLineOption wait(QStringLiteral("wait"));
    const QCommandLineOption disconnectOption(QStringLiteral("disconnect"));
    const QCommandLineOption status(QStringLiteral("status"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption profiles(QStringLiteral("profiles"));
    const QCommandLineOption show(QStringLiteral("show"));
    const QCommandLineOption quit(QStringLiteral("quit"));
    parser.addOptions(
        {help, version, connectOption, otpStdin, wait, disconnectOption, status, json, profiles, show, quit});
    for (const QString &name : qtValueOptions)
        parser.addOption(hidden(QCommandLineOption(name, QString(), QStringLiteral("value"))));
    for (const QString &name : qtFlagOptions)
        parser.addOption(hidden(QCommandLineOption(name)));

    CommandLine line;
    const auto usage = [&line](const QString &text) {
        line.currentMode = Mode::UsageError;
        line.problem = text;
        return line;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        line.currentMode = Mode::Help;
        return line;
    }
    if (parser.isSet(version)) {
        line.currentMode = Mode::Version;
        return line;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(tr("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));

    const std::pair<const QCommandLineOption *, Action> commands[] = {
        {&connectOption, Action::Connect},
        {&disconnectOption, Action::Disconnect},
        {&status, Action::Status},
        {&profiles, Action::Profiles},
        {&show, Action::Show},
        {&quit, Action::Quit},
    };
    int given = 0;
    for (const auto &[option, action] : commands) {
        if (parser.isSet(*option)) {
            ++given;
            line.parsedCommand.action = action;
        }
    }
    if (given > 1)
        return usage(tr("Give one command at a time."));
    const InstanceCommand::Action action = line.parsedCommand.action;
    const bool connecting = given == 1 && action == Action::Connect;
    if (parser.isSet(wait) && !(connecting || (given == 1 && action == Action::Disconnect)))
        return usage(tr("--wait goes with --connect or --disconnect."));
    if (parser.isSet(otpStdin) && !connecting)
        return usage(tr("--otp-stdin goes with --connect."));
    if (parser.isSet(json) && !(given == 1 && action == Action::Status))
        return usage(tr("--json goes with --status."));
    if (given == 0)
        return line;

    if (connecting) {
        const QStringList names = parser.values(connectOption);
        if (names.size() > 1)
            return usage(tr("Give one profile to --connect."));
        line.parsedCommand.profile = names.constFirst();
        if (line.parsedCommand.profile.isEmpty())
            return usage(tr("--connect needs the name of a profile."));
        if (line.parsedCommand.profile.size() > InstanceCommand::maxProfileLength)
            return usage(tr("The profile name is too long."));
    }
    line.parsedCommand.wait = parser.isSet(wait);
    line.otpFromInput = parser.isSet(otpStdin);
    line.jsonOutput = parser.isSet(json);
    line.currentMode = Mode::Command;
    return line;
}

CommandLine::Mode CommandLine::mode() const
{
    return currentMode;
}

const InstanceCommand::Command &CommandLine::command() const
{
    return parsedCommand;
}

InstanceCommand::Command &CommandLine::command()
{
    return parsedCommand;
}

bool CommandLine::json() const
{
    return jsonOutput;
}

bool CommandLine::oneTimePasswordFromInput() const
{
    return otpFromInput;
}

QString CommandLine::error() const
{
    return problem;
}

QString CommandLine::helpText(const QString &program)
{
    const auto row = [](const QString &option, const QString &text) -> QString {
        return QStringLiteral("  ") + option + QLatin1Char('\n') + wrapped(text, 6, 72);
    };
    QString text = tr("Usage: %1 [command]").arg(program) + QStringLiteral("\n\n");
    text += tr("Without a command the client opens, or the running one comes to the front.") + QStringLiteral("\n");
    text += tr("A command goes to the client that runs for this user.") + QStringLiteral("\n\n");
    text += tr("Commands:") + QLatin1Char('\n');
    text += row(QStringLiteral("--connect PROFILE [--otp-stdin] [--wait]"),
                tr("Connect with the profile. When the client is not running, it starts and connects."));
    text += row(QStringLiteral("--disconnect [--wait]"), tr("End the session."));
    text += row(QStringLiteral("--status [--json]"), tr("Show the session: state, profile, gateway, VPN address, "
                                                        "since when, bytes sent and received."));
    text += row(QStringLiteral("--profiles"), tr("List the profiles, one name a line."));
    text += row(QStringLiteral("--show"), tr("Bring the window to the front."));
    text += row(QStringLiteral("--quit"), tr("Quit the client (a session that is up is disconnected first)."));
    text += row(QStringLiteral("-h, --help"), tr("Show this help."));
    text += row(QStringLiteral("-v, --version"), tr("Show the version."));
    text += QLatin1Char('\n') + tr("Options:") + QLatin1Char('\n');
    text += row(QStringLiteral("--otp-stdin"), tr("Read the one-time password from standard input, or ask for it "
                                                  "without echo on a terminal. It never goes on the command line."));
    text += row(QStringLiteral("--wait"), tr("Wait for the outcome, at most 60 seconds: the VPN address once "
                                             "connected, or the agent's message when it refuses."));
    text += row(QStringLiteral("--json"), tr("Print the status as one JSON object."));
    text += QLatin1Char('\n') + tr("Exit status:") + QLatin1Char('\n');
    text += QStringLiteral("  0  ") + tr("done") + QLatin1Char('\n');
    text += QStringLiteral("  1  ") + tr("refused or failed") + QLatin1Char('\n');
    text += QStringLiteral("  2  ") + tr("usage error") + QLatin1Char('\n');
    text += QStringLiteral("  3  ") + tr("the client is not running") + QLatin1Char('\n');
    text += QStringLiteral("  4  ") + tr("timed out") + QLatin1Char('\n');
    return text;
}

QString CommandLine::versionText()
{
    return QStringLiteral("Kestrum SSLVPN Client ") + appVersion + QLatin1Char('\n');
}

QString CommandLine::usageHint(const QString &program)
{
    return tr("Try '%1 --help' for more information.").arg(program) + QLatin1Char('\n');
}
