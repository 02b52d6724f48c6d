#include "errorsink.h"

#include <QDebug>

namespace {
ErrorSink &currentSink()
{
    static ErrorSink sink;
    return sink;
}
} // namespace

void setErrorSink(ErrorSink sink)
{
    currentSink() = std::move(sink);
}

void reportError(const QString &text)
{
    if (currentSink())
        currentSink()(text);
    else
        qWarning().noquote() << text;
}
