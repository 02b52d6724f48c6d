#pragma once

#include "authenticode.h"

#include <memory>

#include <openssl/x509.h>

namespace Authenticode {

// The certificate stores that signature chains are checked against. Reading
// the system's roots costs far more than checking one signature, so each set
// of anchors gets one store, built at its first use and shared by every check
// on every thread (OpenSSL locks a store's lookups; the time of a check
// belongs on its own X509_STORE_CTX). A store that uses the system's roots is
// built again once their files change on disk.
namespace TrustStore {

// The store for these anchors, or null when it cannot be built.
std::shared_ptr<X509_STORE> shared(const TrustAnchors &anchors);

// Counts the changes of the system's roots on disk; looks at them now.
quint64 systemGeneration();

} // namespace TrustStore
} // namespace Authenticode
