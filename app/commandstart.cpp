#include "commandstart.h"

#include "appglobals.h"
#include "commandclient.h"
#include "commandhandler.h"
#include "commandoutput.h"
#include "configmanager.h"
#include "consoleio.h"
#include "instanceipc.h"
#include "translation.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QTranslator>

namespace {

// The settings that decide the interface's language, read without creating
// or changing anything: a command start leaves the user's files alone.
bool readSettings(QJsonObject &config)
{
    config = ConfigManager::defaults();
    QFile file(ConfigManager::filePath(false));
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The settings are a few hundred bytes; anything far larger is not read.
    const QJsonObject stored = QJsonDocument::fromJson(file.read(1024 * 1024)).object();
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it) {
        if (config.contains(it.key()))
            config.insert(it.key(), it.value());
    }
    return true;
}

QString programName(const QStringList &arguments)
{
    return arguments.isEmpty() ? QStringLiteral("KestrumSSLVPN") : QFileInfo(arguments.constFirst()).fileName();
}

} // namespace

CommandStart::CommandStart(const QStringList &args)
    : arguments(args)
    , line(CommandLine::parse(args))
{
}

std::optional<int> CommandStart::runWithoutWindow(int &argc, char *argv[])
{
    if (line.mode() == CommandLine::Mode::StartClient)
        return std::nullopt;

    QCoreApplication core(argc, argv);
    QTranslator translator;
    QJsonObject config;
    const bool loaded = readSettings(config);
    installCatalogue(translator, loaded, config, QLocale());
    ConsoleIo::attach();
    // Parsed again now that the texts can be translated.
    line = CommandLine::parse(arguments);
    const QString program = programName(arguments);

    switch (line.mode()) {
    case CommandLine::Mode::StartClient:
        return std::nullopt;
    case CommandLine::Mode::Help:
        print(CommandLine::helpText(program), QString());
        return CommandLine::ExitDone;
    case CommandLine::Mode::Version:
        print(CommandLine::versionText(), QString());
        return CommandLine::ExitDone;
    case CommandLine::Mode::UsageError:
        print(QString(), line.error() + QLatin1Char('\n') + CommandLine::usageHint(program));
        return CommandLine::ExitUsage;
    case CommandLine::Mode::Command:
        break;
    }

    if (line.oneTimePasswordFromInput()) {
        const std::optional<QString> otp = ConsoleIo::readSecretLine(CommandLine::tr("One-time password: "),
                                                                     InstanceCommand::maxOneTimePasswordLength);
        if (!otp || otp->isEmpty()) {
            print(QString(), CommandLine::tr("No one-time password was read from standard input.") + QLatin1Char('\n'));
            return CommandLine::ExitUsage;
        }
        line.command().oneTimePassword = *otp;
    }

    // The guard's own name for the running client; a command needs its
    // server only, not the shared block.
    const QString blockName = SingleApplication::ownBlockName(SingleApplication::ScopeUser);
    if (const std::optional<int> status = sendToRunningClient(instanceServerName(blockName), blockName))
        return status;
    if (line.command().action == InstanceCommand::Action::Connect) {
        startHere = true;
        return std::nullopt;
    }
    const CommandOutput::Text text = CommandOutput::notRunning();
    print(text.output, text.error);
    return text.exitStatus;
}

std::optional<int> CommandStart::sendToRunningClient(const QString &serverName, const QString &blockName) const
{
    if (serverName.isEmpty())
        return std::nullopt;
    const CommandClient::Outcome outcome = CommandClient(serverName, blockName).send(line.command());
    if (outcome.result == CommandClient::Result::NotRunning)
        return std::nullopt;
    const CommandOutput::Text text = CommandOutput::forOutcome(line.command(), line.json(), outcome);
    print(text.output, text.error);
    return text.exitStatus;
}

SingleApplication::SecondaryStart CommandStart::secondaryStart() const
{
    if (!startHere)
        return {};
    return [this](const QString &serverName, const QString &blockName) {
        return sendToRunningClient(serverName, blockName);
    };
}

void CommandStart::runLocally(CommandHandler *handler) const
{
    if (!startHere || !handler)
        return;
    const InstanceCommand::Command command = line.command();
    const bool json = line.json();
    handler->run(command, handler, [command, json](const InstanceCommand::Reply &reply) {
        if (reply.outcome == InstanceCommand::Outcome::Accepted)
            return;
        const CommandOutput::Text text = CommandOutput::forReply(command, json, reply);
        ConsoleIo::writeOutput(text.output);
        ConsoleIo::writeError(text.error);
    });
}

void CommandStart::print(const QString &output, const QString &error) const
{
    if (!output.isEmpty())
        ConsoleIo::writeOutput(output);
    if (!error.isEmpty())
        ConsoleIo::writeError(error);
}
