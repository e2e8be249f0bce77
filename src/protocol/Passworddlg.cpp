#include "protocol/Passworddlg.h"

#include <QLineEdit>

namespace tvx {

TPasswordDlg::TPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PasswordDlg"));
    setWindowTitle(QStringLiteral("Password Dialog"));
    Password = new QLineEdit(this);
    Password->setObjectName(QStringLiteral("Password"));
    Password->setMaxLength(8);
    Password->setEchoMode(QLineEdit::Password);
}

void TPasswordDlg::clearPassword()
{
    Password->clear();
}

QString TPasswordDlg::password() const
{
    return Password->text();
}

} // namespace tvx
