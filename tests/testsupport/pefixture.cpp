#include "pefixture.h"

#include <QFile>
#include <QtEndian>

namespace PeFixture {

namespace {

void put16(QByteArray &image, int offset, quint16 value)
{
    qToLittleEndian(value, image.data() + offset);
}
void put32(QByteArray &image, int offset, quint32 value)
{
    qToLittleEndian(value, image.data() + offset);
}
void put64(QByteArray &image, int offset, quint64 value)
{
    qToLittleEndian(value, image.data() + offset);
}

} // namespace

QByteArray minimalImage(bool plus, int codeSize, quint32 seed)
{
    QByteArray image(CodeOffset + codeSize, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3c, PeOffset);
    image.replace(PeOffset, 4, QByteArray("PE\0\0", 4));

    const int coff = PeOffset + 4;
    const int optionalSize = plus ? 0xf0 : 0xe0;
    put16(image, coff + 0, plus ? 0x8664 : 0x14c);
    put16(image, coff + 2, 1); // sections
    put16(image, coff + 16, optionalSize);
    put16(image, coff + 18, plus ? 0x0022 : 0x0102);

    const int opt = OptionalHeaderOffset;
    const quint32 imageSize = (0x1000 + quint32(codeSize) + 0xfff) & ~0xfffu;
    put16(image, opt + 0, plus ? 0x20b : 0x10b);
    image[opt + 2] = 14;                      // linker version
    put32(image, opt + 4, quint32(codeSize)); // size of code
    put32(image, opt + 16, 0x1000);           // entry point
    put32(image, opt + 20, 0x1000);           // base of code
    if (plus) {
        put64(image, opt + 24, 0x140000000ull);
    } else {
        put32(image, opt + 24, imageSize); // base of data
        put32(image, opt + 28, 0x400000);
    }
    put32(image, opt + 32, 0x1000);     // section alignment
    put32(image, opt + 36, 0x200);      // file alignment
    put16(image, opt + 40, 6);          // OS version
    put16(image, opt + 48, 6);          // subsystem version
    put32(image, opt + 56, imageSize);  // size of image
    put32(image, opt + 60, CodeOffset); // size of headers
    put16(image, opt + 68, 3);          // console subsystem
    put16(image, opt + 70, 0x8160);
    const int stack = 72;
    if (plus) {
        put64(image, opt + stack, 0x100000);
        put64(image, opt + stack + 8, 0x1000);
        put64(image, opt + stack + 16, 0x100000);
        put64(image, opt + stack + 24, 0x1000);
        put32(image, opt + 108, 16);
    } else {
        put32(image, opt + stack, 0x100000);
        put32(image, opt + stack + 4, 0x1000);
        put32(image, opt + stack + 8, 0x100000);
        put32(image, opt + stack + 12, 0x1000);
        put32(image, opt + 92, 16);
    }

    const int section = opt + optionalSize;
    image.replace(section, 5, ".text");
    put32(image, section + 8, quint32(codeSize));  // virtual size
    put32(image, section + 12, 0x1000);            // virtual address
    put32(image, section + 16, quint32(codeSize)); // raw size
    put32(image, section + 20, CodeOffset);
    put32(image, section + 36, 0x60000020); // code, execute, read

    image[CodeOffset] = char(0xc3);
    quint32 state = seed * 2654435761u + 1;
    for (int i = CodeOffset + 1; i < image.size(); ++i) {
        if (seed == 0) {
            image[i] = char(i * 7);
        } else {
            state = state * 1664525u + 1013904223u; // any filler, different per seed
            image[i] = char(state >> 24);
        }
    }
    return image;
}

namespace {

int optionalHeaderOffset(const QByteArray &image)
{
    return int(qFromLittleEndian<quint32>(image.constData() + 0x3c)) + 4 + 20;
}

} // namespace

int certEntryOffset(const QByteArray &image)
{
    const int optional = optionalHeaderOffset(image);
    const bool plus = qFromLittleEndian<quint16>(image.constData() + optional) == 0x20b;
    return optional + (plus ? 112 : 96) + 4 * 8;
}

int firstSectionOffset(const QByteArray &image)
{
    const int optional = optionalHeaderOffset(image);
    const int sections = optional + qFromLittleEndian<quint16>(image.constData() + optional - 4);
    return int(qFromLittleEndian<quint32>(image.constData() + sections + 20));
}

int certTableOffset(const QByteArray &image)
{
    return int(qFromLittleEndian<quint32>(image.constData() + certEntryOffset(image)));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace PeFixture
