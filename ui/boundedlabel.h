#pragma once

#include <QLabel>
#include <QList>

// A label for text from outside the program: the agent, a file, the network.
// It shows plain text only, never markup, and a bounded part of it: at most
// BoundedText::shownLength characters in at most maximumLines lines of the
// label's width. Lines wrap between words, inside a word only when it is
// wider than a line, and the last line ends in "…" when text was left out;
// the tooltip (the widget's toolTip) then holds the text, whole when it is
// reasonably short. The
// label asks for the width of its text but needs only a few characters', so
// no text can widen the window.
//
// setText, text and clear hide QLabel's own, so the call sites keep writing
// label->setText(); what QLabel::setText or clear does through a base-class
// pointer is taken over the next time the label lays out or is asked.
class BoundedLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(int maximumLines READ maximumLines WRITE setMaximumLines)

public:
    explicit BoundedLabel(QWidget *parent = nullptr);

    int maximumLines() const;
    void setMaximumLines(int lines);

    // The text as set, up to BoundedText::toolTipLength.
    QString text() const;
    // What the label shows now: the text fitted to its lines and width.
    QString shownText() const;
    // Whether part of the text is left out of what the label shows.
    bool isCut() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    struct Fitted
    {
        QString text;
        // Positions in `text` of the line ends the wrapping added.
        QList<qsizetype> softBreaks;
        bool cut = false;
    };
    // `text` fitted into `maxLines` lines `width` pixels wide in `font`; with
    // no width (0 or less), only its own line ends break it.
    static Fitted fit(const QString &text, const QFont &font, int width, int maxLines);
    // `text` with a line end inside every word wider than `width`, for a view
    // that wraps lines only between words.
    static QString breakLongWords(const QString &text, const QFont &font, int width);
    // Tooltip markup that shows `text` as plain text (a tooltip would render
    // markup in it), cut to BoundedText::toolTipLength; empty for no text.
    static QString plainToolTip(const QString &text);

public slots:
    void setText(const QString &text);
    void clear();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // Takes over a text QLabel was given behind this class's back.
    void adoptBaseText() const;
    // Fits the text to the label's width, or to none while it is not shown.
    void refit();
    void fitTo(int width);
    // The selection as the text has it, without the line ends the wrapping added.
    QString selectedOriginal() const;
    void updateMinimumHeight();

    mutable QString fullText;
    mutable QString shown;
    mutable QList<qsizetype> softBreaks;
    mutable bool cut = false;
    mutable int naturalWidth = 0;
    // A text taken over from QLabel and not fitted yet.
    mutable bool unfitted = false;
    int lineLimit = 1;
    // The minimum height the label was given (by its form), -1 until read.
    int floorHeight = -1;
};
