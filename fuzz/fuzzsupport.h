#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every target shares: one QCoreApplication for the whole run, the
// settings and profile paths in a private temporary directory, and no message
// output (the targets feed invalid input on purpose, and warnings would only
// slow the run down).
void fuzzInitialise();

inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Runs what the input queued on the event loop, then the deferred deletes,
// until every credential job has ended (aborts after 5 s).
void fuzzDrainEvents();
