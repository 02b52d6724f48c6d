#include "commandline.h"
#include "commandoutput.h"
#include "instancecommand.h"

#include <QJsonDocument>
#include <QLocale>
#include <QTranslator>
#include <QtTest>

using InstanceCommand::Action;
using InstanceCommand::Command;
using InstanceCommand::Outcome;
using InstanceCommand::Reply;
using InstanceCommand::Status;
using Mode = CommandLine::Mode;

namespace {
// The widest line of `text` on a terminal, wide East Asian characters as two columns.
int widestLine(const QString &text)
{
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        int width = 0;
        for (const QChar ch : line)
            width += ch.unicode() >= 0x2E80 ? 2 : 1;
        widest = qMax(widest, width);
    }
    return widest;
}
} // namespace

Q_DECLARE_METATYPE(CommandLine::Mode)
Q_DECLARE_METATYPE(InstanceCommand::Action)

// The command line as the program parses it, the command and reply frames as
// the two processes exchange them, and what a command start prints.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void commandRoundTrip_data();
    void commandRoundTrip();
    void decodeRefuses_data();
    void decodeRefuses();
    void replyRefused_data();
    void replyRefused();
    void output_data();
    void output();
    void clientResults_data();
    void clientResults();
    void statusInChinese();
    void helpListsExitStatuses();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("wait");
    QTest::addColumn<bool>("json");
    QTest::addColumn<bool>("otpStdin");

    const auto row
        = [](const char *name, const QStringList &arguments, Mode mode, Action action = Action::Status,
             const QString &profile = QString(), bool wait = false, bool json = false, bool otpStdin = false) {
              QTest::newRow(name) << (QStringList{QStringLiteral("KestrumSSLVPN")} + arguments) << mode << action
                                  << profile << wait << json << otpStdin;
          };
    row("no options", {}, Mode::StartClient);
    // A session manager restarts the client with Qt's own options.
    row("Qt's -session", {"-session", "1f2e3d"}, Mode::StartClient);
    row("Qt's -platform and -style=", {"-platform", "offscreen", "-style=fusion"}, Mode::StartClient);
    row("status", {"--status"}, Mode::Command, Action::Status);
    row("status as JSON", {"--status", "--json"}, Mode::Command, Action::Status, {}, false, true);
    row("connect and wait, OTP from stdin", {"--connect", "office", "--otp-stdin", "--wait"}, Mode::Command,
        Action::Connect, "office", true, false, true);
    row("connect=", {"--connect=上海 office"}, Mode::Command, Action::Connect, QStringLiteral("上海 office"));
    row("disconnect and wait", {"--disconnect", "--wait"}, Mode::Command, Action::Disconnect, {}, true);
    row("profiles", {"--profiles"}, Mode::Command, Action::Profiles);
    row("show", {"--show"}, Mode::Command, Action::Show);
    row("quit", {"--quit"}, Mode::Command, Action::Quit);
    row("help wins", {"--status", "--help"}, Mode::Help);
    row("-h", {"-h"}, Mode::Help);
    row("version", {"--version"}, Mode::Version);
    row("unknown option", {"--bogus"}, Mode::UsageError);
    row("unknown option beside a command", {"--status", "--bogus"}, Mode::UsageError);
    row("two commands", {"--status", "--quit"}, Mode::UsageError);
    row("the same command twice", {"--connect", "a", "--connect", "b"}, Mode::UsageError);
    row("connect without a profile", {"--connect"}, Mode::UsageError);
    row("connect with an empty profile", {"--connect", ""}, Mode::UsageError);
    row("connect with an over-long profile", {"--connect", QString(1025, QLatin1Char('p'))}, Mode::UsageError);
    row("wait alone", {"--wait"}, Mode::UsageError);
    row("wait with status", {"--status", "--wait"}, Mode::UsageError);
    row("json with profiles", {"--profiles", "--json"}, Mode::UsageError);
    row("otp-stdin without connect", {"--disconnect", "--otp-stdin"}, Mode::UsageError);
    // The one-time password never goes on the command line.
    row("otp as an option", {"--connect", "office", "--otp", "123456"}, Mode::UsageError);
    row("stray argument", {"--status", "office"}, Mode::UsageError);
    row("stray argument alone", {"office"}, Mode::UsageError);
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(Mode, mode);

    const CommandLine line = CommandLine::parse(arguments);
    QCOMPARE(line.mode(), mode);
    QCOMPARE(line.error().isEmpty(), mode != Mode::UsageError);
    if (mode != Mode::Command)
        return;
    QFETCH(Action, action);
    QFETCH(QString, profile);
    QFETCH(bool, wait);
    QFETCH(bool, json);
    QFETCH(bool, otpStdin);
    QCOMPARE(line.command().action, action);
    QCOMPARE(line.command().profile, profile);
    QCOMPARE(line.command().wait, wait);
    QCOMPARE(line.json(), json);
    QCOMPARE(line.oneTimePasswordFromInput(), otpStdin);
}

void TestCommandLine::commandRoundTrip_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("otp");
    QTest::addColumn<bool>("wait");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("connect") << int(Action::Connect) << QStringLiteral("office") << QString() << false
                             << QByteArray(R"({"command":"connect","profile":"office"})");
    QTest::newRow("connect, OTP, wait") << int(Action::Connect) << QStringLiteral("上海") << QStringLiteral("123456")
                                        << true
                                        << QByteArray(
                                               R"({"command":"connect","otp":"123456","profile":"上海","wait":true})");
    QTest::newRow("disconnect, wait") << int(Action::Disconnect) << QString() << QString() << true
                                      << QByteArray(R"({"command":"disconnect","wait":true})");
    QTest::newRow("status") << int(Action::Status) << QString() << QString() << false
                            << QByteArray(R"({"command":"status"})");
    QTest::newRow("quit") << int(Action::Quit) << QString() << QString() << false
                          << QByteArray(R"({"command":"quit"})");
}

void TestCommandLine::commandRoundTrip()
{
    QFETCH(int, action);
    QFETCH(QString, profile);
    QFETCH(QString, otp);
    QFETCH(bool, wait);
    QFETCH(QByteArray, wire);

    Command command;
    command.action = Action(action);
    command.profile = profile;
    command.oneTimePassword = otp;
    command.wait = wait;
    QCOMPARE(InstanceCommand::encode(command), wire);
    const std::optional<Command> decoded = InstanceCommand::decode(wire);
    QVERIFY(decoded);
    QCOMPARE(int(decoded->action), action);
    QCOMPARE(decoded->profile, profile);
    QCOMPARE(decoded->oneTimePassword, otp);
    QCOMPARE(decoded->wait, wait);
}

void TestCommandLine::decodeRefuses_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not JSON") << QByteArray("connect office");
    QTest::newRow("an array") << QByteArray(R"(["status"])");
    QTest::newRow("unknown command") << QByteArray(R"({"command":"format"})");
    QTest::newRow("command not a string") << QByteArray(R"({"command":1})");
    QTest::newRow("connect without a profile") << QByteArray(R"({"command":"connect"})");
    QTest::newRow("connect, empty profile") << QByteArray(R"({"command":"connect","profile":""})");
    QTest::newRow("connect, profile a number") << QByteArray(R"({"command":"connect","profile":7})");
    QTest::newRow("connect, OTP a number") << QByteArray(R"({"command":"connect","profile":"a","otp":123456})");
    QTest::newRow("connect, over-long OTP")
        << QByteArray(R"({"command":"connect","profile":"a","otp":")") + QByteArray(257, '1') + "\"}";
    QTest::newRow("connect, over-long profile")
        << QByteArray(R"({"command":"connect","profile":")") + QByteArray(1025, 'p') + "\"}";
    QTest::newRow("wait not a bool") << QByteArray(R"({"command":"disconnect","wait":"yes"})");
    QTest::newRow("wait with status") << QByteArray(R"({"command":"status","wait":true})");
    QTest::newRow("OTP with disconnect") << QByteArray(R"({"command":"disconnect","otp":"1"})");
    QTest::newRow("unknown member") << QByteArray(R"({"command":"status","verbose":true})");
    QTest::newRow("nested deeply") << QByteArray(2000, '[') + QByteArray(2000, ']');
}

void TestCommandLine::decodeRefuses()
{
    QFETCH(QByteArray, body);
    QVERIFY(!InstanceCommand::decode(body));
}

void TestCommandLine::replyRefused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("not JSON") << QByteArray("done");
    QTest::newRow("no outcome") << QByteArray(R"({"reason":"busy"})");
    QTest::newRow("unknown outcome") << QByteArray(R"({"outcome":"maybe"})");
    QTest::newRow("unknown member") << QByteArray(R"({"outcome":"done","exit":0})");
    QTest::newRow("status not an object") << QByteArray(R"({"outcome":"done","status":"idle"})");
    QTest::newRow("unknown state") << QByteArray(R"({"outcome":"done","status":{"state":"asleep"}})");
    QTest::newRow("negative counter") << QByteArray(
        R"({"outcome":"done","status":{"state":"connected","bytes_sent":-1}})");
    QTest::newRow("fractional counter") << QByteArray(
        R"({"outcome":"done","status":{"state":"connected","bytes_sent":1.5}})");
    QTest::newRow("since not a time") << QByteArray(
        R"({"outcome":"done","status":{"state":"connected","since":"yesterday"}})");
    QTest::newRow("profile names not strings") << QByteArray(R"({"outcome":"done","profiles":["a",1]})");
    QTest::newRow("over-long message") << QByteArray(R"({"outcome":"refused","message":")") + QByteArray(4097, 'm')
                                              + "\"}";
}

void TestCommandLine::replyRefused()
{
    QFETCH(QByteArray, body);
    QVERIFY(!InstanceCommand::decodeReply(body));
}

void TestCommandLine::output_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("json");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");

    const QByteArray connectWait = R"({"command":"connect","profile":"office","wait":true})";
    const QByteArray status = R"({"command":"status"})";
    const QByteArray connected
        = R"({"outcome":"done","status":{"state":"connected","profile":"office","host":"vpn.example.com",)"
          R"("vpn_address":"10.8.0.2","since":"2024-05-01T10:00:00+08:00","bytes_sent":1536000,)"
          R"("bytes_received":999}})";

    QTest::newRow("connected, address printed")
        << connectWait << false << QByteArray(R"({"outcome":"done","vpn_address":"10.8.0.2","profile":"office"})") << 0
        << QStringLiteral("10.8.0.2\n") << QString();
    QTest::newRow("connect sent, nothing printed")
        << QByteArray(R"({"command":"connect","profile":"office"})") << false << QByteArray(R"({"outcome":"done"})")
        << 0 << QString() << QString();
    QTest::newRow("refused by the agent, its message")
        << connectWait << false
        << QByteArray(R"({"outcome":"refused","reason":"agent-refused","message":"用户名或密码错误"})") << 1
        << QString() << QStringLiteral("用户名或密码错误\n");
    QTest::newRow("no such profile") << connectWait << false
                                     << QByteArray(R"({"outcome":"refused","reason":"no-such-profile","profile":"x"})")
                                     << 1 << QString() << QStringLiteral("There is no profile named 'x'.\n");
    QTest::newRow("session up") << connectWait << false
                                << QByteArray(R"({"outcome":"refused","reason":"session-up","profile":"home"})") << 1
                                << QString() << QStringLiteral("A session is already up with the profile 'home'.\n");
    QTest::newRow("agent unreachable") << connectWait << false
                                       << QByteArray(R"({"outcome":"refused","reason":"agent-unreachable"})") << 1
                                       << QString() << QStringLiteral("The agent (tunwarden) cannot be reached.\n");
    QTest::newRow("usage") << status << false << QByteArray(R"({"outcome":"usage"})") << 2 << QString()
                           << QStringLiteral("The running client did not understand the command.\n");
    QTest::newRow("timed out") << connectWait << false << QByteArray(R"({"outcome":"timeout"})") << 4 << QString()
                               << QStringLiteral("No outcome within 60 seconds.\n");
    QTest::newRow("status, JSON")
        << status << true << connected << 0
        << QStringLiteral(R"({"bytes_received":999,"bytes_sent":1536000,"host":"vpn.example.com",)"
                          R"("profile":"office","since":"2024-05-01T10:00:00+08:00","state":"connected",)"
                          R"("vpn_address":"10.8.0.2"})"
                          "\n")
        << QString();
    QTest::newRow("status idle, JSON") << status << true
                                       << QByteArray(R"({"outcome":"done","status":{"state":"idle"}})") << 0
                                       << QStringLiteral("{\"state\":\"idle\"}\n") << QString();
    QTest::newRow("status, lines")
        << status << false << connected << 0
        << QStringLiteral("State: Connected\nProfile: office\nGateway: vpn.example.com\nVPN address: 10.8.0.2\n"
                          "Since: %1\nBytes sent: 1.54 MB\nBytes received: 999.00 B\n")
               .arg(QDateTime::fromString(QStringLiteral("2024-05-01T10:00:00+08:00"), Qt::ISODate)
                        .toLocalTime()
                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
        << QString();
    QTest::newRow("status without one") << status << false << QByteArray(R"({"outcome":"done"})") << 1 << QString()
                                        << QStringLiteral("The running client's answer was not understood.\n");
    QTest::newRow("profiles") << QByteArray(R"({"command":"profiles"})") << false
                              << QByteArray(R"({"outcome":"done","profiles":["home","office"]})") << 0
                              << QStringLiteral("home\noffice\n") << QString();
}

void TestCommandLine::output()
{
    QFETCH(QByteArray, command);
    QFETCH(bool, json);
    QFETCH(QByteArray, reply);
    QFETCH(int, exitStatus);
    QFETCH(QString, output);
    QFETCH(QString, error);

    const std::optional<Command> decodedCommand = InstanceCommand::decode(command);
    const std::optional<Reply> decodedReply = InstanceCommand::decodeReply(reply);
    QVERIFY(decodedCommand);
    QVERIFY(decodedReply);
    // What the primary sends is what the client reads.
    QCOMPARE(InstanceCommand::decodeReply(InstanceCommand::encodeReply(*decodedReply))->status.has_value(),
             decodedReply->status.has_value());
    const CommandOutput::Text text = CommandOutput::forReply(*decodedCommand, json, *decodedReply);
    QCOMPARE(text.exitStatus, exitStatus);
    QCOMPARE(text.output, output);
    QCOMPARE(text.error, error);
}

void TestCommandLine::clientResults_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("wait");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<QString>("error");
    using R = CommandClient::Result;
    QTest::newRow("not running") << int(R::NotRunning) << false << 3
                                 << QStringLiteral("Kestrum SSLVPN Client is not running.\n");
    QTest::newRow("older version") << int(R::NotTaken) << false << 1
                                   << QStringLiteral("The running client did not take the command; it may be an "
                                                     "older version. Quit it and start it again.\n");
    QTest::newRow("no answer") << int(R::NoAnswer) << false << 1
                               << QStringLiteral("The running client does not answer.\n");
    QTest::newRow("gone") << int(R::Gone) << true << 1
                          << QStringLiteral("The client ended before the outcome was known.\n");
    QTest::newRow("wait timed out") << int(R::TimedOut) << true << 4
                                    << QStringLiteral("No outcome within 60 seconds.\n");
    QTest::newRow("bad reply") << int(R::BadReply) << false << 1
                               << QStringLiteral("The running client's answer was not understood.\n");
}

void TestCommandLine::clientResults()
{
    QFETCH(int, result);
    QFETCH(bool, wait);
    QFETCH(int, exitStatus);
    QFETCH(QString, error);
    Command command;
    command.action = Action::Disconnect;
    command.wait = wait;
    const CommandOutput::Text text
        = CommandOutput::forOutcome(command, false, {CommandClient::Result(result), std::nullopt});
    QCOMPARE(text.exitStatus, exitStatus);
    QCOMPARE(text.output, QString());
    QCOMPARE(text.error, error);
}

// Readable lines follow the interface's language.
void TestCommandLine::statusInChinese()
{
    QTranslator translator;
    QVERIFY(translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("orvalin"), QStringLiteral("_"),
                            QStringLiteral(":/i18n"), QString()));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    Status status;
    status.state = QStringLiteral("connected");
    status.profile = QStringLiteral("office");
    status.bytesSent = 1000;
    const QString lines = CommandOutput::statusLines(status);
    const QString help = CommandLine::helpText(QStringLiteral("KestrumSSLVPN"));
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(lines, QStringLiteral("状态：已连接\n配置：office\n发送字节：1.00 KB\n"));
    QVERIFY2(help.contains(QStringLiteral("退出状态：")), qPrintable(help));
    // Chinese has no spaces to break at: the help still fits a terminal.
    QVERIFY2(widestLine(help) <= 78, qPrintable(help));
}

void TestCommandLine::helpListsExitStatuses()
{
    const QString help = CommandLine::helpText(QStringLiteral("KestrumSSLVPN"));
    QVERIFY2(widestLine(help) <= 78, qPrintable(help));
    for (const char *line : {"  0  done", "  1  refused or failed", "  2  usage error",
                             "  3  the client is not running", "  4  timed out"})
        QVERIFY2(help.contains(QLatin1String(line)), line);
    for (const char *option : {"--connect PROFILE [--otp-stdin] [--wait]", "--disconnect [--wait]", "--status [--json]",
                               "--profiles", "--show", "--quit", "--version"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
