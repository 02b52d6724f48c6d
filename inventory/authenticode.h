#pragma once

#include <QString>

// Authenticode signatures of Windows PE files, checked without Windows: the
// signer that WinTrust would report for a file, or empty when the file is not
// a signed PE, the signature or image digest does not verify, or the chain
// does not lead to a trusted root (the system store, code-signing purpose,
// no revocation checks).
namespace Authenticode {

// The signing certificate's simple display name: CN, else OU, else O, else
// the e-mail address. Empty on any failure.
QString signerName(const QString &filePath);

} // namespace Authenticode
