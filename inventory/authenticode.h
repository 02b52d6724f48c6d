#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Authenticode signatures of Windows PE files, checked without Windows: the
// signer that WinTrust would report for a file, or empty when the file is not
// a signed PE, the signature or image digest does not verify, or the chain
// does not lead to a trusted root (the system store, code-signing purpose,
// no revocation checks).
namespace Authenticode {

// Random-access, bounded reads over the bytes being checked. The verifier
// only ever asks for headers, the certificate table and digest-sized chunks,
// so a large file is never held in memory.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual qint64 size() const = 0;
    // Exactly `length` bytes at `offset`, or an empty array when they cannot
    // all be read.
    virtual QByteArray read(qint64 offset, qint64 length) const = 0;
};

// Bytes already in memory (fuzzers, tests).
class BufferSource final : public ByteSource
{
public:
    explicit BufferSource(QByteArrayView bytes)
        : m_bytes(bytes)
    {
    }
    qint64 size() const override { return m_bytes.size(); }
    QByteArray read(qint64 offset, qint64 length) const override;

private:
    QByteArrayView m_bytes;
};

// Which roots a chain may end in. The product always uses the system store;
// tests add their own CA as an extra anchor, and a fuzzer may switch the
// system store off.
struct TrustAnchors
{
    bool systemStore = true;
    QByteArray extraPem; // zero or more PEM certificates
};

// The signing certificate's simple display name: CN, else OU, else O, else
// the e-mail address. Empty on any failure.
QString signerName(const QString &filePath);

// The same with explicit trust anchors, over a file or over any byte source.
QString signerName(const QString &filePath, const TrustAnchors &anchors);
QString signerName(const ByteSource &source, const TrustAnchors &anchors);

// Changes whenever the system's trust store changes on disk, so that answers
// kept from before can be dropped. The store itself is read again at the
// next check.
quint64 systemTrustGeneration();

} // namespace Authenticode
