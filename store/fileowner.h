#pragma once

#include <QString>

// Whether `path` is a regular file (not a link, a directory or a device) that
// belongs to the user running this process. False when it cannot be told.
bool isOwnRegularFile(const QString &path);
