#include "secretstore.h"

#include <QProcess>

namespace {
QStringList attributes(const QString &key)
{
    return {QStringLiteral("server"), QStringLiteral("keychain.orvalin"), QStringLiteral("user"), key};
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

QString secretStoreLookup(const QString &key)
{
    return QString::fromUtf8(run(QStringList{QStringLiteral("lookup")} + attributes(key)));
}

bool secretStoreSet(const QString &key, const QString &value)
{
    // The same attributes QtKeychain writes, its schema included: its reads
    // find the entry, and its writes replace it instead of adding a second one.
    QStringList arguments{QStringLiteral("store"), QStringLiteral("--label"), key};
    arguments += attributes(key);
    arguments += {QStringLiteral("type"), QStringLiteral("plaintext"), QStringLiteral("xdg:schema"),
                  QStringLiteral("org.qt.keychain")};
    run(arguments, value.toUtf8());
    return secretStoreLookup(key) == value;
}

void secretStoreClearService()
{
    run({QStringLiteral("clear"), QStringLiteral("server"), QStringLiteral("keychain.orvalin")});
}
