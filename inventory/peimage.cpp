#include "peimage.h"

#include "authenticode.h"
#include "opensslptr.h"

#include <QtEndian>

#include <algorithm>

namespace Authenticode {

namespace {

constexpr qint64 DosHeaderSize = 64;
constexpr qint64 PeOffsetField = 0x3c;
constexpr qint64 CoffHeaderSize = 20;
constexpr quint16 Pe32Magic = 0x10b;
constexpr quint16 Pe32PlusMagic = 0x20b;
constexpr qint64 ChecksumField = 64;      // same place in PE32 and PE32+
constexpr qint64 SizeOfHeadersField = 60; // likewise
constexpr qint64 SectionHeaderSize = 40;
constexpr int CertificateDirectory = 4;
constexpr qint64 DirectoryEntrySize = 8;
constexpr qint64 WinCertificateHeaderSize = 8;
constexpr quint16 WinCertTypePkcsSignedData = 0x0002;
constexpr qint64 EntryAlignment = 8;
// Real signatures, nested ones included, stay far below this; a larger
// table is not worth reading into memory.
constexpr qint64 MaxCertTableSize = 16 * 1024 * 1024;
constexpr qint64 DigestChunk = 64 * 1024;

quint16 u16At(const QByteArray &bytes, qint64 offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

quint32 u32At(const QByteArray &bytes, qint64 offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

// Offset of the optional header's data directories and how many there are,
// and what is needed to find where the loader's bytes end.
struct OptionalHeader
{
    qint64 offset = 0;
    qint64 directoriesOffset = 0;
    quint32 directoryCount = 0;
    qint64 sizeOfHeaders = 0;
    qint64 sectionTableOffset = 0;
    int sectionCount = 0;
};

std::optional<OptionalHeader> readOptionalHeader(const ByteSource &source, qint64 peOffset)
{
    const QByteArray coff = source.read(peOffset, 4 + CoffHeaderSize);
    if (coff.size() != 4 + CoffHeaderSize || !coff.startsWith(QByteArrayView("PE\0\0", 4)))
        return std::nullopt;
    const qint64 optionalSize = u16At(coff, 4 + 16);
    OptionalHeader header;
    header.offset = peOffset + 4 + CoffHeaderSize;
    header.sectionCount = u16At(coff, 4 + 2);
    header.sectionTableOffset = header.offset + optionalSize;
    const QByteArray optional = source.read(header.offset, optionalSize);
    if (optional.size() != optionalSize || optionalSize < 2)
        return std::nullopt;

    qint64 countField = 0;
    switch (u16At(optional, 0)) {
    case Pe32Magic:
        countField = 92;
        break;
    case Pe32PlusMagic:
        countField = 108;
        break;
    default:
        return std::nullopt;
    }
    const qint64 directories = countField + 4;
    const qint64 certEntryEnd = directories + (CertificateDirectory + 1) * DirectoryEntrySize;
    if (certEntryEnd > optionalSize)
        return std::nullopt;
    header.sizeOfHeaders = u32At(optional, SizeOfHeadersField);
    header.directoriesOffset = header.offset + directories;
    header.directoryCount = u32At(optional, countField);
    return header;
}

// The end of what the loader reads: the headers and every section's raw
// data. Empty when the section table cannot be read.
std::optional<qint64> endOfImageData(const ByteSource &source, const OptionalHeader &header)
{
    const QByteArray sections = source.read(header.sectionTableOffset, header.sectionCount * SectionHeaderSize);
    if (sections.size() != header.sectionCount * SectionHeaderSize)
        return std::nullopt;
    qint64 end = header.sizeOfHeaders;
    for (int i = 0; i < header.sectionCount; ++i) {
        const qint64 rawSize = u32At(sections, i * SectionHeaderSize + 16);
        const qint64 rawOffset = u32At(sections, i * SectionHeaderSize + 20);
        if (rawSize > 0)
            end = qMax(end, rawOffset + rawSize);
    }
    return end;
}

} // namespace

std::optional<PeLayout> readPeLayout(const ByteSource &source)
{
    const qint64 fileSize = source.size();
    if (fileSize < DosHeaderSize)
        return std::nullopt;
    const QByteArray dos = source.read(0, DosHeaderSize);
    if (dos.size() != DosHeaderSize || !dos.startsWith("MZ"))
        return std::nullopt;

    const std::optional<OptionalHeader> optional = readOptionalHeader(source, u32At(dos, PeOffsetField));
    if (!optional || optional->directoryCount <= CertificateDirectory)
        return std::nullopt;

    PeLayout layout;
    layout.checksumOffset = optional->offset + ChecksumField;
    layout.certDirectoryOffset = optional->directoriesOffset + CertificateDirectory * DirectoryEntrySize;
    const QByteArray entry = source.read(layout.certDirectoryOffset, DirectoryEntrySize);
    if (entry.size() != DirectoryEntrySize)
        return std::nullopt;
    layout.certTableOffset = u32At(entry, 0);
    layout.certTableSize = u32At(entry, 4);

    // The table must lie wholly inside the file and after the headers whose
    // fields the digest skips, so the skipped ranges never overlap.
    if (layout.certTableSize < WinCertificateHeaderSize || layout.certTableSize > MaxCertTableSize)
        return std::nullopt;
    if (layout.certTableOffset < layout.certDirectoryOffset + DirectoryEntrySize)
        return std::nullopt;
    if (layout.certTableOffset + layout.certTableSize > fileSize)
        return std::nullopt;
    // The digest skips the table, and the directory entry that says where it
    // is: a table placed among the headers or a section's raw data would let
    // the loader run bytes no signature covers, with the covered ones moved
    // behind it.
    const std::optional<qint64> imageEnd = endOfImageData(source, *optional);
    if (!imageEnd || layout.certTableOffset < *imageEnd)
        return std::nullopt;
    return layout;
}

QByteArray readSignatureBlob(const ByteSource &source, const PeLayout &layout)
{
    const QByteArray table = source.read(layout.certTableOffset, layout.certTableSize);
    if (table.size() != layout.certTableSize)
        return {};
    // Each entry starts 8-byte aligned, and together they fill the table:
    // the digest skips the whole table, so any byte that no entry accounts
    // for (apart from zero padding to the alignment) could carry anything.
    QByteArray blob;
    for (qint64 at = 0; at < table.size();) {
        if (table.size() - at < WinCertificateHeaderSize)
            return {};
        const qint64 length = u32At(table, at);
        if (length <= WinCertificateHeaderSize || length > table.size() - at)
            return {};
        if (at == 0) {
            if (u16At(table, at + 6) != WinCertTypePkcsSignedData)
                return {};
            blob = table.mid(at + WinCertificateHeaderSize, length - WinCertificateHeaderSize);
        }
        const qint64 end = at + length;
        at = qMin<qint64>((end + EntryAlignment - 1) / EntryAlignment * EntryAlignment, table.size());
        if (!isZero(QByteArrayView(table).sliced(end, at - end)))
            return {};
    }
    return blob;
}

bool isZero(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char byte) { return byte == 0; });
}

QByteArray imageDigest(const ByteSource &source, const PeLayout &layout, const EVP_MD *md)
{
    struct Range
    {
        qint64 begin;
        qint64 end;
    };
    const Range ranges[] = {
        {0, layout.checksumOffset},
        {layout.checksumOffset + 4, layout.certDirectoryOffset},
        {layout.certDirectoryOffset + DirectoryEntrySize, layout.certTableOffset},
        {layout.certTableOffset + layout.certTableSize, source.size()},
    };

    OpenSsl::MdContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1)
        return {};
    for (const Range &range : ranges) {
        for (qint64 at = range.begin; at < range.end; at += DigestChunk) {
            const QByteArray chunk = source.read(at, qMin(DigestChunk, range.end - at));
            if (chunk.isEmpty() || EVP_DigestUpdate(context.get(), chunk.constData(), size_t(chunk.size())) != 1)
                return {};
        }
    }
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char *>(digest.data()), &length) != 1)
        return {};
    digest.truncate(int(length));
    return digest;
}

} // namespace Authenticode
