#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The settings and profile files hold one JSON object, as indented JSON text or,
// in their ".dat" variant, as one CBOR map.

// Content that does not parse, or whose top level is not an object, gives an
// empty object.
QJsonObject decodeStoredObject(const QByteArray &bytes, bool cbor);
QByteArray encodeStoredObject(const QJsonObject &object, bool cbor);

// Replaces the file at path with bytes, or leaves the old file untouched.
// The bytes go to a temporary file beside it that is renamed over the old one
// only once everything was written, so a full disk or a crash mid-write never
// leaves a truncated file. Returns false when the file could not be replaced.
bool writeFileSafely(const QString &path, const QByteArray &bytes);
