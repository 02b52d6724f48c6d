#pragma once

#include "softwareinfo.h"

#include <QDialog>
#include <QList>

#include <memory>

namespace Ui {
class SoftwarePickDialog;
}

class QCheckBox;

// The tick list shown when a chosen directory holds several executables: one
// box per record, in the scan's order, all ticked at the start.
class SoftwarePickDialog : public QDialog
{
    Q_OBJECT

public:
    SoftwarePickDialog(const QList<SoftwareInfo> &records, QWidget *parent);
    ~SoftwarePickDialog() override;

    // The records whose boxes are ticked, in list order.
    QList<SoftwareInfo> checkedRecords() const;
    QList<QCheckBox *> checkBoxes() const { return boxes; }

private:
    std::unique_ptr<Ui::SoftwarePickDialog> ui;
    QList<SoftwareInfo> records;
    QList<QCheckBox *> boxes;
};
