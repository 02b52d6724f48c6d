#include "privatebus.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <csignal>

namespace {
// No <servicedir>: nothing is started on demand, so a bus without a keyring
// really has no Secret Service.
const char config[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateSessionBus::PrivateSessionBus()
{
    if (!dir.isValid())
        return;
    const QString configPath = dir.filePath(QStringLiteral("bus.conf"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QString::fromLatin1(config).arg(dir.path()).toUtf8());
    file.close();
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + configPath,
                                                 QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!daemon.waitForStarted(5000))
        return;
    QByteArray printed;
    const QDeadlineTimer deadline(10000);
    while (!printed.contains('\n') && !deadline.hasExpired() && daemon.waitForReadyRead(200))
        printed += daemon.readAllStandardOutput();
    busAddress = QString::fromUtf8(printed.trimmed());
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (frozen)
        ::kill(pid_t(keyring.processId()), SIGCONT);
    stopProcess(keyring);
    stopProcess(daemon);
}

QProcessEnvironment PrivateSessionBus::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    return environment;
}

bool PrivateSessionBus::startKeyring()
{
    // A home of its own, so the keyring's files are not the test session's.
    // A home and a runtime directory of its own, so that it neither uses the
    // test session's keyring files nor finds that keyring's control socket.
    ++keyrings;
    const QString home = dir.filePath(QStringLiteral("keyring-home-%1").arg(keyrings));
    const QString runtime = dir.filePath(QStringLiteral("keyring-run-%1").arg(keyrings));
    QDir().mkpath(home + QStringLiteral("/data"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = this->environment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.remove(QStringLiteral("GNOME_KEYRING_CONTROL"));
    environment.remove(QStringLiteral("DISPLAY"));
    keyring.setProcessEnvironment(environment);
    // Its complaints about prompts it cannot show would only clutter the output.
    keyring.setStandardOutputFile(dir.filePath(QStringLiteral("keyring-%1.log").arg(keyrings)));
    keyring.setStandardErrorFile(dir.filePath(QStringLiteral("keyring-%1.log").arg(keyrings)), QIODevice::Append);
    keyring.start(QStringLiteral("gnome-keyring-daemon"),
                  {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!keyring.waitForStarted(5000))
        return false;
    // --unlock reads the password up to the end of its input.
    keyring.write("private-bus");
    keyring.waitForBytesWritten(5000);
    keyring.closeWriteChannel();
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (runTool({QStringLiteral("store"), QStringLiteral("--label"), QStringLiteral("probe"),
                     QStringLiteral("probe"), QStringLiteral("probe")})
            != QByteArrayLiteral("<failed>"))
            return true;
        QThread::msleep(100);
    }
    return false;
}

bool PrivateSessionBus::restartKeyring()
{
    stopProcess(keyring);
    return startKeyring();
}

bool PrivateSessionBus::lockKeyring()
{
    QProcess send;
    send.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--bus=") + busAddress, QStringLiteral("--print-reply"),
                QStringLiteral("--dest=org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
                QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")});
    return send.waitForFinished(10000) && send.exitCode() == 0;
}

bool PrivateSessionBus::freezeKeyring()
{
    if (keyring.state() != QProcess::Running || ::kill(pid_t(keyring.processId()), SIGSTOP) != 0)
        return false;
    frozen = true;
    return true;
}

bool PrivateSessionBus::thawKeyring()
{
    if (!frozen || ::kill(pid_t(keyring.processId()), SIGCONT) != 0)
        return false;
    frozen = false;
    return true;
}

bool PrivateSessionBus::store(const QString &service, const QString &key, const QString &value) const
{
    return runTool({QStringLiteral("store"), QStringLiteral("--label"), key, QStringLiteral("server"), service,
                    QStringLiteral("user"), key, QStringLiteral("type"), QStringLiteral("plaintext"),
                    QStringLiteral("xdg:schema"), QStringLiteral("org.qt.keychain")},
                   value.toUtf8())
           != QByteArrayLiteral("<failed>");
}

QString PrivateSessionBus::lookup(const QString &service, const QString &key) const
{
    const QByteArray value
        = runTool({QStringLiteral("lookup"), QStringLiteral("server"), service, QStringLiteral("user"), key});
    return value == QByteArrayLiteral("<failed>") ? QString() : QString::fromUtf8(value);
}

QByteArray PrivateSessionBus::runTool(const QStringList &arguments, const QByteArray &input) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(QStringLiteral("secret-tool"), arguments);
    if (!tool.waitForStarted(5000))
        return QByteArrayLiteral("<failed>");
    if (arguments.first() == QLatin1String("store"))
        tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished(1000);
        return QByteArrayLiteral("<failed>");
    }
    return tool.exitCode() == 0 ? tool.readAllStandardOutput() : QByteArrayLiteral("<failed>");
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}
