#pragma once

#include <QByteArray>
#include <QString>

// Windows PE images made at test time, for the Authenticode tests and the
// signer benchmark.
namespace PeFixture {

// File offsets in the images below: the optional header, its CheckSum field
// and the first byte of the code section.
constexpr int PeOffset = 0x40;
constexpr int OptionalHeaderOffset = PeOffset + 4 + 20;
constexpr int ChecksumOffset = OptionalHeaderOffset + 64;
constexpr int CodeOffset = 0x200;

// A minimal valid executable (PE32+ or PE32): headers, and one .text section
// holding a "ret" followed by filler derived from `seed`, codeSize bytes
// (a multiple of 0x200).
QByteArray minimalImage(bool plus, int codeSize = 0x200, quint32 seed = 0);

// Offsets in any PE image: the certificate-table directory entry, the table
// it points to, and the first section's raw data.
int certEntryOffset(const QByteArray &image);
int certTableOffset(const QByteArray &image);
int firstSectionOffset(const QByteArray &image);

bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

} // namespace PeFixture
