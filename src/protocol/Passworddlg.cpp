#include "protocol/Passworddlg.h"

#include "widgets/DialogPlacement.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace tvx {

TPasswordDlg::TPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PasswordDlg"));
    setWindowTitle(QStringLiteral("Password Dialog"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(233, 93);

    Label1 = new QLabel(QStringLiteral("Enter password:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(8, 9);
    Label1->adjustSize();

    Password = new QLineEdit(this);
    Password->setObjectName(QStringLiteral("Password"));
    Password->setGeometry(8, 27, 217, 21);
    Password->setMaxLength(8);
    Password->setEchoMode(QLineEdit::Password);
    Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    Password->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[\\x20-\\x7E]{0,8}")), Password));

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(70, 59, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    // Esc ends the dialog with Cancel through QDialog itself.
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(150, 59, 75, 25);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TPasswordDlg::clearPassword()
{
    Password->clear();
}

QString TPasswordDlg::password() const
{
    return Password->text();
}

void TPasswordDlg::showEvent(QShowEvent* event)
{
    centreOverParent(this);
    QDialog::showEvent(event);
    FormActivate();
}

void TPasswordDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TPasswordDlg::FormActivate()
{
    Password->setFocus(Qt::ActiveWindowFocusReason);
}

} // namespace tvx
