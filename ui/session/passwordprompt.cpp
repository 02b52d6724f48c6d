#include "passwordprompt.h"
#include "ui_passwordprompt.h"

#include <QPointer>

PasswordPrompt::PasswordPrompt(const QString &profile, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::PasswordPrompt>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->labelPrompt->setText(tr("Password for %1:").arg(profile));
    ui->lineEditPassword->setAccessibleName(tr("Password"));
    ui->lineEditPassword->setFocus(Qt::OtherFocusReason);
    setFixedSize(sizeHint());
}

PasswordPrompt::~PasswordPrompt()
{
    // The field's buffer is not left holding the password.
    ui->lineEditPassword->clear();
}

QString PasswordPrompt::password() const
{
    return ui->lineEditPassword->text();
}

std::optional<QString> PasswordPrompt::ask(QWidget *parent, const QString &profile)
{
    // The window may go while the prompt runs (quit from the tray).
    QPointer<PasswordPrompt> prompt = new PasswordPrompt(profile, parent);
    const int result = prompt->exec();
    if (!prompt)
        return std::nullopt;
    std::optional<QString> password;
    if (result == QDialog::Accepted)
        password = prompt->password();
    delete prompt;
    return password;
}
