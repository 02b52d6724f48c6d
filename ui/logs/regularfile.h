#pragma once

class QFile;

// Opens the file at file.fileName() read-only, only when it is a regular file,
// and without ever waiting: a FIFO, a device or a socket at the path (which
// another local user can leave in a shared directory) is refused at once,
// where a plain open of a FIFO would block until someone writes to it.
bool openRegularFile(QFile &file);
