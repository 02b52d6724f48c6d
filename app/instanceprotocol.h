#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

// The shared memory record every instance of one program reads and writes
// under the block's lock. Native byte order; 152 bytes on every platform.
struct InstanceBlock
{
    bool hasPrimary;
    quint32 secondaryCount;
    qint64 primaryProcessId;
    char primaryUserName[128];
    quint16 checksum;
};
static_assert(sizeof(InstanceBlock) == 152, "the block is shared with other builds of the program");
static_assert(offsetof(InstanceBlock, secondaryCount) == 4);
static_assert(offsetof(InstanceBlock, primaryProcessId) == 8);
static_assert(offsetof(InstanceBlock, primaryUserName) == 16);
static_assert(offsetof(InstanceBlock, checksum) == 144);

namespace InstanceProtocol {

// Option bits of the guard; they also shape the block name.
enum Option {
    ScopeUser = 0x01,
    NotifySecondary = 0x04,
    KeyWithoutVersion = 0x08,
    KeyWithoutPath = 0x10,
};

enum ConnectionKind : qint8 {
    KindNewInstance = 1,
    KindSecondary = 2,
    // A process that sends one command and reads the replies. A primary that
    // predates commands takes its hello, raises nothing and never replies.
    KindCommand = 3,
};

// A hello announcing more than this is not one of ours; a message frame is
// bounded so a client cannot make the primary buffer without limit.
constexpr qint64 maxHelloLength = 1024;
constexpr qint64 maxMessageLength = 1024 * 1024;
// A command connection carries one small command, and gets replies of
// bounded size back (a frame each: header and body, no acknowledgement).
constexpr qint64 maxCommandLength = 16 * 1024;
constexpr qint64 maxReplyLength = 256 * 1024;
constexpr char acknowledgement = '\n';

// CRC-16 (ISO 3309) over every byte before the checksum field.
quint16 infoChecksum(const InstanceBlock &block);
bool isConsistent(const InstanceBlock &block);
// No primary, no secondaries, no user; checksum recomputed.
void resetBlock(InstanceBlock &block);

struct BlockNameInputs
{
    QString applicationName;
    QString organizationName;
    QString organizationDomain;
    QStringList extraKeyData;
    QString applicationVersion;
    QString applicationFilePath;
    QString userName;
    int options = 0;
};

// Base64 of a SHA-256 over the program's identity, "/" replaced by "_": it
// names both the shared memory block and the local server (44 characters).
QString computeBlockName(const BlockNameInputs &inputs);

// A frame header: the body's length as a big-endian int64.
QByteArray encodeFrameHeader(qint64 length);
qint64 decodeFrameHeader(const char *bytes);

struct Hello
{
    QByteArray blockName;
    qint8 kind = 0;
    qint32 instanceId = 0;
};

// The hello body as QDataStream (Qt_5_6) writes it: the name as a byte
// array, the kind, the sender's instance id and a CRC-16 of what precedes it.
QByteArray encodeHello(const QByteArray &blockName, qint8 kind, qint32 instanceId);
// Decodes a hello body. Empty when it is short, carries trailing bytes or its
// checksum does not match.
std::optional<Hello> parseHello(const QByteArray &body);

} // namespace InstanceProtocol
