#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with bytes, or leaves the old file untouched.
// The bytes go to a temporary file beside it that is renamed over the old one
// only once everything was written, so a full disk or a crash mid-write never
// leaves a truncated file. Returns false when the file could not be replaced.
bool writeFileSafely(const QString &path, const QByteArray &bytes);
