#pragma once

#include <QtGlobal>

// Whether a process with this id exists. A process that exists but belongs to
// someone else, or is too busy to answer anything, still counts as existing.
bool processExists(qint64 pid);
