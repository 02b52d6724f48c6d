#include "messageboxes.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {
void run(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
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
