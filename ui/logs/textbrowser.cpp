#include "textbrowser.h"
#include "ui_textbrowser.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

TextBrowser::TextBrowser(const QString &title, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TextBrowser>())
{
    ui->setupUi(this);
    setWindowTitle(title);
    setFixedWidth(600);
    ui->textBrowser->document()->setDefaultStyleSheet(QStringLiteral("a{outline:none;text-decoration:underline;}"));

    // The document lays large texts out in steps, so the scroll range keeps
    // growing after the text is set: a reader at the end is kept there.
    QScrollBar *bar = ui->textBrowser->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar] {
        if (followingEnd)
            bar->setValue(bar->maximum());
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { followingEnd = value >= bar->maximum(); });
}

TextBrowser::~TextBrowser() = default;

QTextBrowser *TextBrowser::browser() const
{
    return ui->textBrowser;
}

void TextBrowser::setMarkdownText(const QString &text)
{
    ui->textBrowser->setMarkdown(text);
    const QString html = ui->textBrowser->document()->toHtml();
    ui->textBrowser->setHtml(html);
}

void TextBrowser::setPlainTextToEnd(const QString &text)
{
    ui->textBrowser->setPlainText(text);
    // The browser brings its text cursor into view when first shown; at the
    // start of the text it would scroll the reader to the top.
    ui->textBrowser->moveCursor(QTextCursor::End);
    followingEnd = true;
    scrollToEnd();
}

void TextBrowser::appendPlainText(const QString &text)
{
    if (text.isEmpty())
        return;
    const bool atEnd = followingEnd;
    QTextCursor cursor(ui->textBrowser->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    if (atEnd)
        scrollToEnd();
}

void TextBrowser::dropOldestLines(qsizetype limit)
{
    QTextDocument *document = ui->textBrowser->document();
    const qsizetype excess = heldCharacters() - limit;
    if (excess <= 0)
        return;
    // Cut after the line that holds the first character to keep.
    // A last line longer than the limit on its own is shortened instead.
    const QTextBlock last = document->findBlock(int(excess - 1));
    const qsizetype cut = last.isValid() && last.next().isValid() ? last.next().position() : excess;

    QScrollBar *bar = ui->textBrowser->verticalScrollBar();
    const bool atEnd = followingEnd;
    // The reader's place: the character at the top of the view and its height there.
    const int anchor = ui->textBrowser->cursorForPosition(QPoint(0, 0)).position();
    const int anchorTop = ui->textBrowser->cursorRect(ui->textBrowser->cursorForPosition(QPoint(0, 0))).top();

    QTextCursor cursor(document);
    cursor.setPosition(int(cut), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();

    if (atEnd) {
        scrollToEnd();
    } else if (anchor >= cut) {
        QTextCursor place(document);
        place.setPosition(int(anchor - cut));
        bar->setValue(bar->value() + ui->textBrowser->cursorRect(place).top() - anchorTop);
    } else {
        bar->setValue(bar->minimum());
    }
}

qsizetype TextBrowser::heldCharacters() const
{
    return qMax(0, ui->textBrowser->document()->characterCount() - 1);
}

void TextBrowser::scrollToEnd()
{
    followingEnd = true;
    QScrollBar *bar = ui->textBrowser->verticalScrollBar();
    bar->setValue(bar->maximum());
}
