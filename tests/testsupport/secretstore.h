#pragma once

#include <QString>

// Direct access to the credential store's entries through the desktop's own
// `secret-tool`, independent of QtKeychain (which files text secrets with
// server=service, user=key). The service is the passwords' "keychain.orvalin"
// unless given. Each call waits for the tool to finish.
QString secretStoreLookup(const QString &key, const QString &service = QString());
bool secretStoreSet(const QString &key, const QString &value, const QString &service = QString());
// Removes every entry of the passwords' and the secrets' services, so a test
// starts from an empty store.
void secretStoreClearService();
// The service of the profiles' secrets.
QString secretStoreSecretService();
