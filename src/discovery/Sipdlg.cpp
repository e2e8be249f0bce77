#include "discovery/Sipdlg.h"

#include "handover/Prompter.h"
#include "widgets/DialogPlacement.h"
#include "widgets/Ipv4AddressEdit.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace tvx {

namespace {
enum DialogState { Accepted = 1, Cancelled = 2, Refused = 5 };

Ipv4AddressEdit* makeAddressControl(QWidget* parent)
{
    errno = 0;
    return new (std::nothrow) Ipv4AddressEdit(parent);
}
} // namespace

TsIPDlg::TsIPDlg(QWidget* parent, Prompter* prompter)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), prompter_(prompter),
      controlFactory_(makeAddressControl)
{
    setObjectName(QStringLiteral("sIPDlg"));
    setWindowTitle(QStringLiteral("Search by Dialog"));
    setFixedSize(265, 135);

    GrpBox_ip = new QGroupBox(QStringLiteral("Input IP address"), this);
    GrpBox_ip->setObjectName(QStringLiteral("GrpBox_ip"));
    GrpBox_ip->setGeometry(10, 10, 247, 80);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(96, 100, 75, 25);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TsIPDlg::OKBtnClick);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(182, 100, 75, 25);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &TsIPDlg::CancelBtnClick);
}

void TsIPDlg::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOverParent(this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TsIPDlg::FormShow()
{
    delete ipControl_;
    ipControl_ = controlFactory_ ? controlFactory_(GrpBox_ip) : nullptr;
    if (!ipControl_) {
        if (prompter_)
            prompter_->showError(QStringLiteral("create ip control failed: %1").arg(errno));
        return;
    }
    ipControl_->setObjectName(QStringLiteral("ipControl"));
    ipControl_->setGeometry(40, 24, 130, 21);
    ipControl_->show();
    setTabOrder(ipControl_->field(3), OKBtn);
    ipControl_->setFieldFocus(0);
}

void TsIPDlg::OKBtnClick()
{
    ipDialogState_ = Refused;
    std::memset(ipAddressText_, 0, sizeof ipAddressText_);
    if (!ipControl_) {
        // Without an address field the caller gets no address and starts nothing.
        ipDialogState_ = Accepted;
        done(QDialog::Accepted);
        return;
    }
    const uint32_t value = ipControl_->address();
    if (value == 0 || value == 0xFFFFFFFFu) {
        if (prompter_)
            prompter_->showError(QStringLiteral("invalid IP address"));
        return;
    }
    std::snprintf(ipAddressText_, sizeof ipAddressText_, "%u.%u.%u.%u", (value >> 24) & 0xFF,
                  (value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
    ipDialogState_ = Accepted;
    done(QDialog::Accepted);
}

void TsIPDlg::CancelBtnClick()
{
    ipDialogState_ = Cancelled;
    done(QDialog::Rejected);
}

void TsIPDlg::reject()
{
    // Escape and the close box end the dialog like Cancel.
    ipDialogState_ = Cancelled;
    QDialog::reject();
}

void TsIPDlg::closeEvent(QCloseEvent* event)
{
    FormClose(event);
}

void TsIPDlg::FormClose(QCloseEvent* event)
{
    // A refused OK never reaches here: it simply leaves the dialog open, so
    // the close box always closes it.
    ipDialogState_ = Cancelled;
    QDialog::closeEvent(event);
}

} // namespace tvx
