#pragma once

#include <QString>

// Start at log-on for the current user. Each platform keeps its own record
// (the per-user Run key on Windows, an XDG autostart entry elsewhere); the
// Setting tab only asks whether it exists and switches it on and off.
namespace Autostart {

// Whether the program is registered to start at log-on.
bool isEnabled();

// Registers the executable at this native path. False when the record could
// not be written.
bool enable(const QString &nativeExecutablePath);

// Removes the record; a missing one is not an error.
void disable();

} // namespace Autostart
