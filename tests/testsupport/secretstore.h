#pragma once

#include <QString>

// Direct access to the credential store's entries for the service
// "keychain.orvalin" through the desktop's own `secret-tool`, independent of
// QtKeychain (which files text secrets with server=service, user=key).
// Each call waits for the tool to finish.
QString secretStoreLookup(const QString &key);
bool secretStoreSet(const QString &key, const QString &value);
// Removes every entry of the service, so a test starts from an empty store.
void secretStoreClearService();
