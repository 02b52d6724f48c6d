#include "storedfile.h"

#include <QCborMap>
#include <QCborValue>
#include <QJsonDocument>
#include <QSaveFile>

QJsonObject decodeStoredObject(const QByteArray &bytes, bool cbor)
{
    if (cbor) {
        // A map cut short leaves the decoder with a half-filled container
        // whose conversion reads past its end: a decoding error means empty.
        QCborParserError error;
        const QCborValue value = QCborValue::fromCbor(bytes, &error);
        if (error.error != QCborError::NoError)
            return QJsonObject();
        return value.toMap().toJsonObject();
    }
    return QJsonDocument::fromJson(bytes).object();
}

QByteArray encodeStoredObject(const QJsonObject &object, bool cbor)
{
    return cbor ? QCborValue::fromJsonValue(object).toCbor() : QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool writeFileSafely(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    // Unbuffered: a buffered short write would only surface at commit, and a
    // partially flushed buffer can still be committed as a truncated file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
