#include "layoutaudit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTextDocument>

namespace {

const QChar ellipsis(0x2026);

QString describe(const QWidget *widget)
{
    QString name = QLatin1String(widget->metaObject()->className());
    if (!widget->objectName().isEmpty())
        name += QLatin1Char('#') + widget->objectName();
    if (const auto *label = qobject_cast<const QLabel *>(widget)) {
        QString text = label->text();
        if (Qt::mightBeRichText(text)) {
            QTextDocument document;
            document.setHtml(text);
            text = document.toPlainText();
        }
        name += QStringLiteral(" \"") + text.left(40) + QLatin1Char('"');
    } else if (const auto *button = qobject_cast<const QAbstractButton *>(widget)) {
        name += QStringLiteral(" \"") + button->text() + QLatin1Char('"');
    }
    return name;
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QString rectText(const QRect &rect)
{
    return QStringLiteral("%1,%2 %3").arg(rect.x()).arg(rect.y()).arg(sizeText(rect.size()));
}

// The scroll area whose page `widget` is, if it is one.
const QScrollArea *pageOf(const QWidget *widget)
{
    const QWidget *viewport = widget->parentWidget();
    const auto *area = viewport ? qobject_cast<const QScrollArea *>(viewport->parentWidget()) : nullptr;
    return area && area->viewport() == viewport && area->widget() == widget ? area : nullptr;
}

// What Qt draws and places inside its own composite widgets (the cells of a
// view, a tab bar's scroll arrows) is judged through its owner.
bool insideComposite(const QWidget *widget, const QWidget *window)
{
    for (const QWidget *parent = widget->parentWidget(); parent && parent != window; parent = parent->parentWidget()) {
        if (qobject_cast<const QTabBar *>(parent))
            return true;
        const QWidget *grand = parent->parentWidget();
        if (const auto *view = qobject_cast<const QAbstractItemView *>(grand); view && view->viewport() == parent)
            return true;
    }
    return false;
}

// A page larger than its viewport is fine while the bars reach all of it.
QString unreachablePart(const QScrollArea *area, const QWidget *page)
{
    const QSize overflow = page->size() - area->viewport()->size();
    QStringList missing;
    if (overflow.height() > 0
        && (area->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOff
            || area->verticalScrollBar()->maximum() < overflow.height()))
        missing << QStringLiteral("%1 px below").arg(overflow.height());
    if (overflow.width() > 0
        && (area->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff
            || area->horizontalScrollBar()->maximum() < overflow.width()))
        missing << QStringLiteral("%1 px to the right").arg(overflow.width());
    return missing.join(QLatin1String(", "));
}

void checkPlacement(const QWidget *widget, QStringList &problems)
{
    // An empty container shows nothing to cut; a squeezed control is caught
    // by its own check.
    if (widget->width() == 0 || widget->height() == 0)
        return;
    const QWidget *parent = widget->parentWidget();
    if (const QScrollArea *area = pageOf(widget)) {
        const QString missing = unreachablePart(area, widget);
        if (!missing.isEmpty())
            problems << describe(widget) + QStringLiteral(": cannot be scrolled to (") + missing
                            + QStringLiteral(") in ") + describe(area);
        return;
    }
    const QRect inParent = widget->geometry();
    if (!parent->rect().contains(inParent))
        problems << describe(widget) + QStringLiteral(" at ") + rectText(inParent) + QStringLiteral(" is cut by ")
                        + describe(parent) + QStringLiteral(" of ") + sizeText(parent->size());
}

void checkLabel(const QLabel *label, QStringList &problems)
{
    const QString text = label->text();
    if (text.isEmpty())
        return;
    if (text.contains(ellipsis)) {
        const QString full = !label->toolTip().isEmpty() ? label->toolTip() : label->accessibleDescription();
        if (full.isEmpty() || full.contains(ellipsis))
            problems << describe(label) + QStringLiteral(": elided without its full text in a tooltip or description");
    }
    if (label->wordWrap()) {
        const int needed = label->heightForWidth(label->width());
        if (needed > label->height())
            problems << describe(label)
                            + QStringLiteral(": wrapped text needs %1 px, has %2").arg(needed).arg(label->height());
        return;
    }
    // What the label draws: a label that fits its own text to its width
    // (and puts the whole text in its tooltip) may ask for more room than it
    // needs for what it shows.
    const QSize needed = label->QLabel::sizeHint();
    if (needed.width() > label->width() || needed.height() > label->height())
        problems << describe(label) + QStringLiteral(": text needs ") + sizeText(needed) + QStringLiteral(", has ")
                        + sizeText(label->size());
}

// Buttons, boxes and fields draw their text inside: below their minimum
// size hint the text or the frame is cut.
void checkControl(const QWidget *widget, QStringList &problems)
{
    const QSize needed = widget->minimumSizeHint();
    if (needed.width() > widget->width() || needed.height() > widget->height())
        problems << describe(widget) + QStringLiteral(": squeezed to ") + sizeText(widget->size())
                        + QStringLiteral(", needs ") + sizeText(needed);
}

void checkTabBar(const QTabBar *bar, QStringList &problems)
{
    const bool horizontal = bar->shape() == QTabBar::RoundedNorth || bar->shape() == QTabBar::RoundedSouth
                            || bar->shape() == QTabBar::TriangularNorth || bar->shape() == QTabBar::TriangularSouth;
    const QSize needed = bar->sizeHint();
    if ((horizontal && needed.width() > bar->width()) || (!horizontal && needed.height() > bar->height()))
        problems << describe(bar) + QStringLiteral(": tabs need ") + sizeText(needed) + QStringLiteral(", have ")
                        + sizeText(bar->size());
}

} // namespace

QStringList layoutProblems(QWidget *window)
{
    QStringList problems;
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (widget->window() != window || !widget->isVisible() || insideComposite(widget, window))
            continue;
        checkPlacement(widget, problems);
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            checkLabel(label, problems);
        else if (qobject_cast<const QAbstractButton *>(widget) || qobject_cast<const QComboBox *>(widget)
                 || qobject_cast<const QLineEdit *>(widget))
            checkControl(widget, problems);
        else if (const auto *bar = qobject_cast<const QTabBar *>(widget))
            checkTabBar(bar, problems);
    }
    return problems;
}

bool visibleWithoutScrolling(const QWidget *widget)
{
    const QWidget *window = widget->window();
    QRect shown(widget->mapTo(window, QPoint()), widget->size());
    for (const QWidget *parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        shown &= QRect(parent->mapTo(window, QPoint()), parent->size());
        if (parent == window)
            break;
    }
    return shown == QRect(widget->mapTo(window, QPoint()), widget->size());
}
