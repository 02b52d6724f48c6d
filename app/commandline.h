#pragma once

#include "instancecommand.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The program's command line. A start without options (Qt's own, such as
// -platform or -session, aside) opens the client as ever; the options command
// the running client, or start it with a command.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    enum class Mode {
        StartClient,
        Help,
        Version,
        Command,
        UsageError,
    };

    // Exit statuses of a command start.
    enum ExitStatus {
        ExitDone = 0,
        ExitFailed = 1,
        ExitUsage = 2,
        ExitNotRunning = 3,
        ExitTimedOut = 4,
    };

    // `arguments` includes the program as its first entry.
    static CommandLine parse(const QStringList &arguments);

    Mode mode() const;
    const InstanceCommand::Command &command() const;
    InstanceCommand::Command &command();
    bool json() const;
    bool oneTimePasswordFromInput() const;
    // What was wrong, for a usage error.
    QString error() const;

    // The --help text, in the interface's language.
    static QString helpText(const QString &program);
    static QString versionText();
    // The line after a usage error that points to --help.
    static QString usageHint(const QString &program);

private:
    Mode currentMode = Mode::StartClient;
    InstanceCommand::Command parsedCommand;
    bool jsonOutput = false;
    bool otpFromInput = false;
    QString problem;
};
