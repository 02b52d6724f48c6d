#pragma once

#include <QString>

#include <functional>

// The stores live below the widget layer, yet a failed file must reach the user
// as the modal "Error" box. The application installs a sink that shows it; the
// default only logs a warning.
using ErrorSink = std::function<void(const QString &text)>;

void setErrorSink(ErrorSink sink);
void reportError(const QString &text);
