#pragma once

#include <QString>
#include <QStringList>

// Removes what must not leave the machine from a text handed to someone else:
// every value that follows a key naming a password, secret, one-time password,
// token or authorization, in JSON form ("password": "…") and in key=value or
// "key: value" form, and every occurrence of the given literal secrets, also
// of their beginnings where a bounded text was cut ("…"). Each removal leaves
// "[redacted]".
QString redactSecrets(const QString &text, const QStringList &literals = QStringList());

extern const QString redactedMark;
