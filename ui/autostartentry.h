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

QString contents(const QString &executablePath);

} // namespace AutostartEntry
