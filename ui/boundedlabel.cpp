#include "boundedlabel.h"

#include "boundedtext.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

QString normaliseLineEnds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    for (const QChar separator : {QChar(u'\r'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)})
        text.replace(separator, QLatin1Char('\n'));
    return text;
}

// The pieces of one paragraph that fit `width`, in order; together they are
// the paragraph. A line breaks where the text allows it (after a space, for
// instance); a word wider than a whole line fills the line and goes on in the
// next, so that nothing is ever wider than the label. With `wordsOnly`, only
// such words are broken and the lines are left to whoever shows them.
QStringList wrapParagraph(const QString &paragraph, const QFont &font, int width, bool wordsOnly = false)
{
    if (paragraph.isEmpty())
        return {paragraph};
    // One unwrapped line gives the position of every character in one pass.
    QTextLayout layout(paragraph, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e9);
    layout.endLayout();
    const auto x = [&](qsizetype position) { return line.cursorToX(int(position)); };
    // Spaces at the end of a line take no room.
    const auto span = [&](qsizetype from, qsizetype to) {
        while (to > from && paragraph.at(to - 1).isSpace())
            --to;
        return std::abs(x(to) - x(from));
    };

    QList<qsizetype> breaks;
    QTextBoundaryFinder lineBreaks(QTextBoundaryFinder::Line, paragraph);
    for (qsizetype at = lineBreaks.toNextBoundary(); at > 0; at = lineBreaks.toNextBoundary())
        breaks << at;
    QList<qsizetype> characters;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, paragraph);
    for (qsizetype at = graphemes.toNextBoundary(); at > 0; at = graphemes.toNextBoundary())
        characters << at;

    QStringList pieces;
    qsizetype lineStart = 0;
    qsizetype lastFit = 0;
    for (qsizetype i = 0; i < breaks.size();) {
        const qsizetype end = breaks.at(i);
        // What has to fit: the line so far, or the word alone.
        const qsizetype from = wordsOnly ? lastFit : lineStart;
        if (span(from, end) <= width) {
            lastFit = end;
            ++i;
            continue;
        }
        if (!wordsOnly && lastFit > lineStart && span(lastFit, end) <= width) {
            // The next word fits a line of its own.
            pieces << paragraph.mid(lineStart, lastFit - lineStart);
            lineStart = lastFit;
            continue;
        }
        // Fill the line up to its last whole character, at least one.
        qsizetype cut = from;
        for (const qsizetype at : std::as_const(characters)) {
            if (at <= from)
                continue;
            if (cut > from && (at >= end || span(from, at) > width))
                break;
            cut = at;
        }
        pieces << paragraph.mid(lineStart, cut - lineStart);
        lineStart = lastFit = cut;
    }
    if (lineStart < paragraph.size() || pieces.isEmpty())
        pieces << paragraph.mid(lineStart);
    return pieces;
}

qreal widestLine(const QString &text, const QFont &font)
{
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

} // namespace

BoundedLabel::BoundedLabel(QWidget *parent)
    : QLabel(parent)
{
    QLabel::setTextFormat(Qt::PlainText);
}

int BoundedLabel::maximumLines() const
{
    return lineLimit;
}

void BoundedLabel::setMaximumLines(int lines)
{
    lineLimit = std::max(1, lines);
    refit();
}

QString BoundedLabel::text() const
{
    adoptBaseText();
    return fullText;
}

QString BoundedLabel::shownText() const
{
    return QLabel::text();
}

bool BoundedLabel::isCut() const
{
    adoptBaseText();
    return cut;
}

void BoundedLabel::setText(const QString &text)
{
    // What QLabel was given meanwhile is replaced, not taken over later.
    adoptBaseText();
    // Only what a tooltip could show is kept: the rest of a huge text goes now.
    fullText = BoundedText::cut(text, BoundedText::toolTipLength);
    naturalWidth = std::ceil(widestLine(fit(fullText, font(), 0, lineLimit).text, font()));
    // Shown at once within its bounds of length and lines, and fitted to the
    // width when the layout has given the label the room the text asks for
    // (it is resized) or before it is drawn, whichever comes first.
    fitTo(0);
    unfitted = isVisible();
    updateGeometry();
}

void BoundedLabel::clear()
{
    setText(QString());
}

void BoundedLabel::adoptBaseText() const
{
    if (QLabel::text() == shown)
        return;
    shown = QLabel::text();
    fullText = BoundedText::cut(shown, BoundedText::toolTipLength);
    softBreaks.clear();
    cut = fullText != shown;
    naturalWidth = std::ceil(widestLine(fit(fullText, font(), 0, lineLimit).text, font()));
    unfitted = true;
}

void BoundedLabel::refit()
{
    adoptBaseText();
    // Until the label is on screen its width is not known yet; it is fitted
    // again when it is shown or resized.
    fitTo(isVisible() ? std::max(1, contentsRect().width() - 2 * margin()) : 0);
}

void BoundedLabel::fitTo(int width)
{
    const Fitted fitted = fit(fullText, font(), width, lineLimit);
    softBreaks = fitted.softBreaks;
    cut = fitted.cut;
    unfitted = false;
    if (fitted.text != shown) {
        shown = fitted.text;
        QLabel::setText(shown);
    }
    // What is left out is in the tooltip, where the user and accessibility
    // tools find it.
    const QString tip = cut ? plainToolTip(fullText) : QString();
    if (tip != toolTip())
        setToolTip(tip);
    updateMinimumHeight();
}

void BoundedLabel::updateMinimumHeight()
{
    // A minimum height given to the label overrides its minimum size hint in
    // a layout, which would then squeeze several lines into the room of one.
    // That minimum stays the floor, and lines beyond the first raise it.
    if (floorHeight < 0)
        floorHeight = minimumHeight();
    const int wanted
        = shown.contains(QLatin1Char('\n')) ? std::max(floorHeight, QLabel::minimumSizeHint().height()) : floorHeight;
    if (wanted != minimumHeight())
        setMinimumHeight(wanted);
}

BoundedLabel::Fitted BoundedLabel::fit(const QString &text, const QFont &font, int width, int maxLines)
{
    maxLines = std::max(1, maxLines);
    const QString shortened = BoundedText::cut(text, BoundedText::shownLength);
    Fitted fitted;
    fitted.cut = shortened.size() != text.size();
    QString bounded = normaliseLineEnds(shortened);
    // A line end closing the text opens no line of its own.
    while (bounded.endsWith(QLatin1Char('\n')))
        bounded.chop(1);

    const QStringList paragraphs = bounded.split(QLatin1Char('\n'));
    QStringList lines;
    QList<bool> soft;
    // Where the text goes on after the last line kept: the rest of its
    // paragraph, or nothing when a new paragraph starts there.
    QString rest;
    bool more = false;
    for (qsizetype p = 0; p < paragraphs.size() && !more; ++p) {
        const QStringList pieces
            = width > 0 ? wrapParagraph(paragraphs.at(p), font, width) : QStringList{paragraphs.at(p)};
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (lines.size() == maxLines) {
                more = true;
                if (i > 0)
                    rest = pieces.mid(i).join(QString());
                break;
            }
            lines << pieces.at(i);
            soft << (i > 0);
        }
    }
    if (more) {
        fitted.cut = true;
        QString &last = lines.last();
        if (width > 0) {
            const QFontMetrics metrics(font);
            last = rest.isEmpty() ? metrics.elidedText(last + BoundedText::ellipsis, Qt::ElideRight, width)
                                  : metrics.elidedText(last + rest, Qt::ElideRight, width);
            if (!last.endsWith(BoundedText::ellipsis))
                last += BoundedText::ellipsis;
        } else if (!last.endsWith(BoundedText::ellipsis)) {
            last += BoundedText::ellipsis;
        }
    }

    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            if (soft.at(i))
                fitted.softBreaks << fitted.text.size();
            fitted.text += QLatin1Char('\n');
        }
        fitted.text += lines.at(i);
    }
    return fitted;
}

QString BoundedLabel::breakLongWords(const QString &text, const QFont &font, int width)
{
    QStringList paragraphs = text.split(QLatin1Char('\n'));
    for (QString &paragraph : paragraphs)
        paragraph = wrapParagraph(paragraph, font, width, true).join(QLatin1Char('\n'));
    return paragraphs.join(QLatin1Char('\n'));
}

QString BoundedLabel::plainToolTip(const QString &text)
{
    if (text.isEmpty())
        return QString();
    return QStringLiteral("<p style=\"white-space:pre-wrap\">")
           + BoundedText::cut(text, BoundedText::toolTipLength).toHtmlEscaped() + QStringLiteral("</p>");
}

QSize BoundedLabel::sizeHint() const
{
    adoptBaseText();
    // As wide as the text wants, so a row with room shows it whole; as high
    // as the lines it shows now.
    const QMargins margins = contentsMargins();
    return QSize(naturalWidth + margins.left() + margins.right() + 2 * margin(), QLabel::sizeHint().height());
}

QSize BoundedLabel::minimumSizeHint() const
{
    adoptBaseText();
    const QMargins margins = contentsMargins();
    const int few = QFontMetrics(font()).horizontalAdvance(QStringLiteral("MMM") + BoundedText::ellipsis);
    return QSize(std::min(naturalWidth, few) + margins.left() + margins.right() + 2 * margin(),
                 QLabel::minimumSizeHint().height());
}

bool BoundedLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        // A text given through a QLabel pointer has its tooltip once fitted.
        adoptBaseText();
        if (unfitted)
            refit();
    } else if (event->type() == QEvent::Show) {
        const bool handled = QLabel::event(event);
        refit();
        return handled;
    }
    return QLabel::event(event);
}

void BoundedLabel::paintEvent(QPaintEvent *event)
{
    // A text given through a QLabel pointer is fitted before it is drawn.
    adoptBaseText();
    if (unfitted)
        refit();
    QLabel::paintEvent(event);
}

void BoundedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    refit();
}

void BoundedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        adoptBaseText();
        naturalWidth = std::ceil(widestLine(fit(fullText, font(), 0, lineLimit).text, font()));
        refit();
        updateGeometry();
    }
}

QString BoundedLabel::selectedOriginal() const
{
    adoptBaseText();
    const int start = selectionStart();
    if (start < 0)
        return QString();
    const qsizetype end = std::min<qsizetype>(start + selectedText().size(), shown.size());
    QString text;
    for (qsizetype i = start; i < end; ++i) {
        if (!softBreaks.contains(i))
            text += shown.at(i);
    }
    return text;
}

void BoundedLabel::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy) && hasSelectedText()) {
        QApplication::clipboard()->setText(selectedOriginal());
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void BoundedLabel::contextMenuEvent(QContextMenuEvent *event)
{
    if (!(textInteractionFlags() & Qt::TextSelectableByMouse)) {
        QLabel::contextMenuEvent(event);
        return;
    }
    // Qt's own menu of a selectable label, whose Copy would keep the line
    // ends the wrapping added; the same entries, in the same words.
    QMenu menu(this);
    QAction *copy = menu.addAction(QCoreApplication::translate("QWidgetTextControl", "&Copy"), this,
                                   [this] { QApplication::clipboard()->setText(selectedOriginal()); });
    copy->setEnabled(hasSelectedText());
    menu.addAction(QCoreApplication::translate("QWidgetTextControl", "Select All"), this,
                   [this] { setSelection(0, int(shown.size())); });
    menu.exec(event->globalPos());
}
