#pragma once

#include <QString>

// Text from outside (the agent, a file) can be of any length. What is shown or
// stored of it is cut to a bound, at a character boundary: never between the
// two halves of a surrogate pair, nor inside a character made of several code
// points (an accented letter, a flag, an emoji sequence). A cut text ends with
// the ellipsis "…".
namespace BoundedText {

inline const QChar ellipsis(0x2026);

// What the window shows of one agent text, in characters (UTF-16 units).
constexpr qsizetype shownLength = 300;
// What a tooltip offers of it whole; longer texts are cut there too.
constexpr qsizetype toolTipLength = 1000;
// What the history and the diagnostics report keep of it, in UTF-8 bytes.
constexpr qsizetype storedBytes = 1024;

// `text` when it has at most `maxLength` UTF-16 units; otherwise its beginning
// and "…", together at most `maxLength` units.
QString cut(const QString &text, qsizetype maxLength);
// The same bound counted in UTF-8 bytes, "…" (three bytes) included.
QString cutUtf8(const QString &text, qsizetype maxBytes);

} // namespace BoundedText
