#pragma once

#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class PasswordPrompt;
}

// Asks for a profile's password when the administrator does not let the
// program keep passwords: a small modal dialog with a masked field. The
// password is handed to the caller and not kept here.
class PasswordPrompt : public QDialog
{
    Q_OBJECT

public:
    PasswordPrompt(const QString &profile, QWidget *parent = nullptr);
    ~PasswordPrompt() override;

    QString password() const;

    // The password typed for `profile`, or nothing when the user cancels
    // (Cancel, Escape, closing the dialog).
    static std::optional<QString> ask(QWidget *parent, const QString &profile);

private:
    std::unique_ptr<Ui::PasswordPrompt> ui;
};
