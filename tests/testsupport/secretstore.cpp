#include "secretstore.h"

#include <QProcess>

namespace {
const QString passwordService = QStringLiteral("keychain.orvalin");

QStringList attributes(const QString &key, const QString &service)
{
    return {QStringLiteral("server"), service.isEmpty() ? passwordService : service, QStringLiteral("user"), key};
}

QByteArray run(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    if (!tool.waitForStarted(10000))
        return QByteArrayLiteral("<secret-tool not available>");
    if (!input.isNull())
        tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(10000))
        return QByteArrayLiteral("<secret-tool did not finish>");
    return tool.exitCode() == 0 ? tool.readAllStandardOutput() : QByteArray();
}
} // namespace

QString secretStoreLookup(const QString &key, const QString &service)
{
    return QString::fromUtf8(run(QStringList{QStringLiteral("lookup")} + attributes(key, service)));
}

bool secretStoreSet(const QString &key, const QString &value, const QString &service)
{
    // The same attributes QtKeychain writes, its schema included: its reads
    // find the entry, and its writes replace it instead of adding a second one.
    QStringList arguments{QStringLiteral("store"), QStringLiteral("--label"), key};
    arguments += attributes(key, service);
    arguments += {QStringLiteral("type"), QStringLiteral("plaintext"), QStringLiteral("xdg:schema"),
                  QStringLiteral("org.qt.keychain")};
    run(arguments, value.toUtf8());
    return secretStoreLookup(key, service) == value;
}

void secretStoreClearService()
{
    for (const QString &service : {passwordService, secretStoreSecretService()})
        run({QStringLiteral("clear"), QStringLiteral("server"), service});
}

QString secretStoreSecretService()
{
    // Written out rather than taken from the store's code, so a renamed
    // service shows up as entries no longer found.
    return QStringLiteral("keychain.orvalin.secret");
}
