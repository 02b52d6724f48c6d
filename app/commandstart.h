#pragma once

#include "commandline.h"
#include "instancecommand.h"
#include "singleapplication.h"

#include <QStringList>

#include <optional>

class CommandHandler;

// A start of the program as its command line asks: help, version and usage
// errors before anything else; a command sent to the running client, printed
// and turned into the exit status; or, for --connect with no client running,
// the client started here with the command kept for it.
class CommandStart
{
public:
    explicit CommandStart(const QStringList &arguments);

    // Everything that needs no window, under an application object of its
    // own that is gone on return. The exit status, or nothing when this
    // process goes on to start the client.
    std::optional<int> runWithoutWindow(int &argc, char *argv[]);

    // With a command to carry, a start that meets a running client after all
    // (it came up meanwhile) sends the command instead of its plain hello.
    SingleApplication::SecondaryStart secondaryStart() const;

    // The command this process runs itself, in the client it has started,
    // once the window's link and profiles are ready; the outcome is printed.
    void runLocally(CommandHandler *handler) const;

private:
    std::optional<int> sendToRunningClient(const QString &serverName, const QString &blockName) const;
    void print(const QString &output, const QString &error) const;

    QStringList arguments;
    CommandLine line;
    bool startHere = false;
};
