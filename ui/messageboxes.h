#pragma once

#include <QString>

class QWidget;

// The application's two modal boxes: "Error" (critical) and "Tips" (information),
// each with one OK button, run with exec().
namespace MessageBoxes {
void showError(QWidget *parent, const QString &text);
void showTips(QWidget *parent, const QString &text);
} // namespace MessageBoxes
