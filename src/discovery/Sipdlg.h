#pragma once

#include <QDialog>

#include <functional>

class QGroupBox;
class QPushButton;

namespace tvx {

class Ipv4AddressEdit;
class Prompter;

// The "Search by IP" dialog: one address entry, OK and Cancel. A new, blank
// address entry is made each time the dialog opens, so an address typed last
// time never comes back. OK refuses 0.0.0.0 and 255.255.255.255 and keeps the
// dialog open; the accepted address is kept as dotted text for the caller.
class TsIPDlg : public QDialog {
    Q_OBJECT
public:
    // Makes the address entry inside its group box; null when it could not
    // be made (the dialog then opens without an address field).
    using ControlFactory = std::function<Ipv4AddressEdit*(QWidget* parent)>;

    // `prompter` shows the refusals of OK.
    explicit TsIPDlg(QWidget* parent, Prompter* prompter = nullptr);

    const char* ipAddressText() const { return ipAddressText_; }
    int ipDialogState() const { return ipDialogState_; }
    Ipv4AddressEdit* addressControl() const { return ipControl_; }

    void setPrompter(Prompter* prompter) { prompter_ = prompter; }
    void setControlFactory(ControlFactory factory) { controlFactory_ = std::move(factory); }

    void FormShow();
    void OKBtnClick();
    void CancelBtnClick();

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormClose(QCloseEvent* event);

    Prompter* prompter_;
    ControlFactory controlFactory_;
    QGroupBox* GrpBox_ip;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    Ipv4AddressEdit* ipControl_ = nullptr;

    char ipAddressText_[20] = {};
    // 1 accepted, 2 cancelled or closed, 5 the last OK was refused.
    int ipDialogState_ = 2;
};

} // namespace tvx
