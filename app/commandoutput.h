#pragma once

#include "commandclient.h"
#include "instancecommand.h"

#include <QCoreApplication>
#include <QString>

// What a command start prints and the status it ends with, from the running
// client's reply (or from what kept it from getting one). Texts are in the
// interface's language, except the JSON.
class CommandOutput
{
    Q_DECLARE_TR_FUNCTIONS(CommandOutput)

public:
    struct Text
    {
        int exitStatus = 0;
        QString output; // standard output
        QString error;  // standard error
    };

    static Text forOutcome(const InstanceCommand::Command &command, bool json, const CommandClient::Outcome &outcome);
    static Text forReply(const InstanceCommand::Command &command, bool json, const InstanceCommand::Reply &reply);
    static Text notRunning();

    // The status as one JSON object on one line.
    static QString statusJson(const InstanceCommand::Status &status);
    // The status as "Title: value" lines.
    static QString statusLines(const InstanceCommand::Status &status);
    static QString stateText(const QString &state);
    // Why the command was refused.
    static QString refusalText(const InstanceCommand::Reply &reply);
};
