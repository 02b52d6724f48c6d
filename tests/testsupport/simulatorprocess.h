#pragma once

#include <QStringList>

class QProcess;

// Starts the agent simulator as a child on a port of its own choosing and
// waits for it to say where it listens. `launcher` (for example setpriv with
// another uid) is put in front of the simulator. Returns the port, or 0 when
// the simulator did not start listening within 5 s.
quint16 startSimulator(QProcess &simulator, const QStringList &arguments = {}, const QStringList &launcher = {});
