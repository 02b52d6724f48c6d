#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TextBrowser;
}

class QTextBrowser;

// A small modal reader around a QTextBrowser: the log viewer and the security
// tips. Follows the end of its text while the reader is there.
class TextBrowser : public QDialog
{
    Q_OBJECT

public:
    TextBrowser(const QString &title, QWidget *parent);
    ~TextBrowser() override;

    // Markdown, re-set as HTML so links take the document's default style sheet.
    void setMarkdownText(const QString &text);
    // Replaces the text and shows its last line.
    void setPlainTextToEnd(const QString &text);
    // Adds text at the end. A reader at the end stays there; one who has
    // scrolled up keeps their place.
    void appendPlainText(const QString &text);
    // Drops whole lines from the start until at most `limit` characters remain.
    void dropOldestLines(qsizetype limit);
    // Characters held, without the document's closing paragraph separator.
    qsizetype heldCharacters() const;
    bool isFollowingEnd() const { return followingEnd; }

    QTextBrowser *browser() const;

private:
    void scrollToEnd();

    std::unique_ptr<Ui::TextBrowser> ui;
    bool followingEnd = true;
};
