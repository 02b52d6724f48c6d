#include "messageboxes.h"

#include "boundedlabel.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>

namespace {

// The box wraps its text between words only; a longer word is broken here,
// or it would run past the box's edge.
constexpr int wordWidth = 300;
constexpr int textLines = 12;

void run(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, QString(), QMessageBox::Ok, parent);
    // The text may be the agent's or a file's: shown as plain text, never
    // markup, and bounded, so that a huge one neither stalls the box nor
    // outgrows the screen.
    box.setTextFormat(Qt::PlainText);
    box.ensurePolished();
    const auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    const QFont font = label ? label->font() : box.font();
    box.setText(BoundedLabel::breakLongWords(BoundedLabel::fit(text, font, 0, textLines).text, font, wordWidth));
    box.exec();
}

} // namespace

namespace MessageBoxes {
void showError(QWidget *parent, const QString &text)
{
    run(parent, QMessageBox::Critical, QCoreApplication::translate("QObject", "Error"), text);
}

void showTips(QWidget *parent, const QString &text)
{
    run(parent, QMessageBox::Information, QCoreApplication::translate("QObject", "Tips"), text);
}
} // namespace MessageBoxes
