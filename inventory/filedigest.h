#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <functional>

// File digests through OpenSSL's EVP interface, which uses the CPU's hash
// instructions where QCryptographicHash does not.
namespace FileDigest {

struct Pair
{
    bool ok = false;   // false when the file could not be opened or a read failed
    QByteArray md5;    // lowercase hex, empty unless ok
    QByteArray sha256; // lowercase hex, empty unless ok
};

enum class Threads { Auto, Single };

// MD5 and SHA-256 of one file from a single read. With more than one core the
// same blocks of a file above 1 MiB feed an MD5 thread and a SHA-256 thread at once. halfRead is
// called once, as soon as half of the file has been read (at the end for an
// empty file); it is not called when the file cannot be opened.
Pair md5AndSha256(const QString &filePath, const std::function<void()> &halfRead = {}, Threads threads = Threads::Auto);

// One digest as lowercase hex; empty when the file cannot be opened or a read fails.
QByteArray hexDigest(const QString &filePath, QCryptographicHash::Algorithm algorithm);

} // namespace FileDigest
