#include "softwarepickdialog.h"
#include "ui_softwarepickdialog.h"

#include <QCheckBox>

SoftwarePickDialog::SoftwarePickDialog(const QList<SoftwareInfo> &records, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::SoftwarePickDialog>())
    , records(records)
{
    ui->setupUi(this);
    // The list sits on the dialog's own background in either theme.
    ui->widgetSoftwareBoxes->setAutoFillBackground(false);
    ui->scrollAreaSoftware->viewport()->setAutoFillBackground(false);
    ui->labelCount->setText(QStringLiteral("目录中发现 %1 个可执行文件，请勾选要添加的：").arg(records.size()));
    // The boxes go above the spacer that keeps a short list at the top.
    const int spacerIndex = ui->verticalLayout_boxes->count() - 1;
    for (const SoftwareInfo &info : records) {
        auto *box = new QCheckBox(info.name + QStringLiteral(" (") + info.executablePath + QLatin1Char(')'),
                                  ui->widgetSoftwareBoxes);
        box->setChecked(true);
        ui->verticalLayout_boxes->insertWidget(spacerIndex + int(boxes.size()), box);
        boxes.append(box);
    }
}

SoftwarePickDialog::~SoftwarePickDialog() = default;

QList<SoftwareInfo> SoftwarePickDialog::checkedRecords() const
{
    QList<SoftwareInfo> checked;
    for (int i = 0; i < boxes.size(); ++i) {
        if (boxes.at(i)->isChecked())
            checked.append(records.at(i));
    }
    return checked;
}
