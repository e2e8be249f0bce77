#include "firmware/Upgradepsswddlg.h"

#include "handover/Prompter.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace tvx {

TupgradePsswdDlg::TupgradePsswdDlg(QWidget* parent, Prompter* prompter)
    : FirmwareDialog(parent, prompter, QStringLiteral("upgradePsswdDlg"), QSize(298, 169))
{
    GrpBox_passwd = new QGroupBox(QStringLiteral("Password"), this);
    GrpBox_passwd->setObjectName(QStringLiteral("GrpBox_passwd"));
    GrpBox_passwd->setGeometry(8, 110, 201, 52);

    Label_passwd = new QLabel(QStringLiteral("password:"), GrpBox_passwd);
    Label_passwd->setObjectName(QStringLiteral("Label_passwd"));
    Label_passwd->setGeometry(12, 22, 58, 16);

    Edit_passwd = new QLineEdit(GrpBox_passwd);
    Edit_passwd->setObjectName(QStringLiteral("Edit_passwd"));
    Edit_passwd->setGeometry(72, 20, 117, 21);
    Edit_passwd->setMaxLength(8);
    Edit_passwd->setEchoMode(QLineEdit::Password);
    Edit_passwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
}

void TupgradePsswdDlg::clearPassword()
{
    Edit_passwd->clear();
}

bool TupgradePsswdDlg::checkMoreEntries()
{
    if (!Edit_passwd->text().isEmpty())
        return true;
    prompter().showError(QStringLiteral("password can't be blank"));
    return false;
}

void TupgradePsswdDlg::takeMoreEntries()
{
    firmwarePassword_ = Edit_passwd->text();
}

} // namespace tvx
