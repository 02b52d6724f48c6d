#include "instanceprotocol.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

#include <cstring>

namespace InstanceProtocol {

quint16 infoChecksum(const InstanceBlock &block)
{
    return qChecksum(QByteArrayView(reinterpret_cast<const char *>(&block), offsetof(InstanceBlock, checksum)),
                     Qt::ChecksumIso3309);
}

bool isConsistent(const InstanceBlock &block)
{
    return block.checksum == infoChecksum(block);
}

void resetBlock(InstanceBlock &block)
{
    block.hasPrimary = false;
    block.secondaryCount = 0;
    block.primaryProcessId = -1;
    block.primaryUserName[0] = '\0';
    block.checksum = infoChecksum(block);
}

QString computeBlockName(const BlockNameInputs &inputs)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView("SingleApplication", 17));
    hash.addData(inputs.applicationName.toUtf8());
    hash.addData(inputs.organizationName.toUtf8());
    hash.addData(inputs.organizationDomain.toUtf8());
    if (!inputs.extraKeyData.isEmpty())
        hash.addData(inputs.extraKeyData.join(QString()).toUtf8());
    if (!(inputs.options & KeyWithoutVersion))
        hash.addData(inputs.applicationVersion.toUtf8());
    if (!(inputs.options & KeyWithoutPath))
        hash.addData(inputs.applicationFilePath.toLower().toUtf8());
    if (inputs.options & ScopeUser)
        hash.addData(inputs.userName.toUtf8());
    QByteArray name = hash.result().toBase64();
    name.replace('/', '_');
    return QString::fromLatin1(name);
}

QByteArray encodeFrameHeader(qint64 length)
{
    QByteArray header(8, Qt::Uninitialized);
    qToBigEndian(length, header.data());
    return header;
}

qint64 decodeFrameHeader(const char *bytes)
{
    return qFromBigEndian<qint64>(bytes);
}

QByteArray encodeHello(const QByteArray &blockName, qint8 kind, qint32 instanceId)
{
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_5_6);
    stream << blockName << kind << instanceId;
    stream << qChecksum(body, Qt::ChecksumIso3309);
    return body;
}

std::optional<Hello> parseHello(const QByteArray &body)
{
    // Read by hand rather than through QDataStream: the announced name length
    // comes from the peer and must never drive an allocation.
    const qsizetype size = body.size();
    const char *data = body.constData();
    if (size < 4)
        return std::nullopt;
    const quint32 nameLength = qFromBigEndian<quint32>(data);
    // 0xffffffff is the stream's null array; a hello always names a block.
    if (nameLength == 0xffffffffu || qsizetype(nameLength) > size - 4)
        return std::nullopt;
    const qsizetype fieldsAt = 4 + qsizetype(nameLength);
    if (size != fieldsAt + 1 + 4 + 2)
        return std::nullopt;
    Hello hello;
    hello.blockName = body.mid(4, nameLength);
    hello.kind = qint8(data[fieldsAt]);
    hello.instanceId = qFromBigEndian<qint32>(data + fieldsAt + 1);
    const quint16 checksum = qFromBigEndian<quint16>(data + fieldsAt + 5);
    if (checksum != qChecksum(QByteArrayView(data, size - 2), Qt::ChecksumIso3309))
        return std::nullopt;
    return hello;
}

} // namespace InstanceProtocol
