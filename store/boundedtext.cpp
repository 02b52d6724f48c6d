#include "boundedtext.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace BoundedText {

namespace {

// The last character boundary at or before `position`. Only the text up to
// just past it is looked at (the bounds are small), so a huge text costs no
// more than a short one.
qsizetype boundaryAtOrBefore(const QString &text, qsizetype position)
{
    // Two units past the position: whether a character ends there depends on
    // the code point that follows.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.left(position + 2));
    finder.setPosition(position);
    if (finder.isAtBoundary())
        return position;
    return std::max<qsizetype>(0, finder.toPreviousBoundary());
}

} // namespace

QString cut(const QString &text, qsizetype maxLength)
{
    if (text.size() <= maxLength)
        return text;
    if (maxLength <= 0)
        return QString();
    return text.left(boundaryAtOrBefore(text, maxLength - 1)) + ellipsis;
}

QString cutUtf8(const QString &text, qsizetype maxBytes)
{
    // Every UTF-16 unit takes at least one UTF-8 byte, so a longer text needs
    // cutting, and a prefix of maxBytes units holds everything that can stay.
    const QString head = text.left(maxBytes + 1);
    if (head.size() == text.size() && text.toUtf8().size() <= maxBytes)
        return text;
    if (maxBytes < 3)
        return QString();
    const qsizetype budget = maxBytes - 3;
    qsizetype bytes = 0;
    qsizetype units = 0;
    while (units < head.size()) {
        const char32_t code = head.at(units).isHighSurrogate() && units + 1 < head.size()
                                  ? QChar::surrogateToUcs4(head.at(units), head.at(units + 1))
                                  : head.at(units).unicode();
        const qsizetype size = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        if (bytes + size > budget)
            break;
        bytes += size;
        units += code >= 0x10000 ? 2 : 1;
    }
    return text.left(boundaryAtOrBefore(text, units)) + ellipsis;
}

} // namespace BoundedText
