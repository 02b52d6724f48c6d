#pragma once

#include <QString>

// The XDG autostart desktop entry that starts the client at log-on on
// desktops that follow the freedesktop.org conventions.
namespace AutostartEntry {

// $XDG_CONFIG_HOME/autostart/KestrumSSLVPN.desktop, with ~/.config when the
// variable is unset or not an absolute path.
QString filePath();

// The executable's path as the Exec key wants it: in double quotes, with the
// characters that are special inside quotes escaped.
QString quotedExec(const QString &executablePath);

// Whether the executable runs from an installation: its folder is the bin
// folder of a prefix whose data folder holds the program's menu entry. A
// build folder has no such entry.
bool isInstalled(const QString &executablePath);

// The entry starting the executable at this path. An installed program's
// entry also names the installed icon, as its menu entry does.
QString contents(const QString &executablePath, bool installed = false);

} // namespace AutostartEntry
