#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

#include <openssl/evp.h>

namespace Authenticode {

class ByteSource;

// Where the parts of a PE file that Authenticode treats specially lie. All
// offsets are file offsets, checked against the file's size.
struct PeLayout
{
    qint64 checksumOffset = 0;      // 4-byte CheckSum of the optional header
    qint64 certDirectoryOffset = 0; // 8-byte certificate-table directory entry
    qint64 certTableOffset = 0;
    qint64 certTableSize = 0;
};

// The layout of a PE32 or PE32+ file that carries a certificate table;
// nothing for any other file, including unsigned PE files.
std::optional<PeLayout> readPeLayout(const ByteSource &source);

// The DER PKCS#7 blob of the first entry of the certificate table, when that
// entry is a PKCS#7 SignedData and the table's entries fill it exactly (each
// padded with zeros to 8 bytes); empty otherwise.
QByteArray readSignatureBlob(const ByteSource &source, const PeLayout &layout);

// True when every byte is zero (also for no bytes).
bool isZero(QByteArrayView bytes);

// The Authenticode image digest: the whole file except the checksum, the
// certificate-table directory entry and the table itself, read in chunks.
// Empty when a read fails.
QByteArray imageDigest(const ByteSource &source, const PeLayout &layout, const EVP_MD *md);

} // namespace Authenticode
